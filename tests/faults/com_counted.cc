// A COM that counts: a run that initializes it and ends without
// uninitializing it exits with status 9 instead of its own.

#include <cstdlib>

#include "platform/win32.h"

namespace {

int initialized = 0;

struct CheckAtExit {
  ~CheckAtExit() {
    if (initialized != 0) std::_Exit(9);
  }
} check_at_exit;

}  // namespace

HRESULT CoInitialize(LPVOID) { return initialized++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() { --initialized; }
