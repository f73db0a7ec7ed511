// The ANSI registry calls over a Wine prefix's system.reg, held to the
// results Wine gives a 64-bit program with UTF-8 as its ANSI code page.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/registry_testing.h"
#include "platform/win32.h"
#include "tests/temp_prefix.h"

namespace {

constexpr char kUninstall[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A hive in Wine's format with the given sections below the Uninstall key.
std::string Hive(
    const std::vector<std::pair<std::string, std::string>>& sections) {
  std::string text =
      "WINE REGISTRY Version 2\n;; All keys relative to "
      "REGISTRY\\\\Machine\n\n#arch=win64\n\n";
  for (const auto& [name, body] : sections) {
    text += "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";
    if (!name.empty()) text += "\\\\" + name;
    text += "] 1796626833\n#time=1dd8618a76bb28a\n" + body + "\n";
  }
  return text;
}

// Closes the key it holds, so every test leaves no handle open.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (handle_ != nullptr) RegCloseKey(handle_);
  }
  LONG Open(HKEY parent, const char* path) {
    return RegOpenKeyExA(parent, path, 0, KEY_READ, &handle_);
  }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

struct Read {
  LONG status;
  DWORD size;
  DWORD type;
  std::string bytes;  // The whole buffer after the call.
};

// Reads a value into a buffer of `capacity` bytes pre-filled with '#'.
Read Query(HKEY key, const char* name, DWORD capacity) {
  std::string buffer(capacity, '#');
  Read read{0, capacity, 0xFFFF, {}};
  read.status =
      RegQueryValueExA(key, name, nullptr, &read.type,
                       reinterpret_cast<LPBYTE>(buffer.data()), &read.size);
  read.bytes = buffer;
  return read;
}

std::vector<std::string> Subkeys(HKEY key) {
  std::vector<std::string> names;
  char name[1024];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name - 1;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, size);
  }
  return names;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("WINEPREFIX", prefix_.path().c_str(), 1); }
  void TearDown() override { EXPECT_TRUE(ResetRegistryForTesting()); }

  void Use(const std::string& hive) {
    prefix_.WriteHive(hive);
    ASSERT_TRUE(ResetRegistryForTesting());
  }

  TempPrefix prefix_;
};

TEST_F(RegistryTest, FindsTheHiveWhereWineDoes) {
  Use(Hive({{"App", "\"DisplayName\"=\"App\"\n"}}));
  {
    Key key;
    EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  }

  // With WINEPREFIX unset or empty, the prefix is $HOME/.wine.
  TempPrefix home;
  std::filesystem::create_directory(home.path() / ".wine");
  std::filesystem::copy_file(prefix_.hive(),
                             home.path() / ".wine" / "system.reg");
  const std::string saved_home = getenv("HOME") ? getenv("HOME") : "";
  setenv("HOME", home.path().c_str(), 1);
  for (const char* prefix : std::vector<const char*>{"", nullptr}) {
    prefix ? setenv("WINEPREFIX", prefix, 1) : unsetenv("WINEPREFIX");
    ASSERT_TRUE(ResetRegistryForTesting());
    Key again;
    EXPECT_EQ(again.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  }
  setenv("HOME", saved_home.c_str(), 1);
}

TEST_F(RegistryTest, AFileThatIsNoHiveHidesEveryKey) {
  const std::string valid = Hive({{"App", "\"DisplayName\"=\"App\"\n"}});
  for (const std::string& text :
       {std::string(), std::string("WINE REGISTRY Version 1\n"),
        "WINE REGISTRY Version 2x\n" + valid.substr(24), "\n" + valid,
        " " + valid, std::string("WINE REGISTRY Version 2\r[Software] 1\r")}) {
    Use(text);
    Key key;
    EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, ""), ERROR_FILE_NOT_FOUND) << text;
  }
  // No file at all, and a directory in its place.
  std::filesystem::remove(prefix_.hive());
  ASSERT_TRUE(ResetRegistryForTesting());
  Key missing;
  EXPECT_EQ(missing.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_FILE_NOT_FOUND);
  std::filesystem::create_directory(prefix_.hive());
  ASSERT_TRUE(ResetRegistryForTesting());
  Key directory;
  EXPECT_EQ(directory.Open(HKEY_LOCAL_MACHINE, kUninstall),
            ERROR_FILE_NOT_FOUND);
}

// The hive is read once: an editor saving the file in place, or cutting it
// short, after the first call changes no answer.
TEST_F(RegistryTest, AnswersFromTheFileAsItWasFirstRead) {
  Use(Hive({{"A", "\"DisplayName\"=\"Alpha\"\n"},
            {"B", "\"DisplayName\"=\"Beta\"\n"}}));
  Key root;
  ASSERT_EQ(root.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  const auto answers = [&] {
    std::vector<std::string> seen = Subkeys(root.get());
    for (const char* name : {"A", "B"}) {
      Key key;
      if (key.Open(root.get(), name) != ERROR_SUCCESS) continue;
      seen.push_back(Query(key.get(), "DisplayName", 16).bytes);
    }
    return seen;
  };
  const std::vector<std::string> first = {"A", "B",
                                          std::string("Alpha\0##########", 16),
                                          std::string("Beta\0###########", 16)};
  EXPECT_EQ(answers(), first);
  // The same length, other bytes: names and values would read as others.
  prefix_.WriteHive(Hive({{"X", "\"DisplayName\"=\"Xenon\"\n"},
                          {"Y", "\"DisplayName\"=\"Yell\"\n"}}));
  EXPECT_EQ(answers(), first);
  std::filesystem::resize_file(prefix_.hive(), 30);
  EXPECT_EQ(answers(), first);
}

// Outside a section, an #arch line with an unknown value stops loading, even
// as the file's first; keys read before it stay.
TEST_F(RegistryTest, AnUnknownArchStopsLoading) {
  for (const char* arch : {"#arch=win99\n", "#arch=\n"}) {
    Use(std::string("WINE REGISTRY Version 2\n") + arch +
        Hive({{"App", "\"DisplayName\"=\"App\"\n"}}).substr(24));
    Key key;
    EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_FILE_NOT_FOUND)
        << arch;
  }
}

TEST_F(RegistryTest, OpensPathsAsWineDoes) {
  Use(Hive(
      {{"Implicit\\\\Child", "\"DisplayName\"=\"Child\"\n"}, {"Slash", ""}}));
  const std::string base = kUninstall;
  for (const std::string& path : std::vector<std::string>{
           base,
           std::string("software\\microsoft\\windows\\currentversion\\"
                       "uninstall"),
           std::string(
               "SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL"),
           base + "\\",
           "SOFTWARE\\\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
           base + "\\Implicit", base + "\\implicit\\CHILD"}) {
    Key key;
    EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS)
        << path;
  }
  Key key;
  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, ("\\" + base).c_str()),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, (base + "\\Missing").c_str()),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, (base + "/Slash").c_str()),
            ERROR_FILE_NOT_FOUND);

  // "" opens the same key again, under a new handle.
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  Key same;
  ASSERT_EQ(same.Open(key.get(), ""), ERROR_SUCCESS);
  EXPECT_NE(same.get(), key.get());
  EXPECT_EQ(Subkeys(same.get()),
            (std::vector<std::string>{"Implicit", "Slash"}));
}

// Raw UTF-8 anywhere in a long element is decoded, not kept as bytes: an
// invalid byte is dropped, and letters past ASCII fold as Wine folds them.
TEST_F(RegistryTest, DecodesRawUtf8InLongKeyNames) {
  Use(Hive({{"Bad\xff"
             "byte in a long name",
             ""},
            {"CAF\xc3\x89 SOFTWARE NAME", ""}}));
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  // Opened before any listing, so that the key is found by its folded
  // name's hash alone.
  Key cafe;
  EXPECT_EQ(cafe.Open(key.get(), "caf\xc3\xa9 software name"), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(key.get()),
            (std::vector<std::string>{"Badbyte in a long name",
                                      "CAF\xc3\x89 SOFTWARE NAME"}));
}

TEST_F(RegistryTest, OpensKeysBelowHeadersOfAnyLength) {
  // 300 elements of 250 bytes: the rest of each path lies more than 64 KiB
  // into its header line.
  std::string in_file = "Deep";
  std::string to_open = std::string(kUninstall) + "\\Deep";
  for (int i = 0; i < 300; ++i) {
    const std::string element(250, static_cast<char>('a' + i % 26));
    in_file += "\\\\" + element;
    to_open += "\\" + element;
  }
  Use(Hive({{in_file, "\"DisplayName\"=\"Deep\"\n"},
            {in_file + "\\\\Leaf", "\"DisplayName\"=\"Leaf\"\n"}}));
  Key deep;
  ASSERT_EQ(deep.Open(HKEY_LOCAL_MACHINE, to_open.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(Query(deep.get(), "DisplayName", 16).bytes.substr(0, 5),
            std::string("Deep\0", 5));
  EXPECT_EQ(Subkeys(deep.get()), (std::vector<std::string>{"Leaf"}));
  Key leaf;
  ASSERT_EQ(leaf.Open(deep.get(), "Leaf"), ERROR_SUCCESS);
  EXPECT_EQ(Query(leaf.get(), "DisplayName", 16).bytes.substr(0, 5),
            std::string("Leaf\0", 5));
}

// Sections before and after a header without ']', one led by a separator
// and one led by a byte past ASCII each reach the key their path names.
TEST_F(RegistryTest, SectionsBesideBrokenOrOddHeadersReachTheirKeys) {
  const std::string below =
      "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\";
  const auto section = [](const std::string& path, const std::string& name) {
    return "[" + path + "] 0\n\"DisplayName\"=\"" + name + "\"\n\n";
  };
  Use("WINE REGISTRY Version 2\n#arch=win64\n\n" + section(below + "A", "A") +
      // No ']': the header opens nothing and its value is lost.
      "[" + below + "Broken 0\n\"DisplayName\"=\"lost\"\n\n" +
      section(below + "B", "B") +
      // Led by a separator, the rest of the path waits from further on.
      section("\\\\" + below + "C", "C") +
      // Led by a byte past ASCII, the path is walked at once, from the root.
      section("\xc3\x89tude", "E") + section(below + "D", "D"));
  EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, "DisplayName", 16).status,
            ERROR_FILE_NOT_FOUND);
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  ASSERT_EQ(Subkeys(key.get()), (std::vector<std::string>{"A", "B", "C", "D"}));
  for (const char* name : {"A", "B", "C", "D"}) {
    Key sub;
    ASSERT_EQ(sub.Open(key.get(), name), ERROR_SUCCESS);
    EXPECT_EQ(Query(sub.get(), "DisplayName", 16).bytes.substr(0, 2),
              std::string(name) + '\0');
  }
  Key etude;
  ASSERT_EQ(etude.Open(HKEY_LOCAL_MACHINE, "\xc3\x89tude"), ERROR_SUCCESS);
  EXPECT_EQ(Query(etude.get(), "DisplayName", 16).bytes.substr(0, 2),
            std::string("E\0", 2));
}

// Groups of sections below one parent, each group followed by a section
// below another parent: every section reaches its own key.
TEST_F(RegistryTest, SiblingSectionsOneAfterAnotherReachTheirOwnKeys) {
  std::string text = "WINE REGISTRY Version 2\n#arch=win64\n\n";
  std::vector<std::string> paths;
  for (int run = 1; run <= 6; ++run) {
    for (int i = 0; i < run; ++i) {
      paths.push_back("Run" + std::to_string(run) + "\\\\" + std::to_string(i));
    }
    paths.push_back("After" + std::to_string(run) + "\\\\x");
  }
  for (const std::string& path : paths) {
    text += "[" + path + "] 0\n\"DisplayName\"=\"" + path + "\"\n\n";
  }
  Use(text);
  for (const std::string& path : paths) {
    std::string name = path;
    name.erase(name.find('\\'), 1);  // The file's escape.
    Key key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, name.c_str()), ERROR_SUCCESS)
        << name;
    EXPECT_EQ(
        Query(key.get(), "DisplayName", 64).bytes.substr(0, name.size() + 1),
        name + '\0');
  }
}

// The key just listed is the one its name opens, but only below its parent.
TEST_F(RegistryTest, KeysOfOneNameBelowTwoParentsStayApart) {
  Use(Hive({{"A\\\\Same", "\"DisplayName\"=\"below A\"\n"},
            {"B\\\\Same", "\"DisplayName\"=\"below B\"\n"}}));
  Key uninstall;
  ASSERT_EQ(uninstall.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  Key a;
  Key b;
  ASSERT_EQ(a.Open(uninstall.get(), "A"), ERROR_SUCCESS);
  ASSERT_EQ(b.Open(uninstall.get(), "B"), ERROR_SUCCESS);
  ASSERT_EQ(Subkeys(a.get()), std::vector<std::string>{"Same"});
  Key same;
  EXPECT_EQ(same.Open(uninstall.get(), "Same"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(same.Open(b.get(), "same"), ERROR_SUCCESS);
  EXPECT_EQ(Query(same.get(), "DisplayName", 16).bytes.substr(0, 8),
            std::string("below B\0", 8));
}

// Sections that follow each other go on below the same key only when
// their paths share the whole element, not its first bytes.
TEST_F(RegistryTest, SiblingsWhoseNamesShareAPrefixStayApart) {
  Use(Hive({{"App\\\\Sub", "\"DisplayName\"=\"short\"\n"},
            {"Appendix\\\\Sub", "\"DisplayName\"=\"long\"\n"}}));
  Key uninstall;
  ASSERT_EQ(uninstall.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(uninstall.get()),
            (std::vector<std::string>{"App", "Appendix"}));
  Key sub;
  ASSERT_EQ(sub.Open(uninstall.get(), "Appendix\\Sub"), ERROR_SUCCESS);
  EXPECT_EQ(Query(sub.get(), "DisplayName", 16).bytes.substr(0, 5),
            std::string("long\0", 5));
}

// Children of one name below many parents stay apart, however their
// places in the key table fall.
TEST_F(RegistryTest, ChildrenOfOneNameStayBelowTheirParents) {
  std::vector<std::pair<std::string, std::string>> sections;
  for (int n = 0; n < 1000; ++n) {
    const std::string parent = "P" + std::to_string(n);
    sections.emplace_back(parent + "\\\\Same",
                          "\"DisplayName\"=\"" + parent + "\"\n");
  }
  Use(Hive(sections));
  // Last first: a key found below the wrong parent shows the value of an
  // earlier section.
  for (int n = 999; n >= 0; --n) {
    const std::string parent = "P" + std::to_string(n);
    Key same;
    ASSERT_EQ(
        same.Open(HKEY_LOCAL_MACHINE,
                  (std::string(kUninstall) + "\\" + parent + "\\Same").c_str()),
        ERROR_SUCCESS)
        << parent;
    EXPECT_EQ(
        Query(same.get(), "DisplayName", 16).bytes.substr(0, parent.size() + 1),
        parent + '\0');
  }
}

TEST_F(RegistryTest, ClosedHandlesStayInvalid) {
  Use(Hive({{"App", "\"DisplayName\"=\"App\"\n"}}));
  HKEY first;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ, &first),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(first), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE);
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(
      RegEnumKeyExA(first, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
      ERROR_INVALID_HANDLE);
  EXPECT_EQ(Query(first, "DisplayName", 16).status, ERROR_INVALID_HANDLE);
  Key key;
  EXPECT_EQ(key.Open(first, "App"), ERROR_INVALID_HANDLE);

  // A new handle never takes the closed one's value.
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  EXPECT_NE(key.get(), first);
}

TEST_F(RegistryTest, EnumeratesInWinesOrderWhateverTheFileOrder) {
  // Wine orders by UTF-16 unit after folding to lower case.
  const std::vector<std::string> order = {
      " sp", "-dash", "10", "9", "[",    "^", "_x", "`",       "A",
      "Aa",  "aB",    "b",  "z", "Zeta", "{", "~z", "\xC3\xA9"};
  std::vector<std::pair<std::string, std::string>> sections;
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    std::string name = *it == "[" ? "\\[" : *it == "\xC3\xA9" ? "\\xe9" : *it;
    sections.emplace_back(name, "");
  }
  // A second spelling under the fold is the same key, named as first seen.
  sections.emplace_back("ZETA", "");
  Use(Hive(sections));
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  EXPECT_EQ(Subkeys(key.get()), order);
}

TEST_F(RegistryTest, EnumerationReportsNamesThatDoNotFit) {
  Use(Hive({{"Abcd", ""}, {"N\\0ul", ""}}));
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  char name[8];
  std::memset(name, '#', sizeof name);
  DWORD size = 4;  // "Abcd" needs 5 with its NUL.
  EXPECT_EQ(RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(name, 8), "########");
  size = 5;
  EXPECT_EQ(RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(std::string(name, 6), std::string("Abcd\0#", 6));
  // A NUL inside a key name comes back inside the returned length.
  size = 8;
  EXPECT_EQ(RegEnumKeyExA(key.get(), 1, name, &size, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, size), std::string("N\0ul", 4));
  size = 8;
  EXPECT_EQ(RegEnumKeyExA(key.get(), 2, name, &size, nullptr, nullptr, nullptr,
                          nullptr),
            ERROR_NO_MORE_ITEMS);
}

// The last write time and class of each subkey, in enumeration order.
std::vector<std::pair<std::uint64_t, std::string>> TimesAndClasses(HKEY key) {
  std::vector<std::pair<std::uint64_t, std::string>> seen;
  for (DWORD i = 0;; ++i) {
    char name[64];
    char class_name[64];
    DWORD size = sizeof name;
    DWORD class_size = sizeof class_name;
    FILETIME time;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, class_name, &class_size,
                      &time) != ERROR_SUCCESS) {
      break;
    }
    seen.emplace_back(
        std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime,
        std::string(class_name, class_size));
  }
  return seen;
}

TEST_F(RegistryTest, TimesAndClassesComeFromTheLinesNoListTakes) {
  Use(Hive(
      {{"a", "#time=10\n"},
       // The continued list takes the #time line, not the one after.
       {"b", "\"Bin\"=hex:01,\\\n#time=20\n#class=\"b\"\n"},
       // A backslash in a string continues nothing.
       {"c", "  \t#time=30\n\"Path\"=\"C:\\\\x\\\\\"\n#class=\"c\"\n"},
       {"d", "#class=\"first\"\n"},
       {"d", "#time=40\n\"Bin\"=hex:01,\\\n  02,\\\n#class=\"eaten\"\n"}}));
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  const std::uint64_t stamp = 0x1dd8618a76bb28a;
  EXPECT_EQ(TimesAndClasses(key.get()),
            (std::vector<std::pair<std::uint64_t, std::string>>{
                {0x10, ""}, {stamp, "b"}, {0x30, "c"}, {0x40, "first"}}));
}

TEST_F(RegistryTest, QueryReturnsWhatWineReturns) {
  const std::string z1022(1022, 'z'), z1023(1023, 'z');
  std::string hex1023;
  for (int i = 0; i < 1023; ++i) hex1023 += i ? ",7a,00" : "7a,00";
  Use(Hive({{"Values",
             "\"Normal\"=\"Normal App\"\n"
             "\"NoTerm\"=hex(1):4e,00,6f,00,54,00,65,00,72,00,6d,00\n"
             "\"Zero\"=hex(1):\n"
             "\"Empty\"=\"\"\n"
             "\"Odd\"=hex(1):61,00,62,00,63\n"
             "\"Fits\"=\"" +
                 z1022 +
                 "\"\n"
                 "\"TooLong\"=\"" +
                 z1023 +
                 "\"\n"
                 "\"Unterminated\"=hex(1):" +
                 hex1023 +
                 "\n"
                 "\"Expand\"=str(2):\"%ProgramFiles%\\\\App\"\n"
                 "\"Multi\"=str(7):\"one\\0two\\0\"\n"
                 "\"Dword\"=dword:00414243\n"
                 "\"Binary\"=hex:57,58,59,5a\n"
                 "\"Utf8\"=\"\\x00e9\\x65e5\\xd83d\\xde00\\xd800\"\n"}}));
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE,
                     (std::string(kUninstall) + "\\Values").c_str()),
            ERROR_SUCCESS);
  struct Row {
    const char* name;
    LONG status;
    DWORD size;
    DWORD type;
    std::string start;  // Expected first bytes of the buffer.
  };
  const Row rows[] = {
      {"Normal", ERROR_SUCCESS, 11, REG_SZ, std::string("Normal App\0#", 12)},
      {"NOTERM", ERROR_SUCCESS, 6, REG_SZ, std::string("NoTerm\0#", 8)},
      {"Zero", ERROR_SUCCESS, 0, REG_SZ, "##"},
      {"Empty", ERROR_SUCCESS, 1, REG_SZ, std::string("\0#", 2)},
      {"Odd", ERROR_SUCCESS, 2, REG_SZ, std::string("ab\0#", 4)},
      {"Fits", ERROR_SUCCESS, 1023, REG_SZ, z1022 + '\0'},
      {"TooLong", ERROR_MORE_DATA, 1024, REG_SZ, "####"},
      {"Unterminated", ERROR_SUCCESS, 1023, REG_SZ, z1023},
      {"Expand", ERROR_SUCCESS, 19, REG_EXPAND_SZ,
       std::string("%ProgramFiles%\\App\0", 19)},
      {"Multi", ERROR_SUCCESS, 9, REG_MULTI_SZ,
       std::string("one\0two\0\0#", 10)},
      {"Dword", ERROR_SUCCESS, 4, REG_DWORD, std::string("CBA\0#", 5)},
      {"Binary", ERROR_SUCCESS, 4, REG_BINARY, "WXYZ#"},
      // A lone surrogate converts to U+FFFD.
      {"Utf8", ERROR_SUCCESS, 13, REG_SZ,
       std::string("\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80\xEF\xBF\xBD\0#", 14)},
  };
  for (const Row& row : rows) {
    const Read read = Query(key.get(), row.name, 1023);
    EXPECT_EQ(read.status, row.status) << row.name;
    EXPECT_EQ(read.size, row.size) << row.name;
    EXPECT_EQ(read.type, row.type) << row.name;
    EXPECT_EQ(read.bytes.substr(0, row.start.size()), row.start) << row.name;
  }

  // A missing value changes nothing; a null buffer asks for the size.
  const Read missing = Query(key.get(), "Missing", 16);
  EXPECT_EQ(missing.status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing.size, 16u);
  DWORD size = 0;
  EXPECT_EQ(
      RegQueryValueExA(key.get(), "Normal", nullptr, nullptr, nullptr, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(size, 11u);
}

// Which line of a body gives a value: the last whose name is the one asked
// for, read with its escapes and without regard to case; a line whose name
// or '=' is malformed gives nothing.
TEST_F(RegistryTest, TheLastLineNamingAValueGivesIt) {
  const struct {
    const char* body;
    const char* name;
    const char* data;  // nullptr: no such value; "": malformed, empty.
  } rows[] = {
      {"\"DisplayName\"=\"a\"\n\"displayNAME\"=\"b\"\n", "DISPLAYNAME", "b"},
      {"\"Disp\\x6c\\x61yName\"=\"escape\"\n", "DisplayName", "escape"},
      // \x takes up to four digits: U+06CA.
      {"\"Disp\\x6cayName\"=\"four\"\n", "Disp\xdb\x8ayName", "four"},
      {"\"\\DisplayName\"=\"lead\"\n", "DisplayName", "lead"},
      {"  \"DisplayName\"=\"spaced\"\n\t\"x\"=\"tab\"", "x", "tab"},
      {"\"DisplayName\"=\"a\"\n\"DisplayName\"\n\"DisplayName\n\"\n",
       "DisplayName", "a"},
      {"\"DisplayName\"=\"cr\"\r\n#comment\ngarbage\n", "DisplayName", "cr"},
      {"\"DisplayVersion\"=\"1.0\"\n\"Display\"=\"short\"\n", "DisplayName",
       nullptr},
      {"\"DisplayVersion\"=\"1.0\"\n\"Display\"=\"short\"\n", "Display",
       "short"},
      {"@=\"default\"\n\"\"=\"empty\"\n", "", "empty"},
      {"\"\"=\"empty\"\n@=\"default\"\n", "", "default"},
      {"\"\xc3\x89\"=\"raw\"\n", "\xc3\xa9", "raw"},
      {"\"DisplayName\"=dword:00000001\n\"DisplayName\"=\"x", "DisplayName",
       ""},
  };
  for (const auto& row : rows) {
    Use(Hive({{"App", row.body}}));
    Key key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE,
                       (std::string(kUninstall) + "\\App").c_str()),
              ERROR_SUCCESS);
    const Read read = Query(key.get(), row.name, 64);
    if (row.data == nullptr) {
      EXPECT_EQ(read.status, ERROR_FILE_NOT_FOUND) << row.body;
      continue;
    }
    EXPECT_EQ(read.status, ERROR_SUCCESS) << row.body;
    if (*row.data == '\0') {
      EXPECT_EQ(read.size, 0u) << row.body;
      continue;
    }
    EXPECT_EQ(read.bytes.substr(0, std::strlen(row.data) + 1),
              std::string(row.data, std::strlen(row.data) + 1))
        << row.body;
  }
}

// A buffer of exactly the data's size, with a guard byte behind it: the
// terminator that an unterminated string gets needs room of its own.
TEST_F(RegistryTest, AReadThatFillsTheBufferWritesNoByteMore) {
  Use(Hive({{"App",
             "\"NoTerm\"=hex(1):41,00,42,00\n\"Sz\"=\"AB\"\n"
             "\"Dword\"=dword:00424241\n"}}));
  Key key;
  ASSERT_EQ(
      key.Open(HKEY_LOCAL_MACHINE, (std::string(kUninstall) + "\\App").c_str()),
      ERROR_SUCCESS);
  for (const auto& [name, size] : std::vector<std::pair<const char*, DWORD>>{
           {"NoTerm", 2}, {"Sz", 3}, {"Dword", 4}}) {
    std::vector<char> buffer(size + 1, '#');
    DWORD capacity = size;
    EXPECT_EQ(
        RegQueryValueExA(key.get(), name, nullptr, nullptr,
                         reinterpret_cast<LPBYTE>(buffer.data()), &capacity),
        ERROR_SUCCESS)
        << name;
    EXPECT_EQ(capacity, size) << name;
    EXPECT_EQ(buffer[size], '#') << name;
  }
}

TEST_F(RegistryTest, LinksOpenTheirTargets) {
  // UTF-16LE of "\Registry\Machine\Software\Target", no trailing NUL.
  auto link_to = [](const std::string& path) {
    std::string hex = "\"SymbolicLinkValue\"=hex(6):";
    char byte[8];
    for (std::size_t i = 0; i < path.size(); ++i) {
      std::snprintf(byte, sizeof byte, "%s%02x,00", i ? "," : "",
                    static_cast<unsigned char>(path[i]));
      hex += byte;
    }
    return "#link\n" + hex + "\n";
  };
  std::string hive =
      Hive({{"Link", link_to("\\REGISTRY\\Machine\\Software\\Target")},
            {"Chain", link_to("\\Registry\\Machine\\Software\\"
                              "Microsoft\\Windows\\"
                              "CurrentVersion\\Uninstall\\Link")},
            {"Broken", link_to("\\Registry\\Machine\\Missing")},
            {"User", link_to("\\Registry\\User\\Target")},
            {"Loop", link_to("\\Registry\\Machine\\Software\\"
                             "Microsoft\\Windows\\"
                             "CurrentVersion\\Uninstall\\Loop")}});
  hive +=
      "[Software\\\\Target] 1\n\"DisplayName\"=\"Target\"\n\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
      "Link\\\\Through] 1\n\"DisplayName\"=\"Through\"\n\n"
      // A "#time" line of that name alone, then the link.
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\"
      "Bare] 1\n#time\n" +
      link_to("\\Registry\\Machine\\Software\\Target");
  Use(hive);
  Key key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
  for (const char* name : {"Link", "Chain", "Bare"}) {
    Key link;
    ASSERT_EQ(link.Open(key.get(), name), ERROR_SUCCESS) << name;
    EXPECT_EQ(Query(link.get(), "DisplayName", 16).bytes.substr(0, 7),
              std::string("Target\0", 7));
    // A section below a link went to the link's target.
    EXPECT_EQ(Subkeys(link.get()), (std::vector<std::string>{"Through"}));
  }
  Key broken;
  EXPECT_EQ(broken.Open(key.get(), "Broken"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(broken.Open(key.get(), "User"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(broken.Open(key.get(), "Loop"), ERROR_INVALID_PARAMETER);

  // REG_OPTION_OPEN_LINK opens a link key itself, whose only value is its
  // target, even where that target is missing; links on the way are still
  // followed.
  const auto open_link = [&key](const char* name, HKEY* link) {
    return RegOpenKeyExA(key.get(), name, REG_OPTION_OPEN_LINK, KEY_READ, link);
  };
  for (const char* name : {"Broken", "Chain"}) {
    HKEY link = nullptr;
    ASSERT_EQ(open_link(name, &link), ERROR_SUCCESS) << name;
    EXPECT_EQ(Query(link, "DisplayName", 16).status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Query(link, "SymbolicLinkValue", 256).type, REG_LINK);
    RegCloseKey(link);
  }
  HKEY through = nullptr;
  ASSERT_EQ(open_link("Link\\Through", &through), ERROR_SUCCESS);
  EXPECT_EQ(Query(through, "DisplayName", 16).bytes.substr(0, 8),
            std::string("Through\0", 8));
  RegCloseKey(through);
}

TEST(ComTest, CountsInitializationsPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  CoUninitialize();
}

}  // namespace
