// Fuzzes the hive reader and the ANSI registry calls over what it loaded:
// every key is opened and enumerated, every value it names is read with a
// small and a large buffer and with a size query.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry_testing.h"
#include "platform/win32.h"

// Optimized, but with every assert the reader makes: an invariant that an
// input breaks is a finding like a crash.
#ifdef NDEBUG
#error "the fuzzer is built with its asserts on"
#endif

namespace {

// Values named on the lines of a hive: the fuzzer finds names by trying
// every quoted string it reads in the data.
std::vector<std::string> ValueNames(const std::uint8_t* data,
                                    std::size_t size) {
  std::vector<std::string> names = {"", "DisplayName", "SymbolicLinkValue"};
  const char* text = reinterpret_cast<const char*>(data);
  for (std::size_t i = 0; i < size && names.size() < 8; ++i) {
    if (text[i] != '"') continue;
    const void* close = std::memchr(text + i + 1, '"', size - i - 1);
    if (close == nullptr) break;
    const std::size_t end = static_cast<const char*>(close) - text;
    names.emplace_back(text + i + 1, end - i - 1);
    i = end;
  }
  return names;
}

// Links can lead back up the tree, so the walk is bounded by a count of
// keys rather than by the shape of the hive.
int keys_left = 0;

void Visit(HKEY key, const std::vector<std::string>& names) {
  if (--keys_left < 0) return;
  for (const std::string& name : names) {
    for (DWORD capacity : {DWORD{3}, DWORD{1023}}) {
      static BYTE buffer[1024];
      buffer[capacity] = 0xAB;
      DWORD size = capacity, type = 0;
      const LONG status =
          RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer, &size);
      // Nothing may be written past the capacity offered.
      if (buffer[capacity] != 0xAB) __builtin_trap();
      if (status == ERROR_SUCCESS && size > capacity) __builtin_trap();
    }
    DWORD size = 0;
    RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, &size);
  }
  char name[1024];
  for (DWORD index = 0; index < 64; ++index) {
    DWORD size = sizeof name - 1;
    FILETIME time;
    char class_name[16];
    DWORD class_size = sizeof class_name;
    const LONG status = RegEnumKeyExA(key, index, name, &size, nullptr,
                                      class_name, &class_size, &time);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    if (size >= sizeof name || name[size] != '\0') __builtin_trap();
    HKEY child;
    if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
      Visit(child, names);
      RegCloseKey(child);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (!LoadRegistryForTesting(reinterpret_cast<const char*>(data), size)) {
    __builtin_trap();  // A handle was left open.
  }
  const std::vector<std::string> names = ValueNames(data, size);
  HKEY key;
  for (const char* path :
       {"", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"}) {
    keys_left = 10;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
      Visit(key, names);
      RegCloseKey(key);
    }
  }
  return 0;
}
