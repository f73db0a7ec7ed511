#include "scan/uninstall_scan.h"

#include <cstdio>
#include <cstring>

#include "listing/display_name_list.h"

bool UninstallScanIncomplete = false;

namespace {

constexpr DWORD kCapacity = 1023;  // Of each 1024-byte buffer.

bool OutOfMemory(LONG status) {
  return status == ERROR_OUTOFMEMORY || status == ERROR_NOT_ENOUGH_MEMORY;
}

}  // namespace

void ScanUninstallKey(HKEY key) {
  char name[kCapacity + 1];
  char path[kCapacity + 1];
  char text[kCapacity + 1];
  for (DWORD index = 0;; ++index) {
    DWORD name_size = kCapacity;
    FILETIME last_write;
    const LONG listed = RegEnumKeyExA(key, index, name, &name_size, nullptr,
                                      nullptr, nullptr, &last_write);
    // The name did not fit, so the buffer holds no name of this subkey.
    if (listed == ERROR_MORE_DATA) continue;
    if (listed != ERROR_SUCCESS) {
      if (listed != ERROR_NO_MORE_ITEMS) UninstallScanIncomplete = true;
      break;
    }
    // A NUL inside the name would open some other key by the part before it.
    if (name_size > kCapacity ||
        std::memchr(name, '\0', name_size) != nullptr) {
      continue;
    }
    name[name_size] = '\0';
    std::snprintf(path, sizeof path, "%s", name);

    HKEY subkey = nullptr;
    if (const LONG opened = RegOpenKeyExA(key, path, 0, KEY_READ, &subkey);
        opened != ERROR_SUCCESS) {
      if (OutOfMemory(opened)) UninstallScanIncomplete = true;
      continue;
    }
    DWORD text_size = kCapacity;
    const LONG read =
        RegQueryValueExA(subkey, "DisplayName", nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(text), &text_size);
    RegCloseKey(subkey);
    if (OutOfMemory(read)) UninstallScanIncomplete = true;
    if (read == ERROR_SUCCESS) {
      // Only the bytes this read returned: the buffer still holds earlier
      // names, and the data need not end in a NUL.
      text[text_size < kCapacity ? text_size : kCapacity] = '\0';
      DisplayNames.Add(text);
    }
  }
}
