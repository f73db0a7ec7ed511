// The walk over the Uninstall key, on real hives, with the enumeration
// failures that no hive can cause injected.

#include "scan/uninstall_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "listing/display_name_list.h"
#include "platform/registry_testing.h"

namespace {

constexpr char kHive[] =
    "WINE REGISTRY Version 2\n#arch=win64\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A]\n"
    "\"DisplayName\"=\"Alpha\"\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\B]\n"
    "\"Publisher\"=\"No display name\"\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\C]\n"
    "\"DisplayName\"=hex(1):\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\D]\n"
    "\"DisplayName\"=hex(1):44,00,65,00\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\E]\n"
    "\"DisplayName\"=\"Epsilon\"\n";

class UninstallScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadRegistryForTesting(kHive, sizeof kHive - 1));
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                            "Uninstall",
                            0, KEY_READ, &key_),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(key_);
    DisplayNames.Clear();
    ResetRegistryForTesting();
    UninstallScanIncomplete = false;
  }

  std::vector<std::string> Scanned() {
    ScanUninstallKey(key_);
    std::vector<std::string> names;
    for (auto* e = DisplayNames.head; e != nullptr; e = e->next) {
      names.emplace_back(e->text);
    }
    return names;
  }

  HKEY key_ = nullptr;
};

TEST_F(UninstallScanTest, TakesEachNameFromItsOwnReadOnly) {
  // C's empty value comes right after A's name was read into the same
  // buffer, and D's has no terminator: neither may show A's bytes.
  EXPECT_EQ(Scanned(),
            (std::vector<std::string>{"", "Alpha", "De", "Epsilon"}));
  EXPECT_FALSE(UninstallScanIncomplete);
}

TEST_F(UninstallScanTest, SkipsAnIndexWhoseNameDidNotFit) {
  // The buffer then still holds the previous subkey's name.
  FailEnumerationForTesting(1, ERROR_MORE_DATA);
  FailEnumerationForTesting(3, ERROR_MORE_DATA);
  EXPECT_EQ(Scanned(), (std::vector<std::string>{"", "Alpha", "Epsilon"}));
  EXPECT_FALSE(UninstallScanIncomplete);
}

// The names found so far stay, and the walk is known to be cut short.
TEST_F(UninstallScanTest, AnyOtherEnumerationFailureEndsTheWalk) {
  FailEnumerationForTesting(3, ERROR_INVALID_HANDLE);
  EXPECT_EQ(Scanned(), (std::vector<std::string>{"", "Alpha"}));
  EXPECT_TRUE(UninstallScanIncomplete);
}

TEST_F(UninstallScanTest, RunningOutOfMemoryEndsTheWalkIncomplete) {
  FailEnumerationForTesting(2, ERROR_OUTOFMEMORY);
  EXPECT_EQ(Scanned(), (std::vector<std::string>{"Alpha"}));
  EXPECT_TRUE(UninstallScanIncomplete);
}

}  // namespace
