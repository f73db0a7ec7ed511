// Makes memory run out while the list is filled: the first two names get
// their two allocations each, the third only its entry.

#include "listing/display_name_list_testing.h"

namespace {
const bool armed = (FailDisplayNameAllocationsAfter(5), true);
}  // namespace
