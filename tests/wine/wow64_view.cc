// The listing a 32-bit program gets under Wine from a 64-bit prefix, worked
// out from system.reg with the Linux registry layer: the tests' own answer
// for the 32-bit Windows build, which differs from the Linux build only in
// which keys it opens.
//
//   wow64_view [--64]
//
// Wine's 32-bit view, as observed with Wine 10 (each point is held by a
// case in tests/wine/wow64.py):
// - Going down a path, a key that has a subkey named Wow6432Node, in any
//   letter case, is left for that subkey, unless the next element is
//   itself Wow6432Node.  Software usually has one, so 32-bit programs see
//   Software\Wow6432Node\Microsoft\...; where Software has none they see
//   the 64-bit keys.
// - The key finally opened is left for its Wow6432Node the same way, once:
//   an entry with a Wow6432Node subkey is read from that subkey.
// - A link's target is followed as it is written, without redirection;
//   below the target the rule goes on.  A Wow6432Node that is itself a link
//   is not followed: the key is left for the link key, values and all.
// - Enumerating a key lists its own subkeys; no redirection takes part.
//
// --64 opens every key as it is named, which must give exactly the Linux
// build's listing: that holds this program's walk to the real scan.

#include <cstdio>
#include <cstring>
#include <string>

#include "listing/display_name_list.h"
#include "platform/win32.h"

namespace {

constexpr DWORD kCapacity = 1023;
constexpr char kWow64Node[] = "Wow6432Node";
constexpr char kUninstall[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool redirect = true;

// The Wow6432Node subkey of `key`, or null where it has none.
HKEY Wow64Node(HKEY key) {
  HKEY wow = nullptr;
  if (!redirect || RegOpenKeyExA(key, kWow64Node, REG_OPTION_OPEN_LINK,
                                 KEY_READ, &wow) != ERROR_SUCCESS) {
    return nullptr;
  }
  return wow;
}

// Opens `path` below `from` one element at a time, as a 32-bit program's
// open does.  Returns null where the 32-bit view has no such key.
HKEY Open(HKEY from, const std::string& path) {
  HKEY key = from;  // Closed when left, unless it is `from`.
  const auto leave = [from](HKEY left) {
    if (left != from && left != HKEY_LOCAL_MACHINE) RegCloseKey(left);
  };
  const auto redirected = [&leave](HKEY& at) {
    if (HKEY wow = Wow64Node(at)) {
      leave(at);
      at = wow;
    }
  };
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    const std::string element = path.substr(start, end - start);
    if (CompareNoCase(element.c_str(), kWow64Node) != 0) redirected(key);
    HKEY next = nullptr;
    const LONG opened = RegOpenKeyExA(key, element.c_str(), 0, KEY_READ, &next);
    leave(key);
    if (opened != ERROR_SUCCESS) return nullptr;
    key = next;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  redirected(key);
  return key;
}

}  // namespace

int main(int argc, char** argv) {
  redirect = !(argc > 1 && std::strcmp(argv[1], "--64") == 0);
  HKEY root = Open(HKEY_LOCAL_MACHINE, kUninstall);
  if (root == nullptr) {
    std::printf("Cannot open HKLM\\%s\n", kUninstall);
    return 1;
  }
  // The scan's walk, with each subkey opened through the view.
  char name[kCapacity + 1];
  char text[kCapacity + 1];
  bool incomplete = false;
  for (DWORD index = 0;; ++index) {
    DWORD name_size = kCapacity;
    FILETIME written;
    const LONG listed = RegEnumKeyExA(root, index, name, &name_size, nullptr,
                                      nullptr, nullptr, &written);
    if (listed == ERROR_MORE_DATA) continue;
    if (listed != ERROR_SUCCESS) {
      incomplete = listed != ERROR_NO_MORE_ITEMS;
      break;
    }
    if (std::memchr(name, '\0', name_size) != nullptr) continue;
    HKEY entry = Open(root, std::string(name, name_size));
    if (entry == nullptr) continue;
    DWORD text_size = kCapacity;
    const LONG read =
        RegQueryValueExA(entry, "DisplayName", nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(text), &text_size);
    RegCloseKey(entry);
    if (read == ERROR_SUCCESS) {
      text[text_size < kCapacity ? text_size : kCapacity] = '\0';
      DisplayNames.Add(text);
    }
  }
  RegCloseKey(root);
  DisplayNames.Print();
  DisplayNames.Clear();
  return incomplete || DisplayNameLost ? 2 : 0;
}
