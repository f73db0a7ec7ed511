// A COM that fails to start, linked into a test build of the program in
// place of the platform's: no real input can make CoInitialize fail.

#include <cstdlib>

#include "platform/win32.h"

HRESULT CoInitialize(LPVOID) { return E_FAIL; }

// Nothing was initialized, so nothing may be uninitialized.
void CoUninitialize() { std::abort(); }
