// The least a run of lsinstalled can cost, whatever its reader does: the
// hive read into memory as the program reads it, and the names listed as
// the program lists them, with nothing parsed.  The names come one per line
// from the file given, in the order the registry enumerates their keys.
//
//   WINEPREFIX=DIR listing_floor NAMES

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "listing/display_name_list.h"
#include "platform/hive_bytes_posix.h"

int main(int argc, char** argv) {
  const char* const prefix = std::getenv("WINEPREFIX");
  if (argc != 2 || prefix == nullptr) {
    std::fprintf(stderr, "usage: WINEPREFIX=DIR listing_floor NAMES\n");
    return 1;
  }
  registry::HiveBytes hive;
  const std::string path = std::string(prefix) + "/system.reg";
  if (!registry::HiveBytes::ReadFile(path.c_str(), &hive)) return 1;
  std::FILE* const names = std::fopen(argv[1], "r");
  if (names == nullptr) return 1;
  // The buffer the program reads each value into.
  char text[1024];
  while (std::fgets(text, sizeof text, names) != nullptr) {
    text[std::strcspn(text, "\n")] = '\0';
    DisplayNames.Add(text);
  }
  std::fclose(names);
  DisplayNames.Print();
  DisplayNames.Clear();
  return std::fflush(stdout) == 0 && !DisplayNameLost ? 0 : 2;
}
