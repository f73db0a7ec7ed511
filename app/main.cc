// lsinstalled: lists the display names of the software registered for
// removal under HKEY_LOCAL_MACHINE, one per line, with a count line.

#include <cstdio>

#include "listing/display_name_list.h"
#include "platform/win32.h"
#include "scan/uninstall_scan.h"

namespace {

constexpr char kUninstallKeyPath[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Exit statuses.
constexpr int kListed = 0;
constexpr int kStartFailed = 1;
// Memory ran out, the walk was cut short, or stdout failed.
constexpr int kIncomplete = 2;

}  // namespace

// Takes no arguments: whatever stands on the command line is ignored.
int main() {
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("Failed to initialize COM runtime\n");
    return kStartFailed;
  }
  HKEY root = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ,
                    &root) != ERROR_SUCCESS ||
      root == nullptr) {
    std::printf("Cannot open HKLM\\%s\n", kUninstallKeyPath);
    CoUninitialize();
    return kStartFailed;
  }
  ScanUninstallKey(root);
  RegCloseKey(root);
  DisplayNames.Print();
  DisplayNames.Clear();
  CoUninitialize();

  const bool written = std::fflush(stdout) == 0 && !std::ferror(stdout);
  return written && !DisplayNameLost && !UninstallScanIncomplete ? kListed
                                                                 : kIncomplete;
}
