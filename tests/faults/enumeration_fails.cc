// Makes the enumeration of the second subkey fail with an error other than
// the end of the list, which no file can cause.

#include "platform/registry_testing.h"
#include "platform/win32.h"

namespace {
const bool armed = (FailEnumerationForTesting(1, ERROR_INVALID_HANDLE), true);
}  // namespace
