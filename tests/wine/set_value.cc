// Stores what Wine's own registry tools cannot: string values without a
// terminator, of odd length or of no bytes at all, and link keys.  Built for
// Windows only, run under Wine by differential.py.
//
//   set_value KEY NAME TYPE DATA    sets value NAME of type TYPE (decimal)
//   set_value --link KEY TARGET     makes KEY a link to the key TARGET
//   set_value --delete-link KEY     deletes the link KEY itself, which a
//                                   delete by path would take for its target
//
// KEY is a path below HKEY_LOCAL_MACHINE; every text and DATA are given as
// hex bytes (KEY, NAME and TARGET in UTF-16LE), so any unit can be passed.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32.h"

namespace {

std::string FromHex(const char* hex) {
  std::string bytes;
  for (; hex[0] != '\0' && hex[1] != '\0'; hex += 2) {
    const char pair[3] = {hex[0], hex[1], '\0'};
    bytes.push_back(static_cast<char>(std::strtoul(pair, nullptr, 16)));
  }
  return bytes;
}

std::wstring Wide(const std::string& utf16le) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < utf16le.size(); i += 2) {
    text.push_back(
        static_cast<wchar_t>(static_cast<unsigned char>(utf16le[i]) |
                             static_cast<unsigned char>(utf16le[i + 1]) << 8));
  }
  return text;
}

int Fail(const char* what, LONG status) {
  std::fprintf(stderr, "set_value: %s failed with %ld\n", what,
               static_cast<long>(status));
  return 1;
}

}  // namespace

int DeleteLink(const char* hex_path) {
  HKEY key;
  LONG status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(FromHex(hex_path)).c_str(),
                    REG_OPTION_OPEN_LINK, DELETE | KEY_READ, &key);
  if (status != ERROR_SUCCESS) return Fail("RegOpenKeyExW", status);
  status = RegDeleteKeyW(key, L"");
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : Fail("RegDeleteKeyW", status);
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--delete-link") {
    return DeleteLink(argv[2]);
  }
  const bool link = argc == 4 && std::string(argv[1]) == "--link";
  if (!link && argc != 5) {
    std::fprintf(stderr,
                 "usage: set_value KEY NAME TYPE DATA\n"
                 "       set_value --link KEY TARGET\n"
                 "       set_value --delete-link KEY\n");
    return 2;
  }
  const std::wstring key_path = Wide(FromHex(argv[link ? 2 : 1]));
  HKEY key;
  LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_path.c_str(), 0,
                                nullptr, link ? REG_OPTION_CREATE_LINK : 0,
                                KEY_ALL_ACCESS | (link ? KEY_CREATE_LINK : 0),
                                nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return Fail("RegCreateKeyExW", status);

  // The data is followed in memory by units that are not NUL, so nothing
  // can take a terminator from beyond the given bytes.
  std::string data = link ? FromHex(argv[3]) : FromHex(argv[4]);
  const DWORD size = static_cast<DWORD>(data.size());
  data += "XXXX";
  const std::wstring name =
      link ? L"SymbolicLinkValue" : Wide(FromHex(argv[2]));
  const DWORD type =
      link ? REG_LINK : static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
  status = RegSetValueExW(key, name.c_str(), 0, type,
                          reinterpret_cast<const BYTE*>(data.data()), size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : Fail("RegSetValueExW", status);
}
