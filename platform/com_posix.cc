// Stands in for ole32's CoInitialize and CoUninitialize.  There is no COM to
// start here; the calls keep the per-thread count that decides between S_OK
// and S_FALSE, as the real ones do.

#include "platform/win32.h"

namespace {
thread_local unsigned com_initializations = 0;
}  // namespace

HRESULT CoInitialize(LPVOID) {
  return com_initializations++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (com_initializations > 0) --com_initializations;
}
