// Initializes COM on the main thread before main runs, as a host that
// already uses COM would have.

#include "platform/win32.h"

namespace {
const bool com_started = SUCCEEDED(CoInitialize(nullptr));
}  // namespace
