#include "listing/display_name_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "listing/display_name_list_testing.h"
#include "tests/stdout_capture.h"

namespace {

class DisplayNameListTest : public ::testing::Test {
 protected:
  void TearDown() override {
    list_.Clear();
    FailDisplayNameAllocationsAfter(-1);
    DisplayNameLost = false;
  }

  void AddAll(const std::vector<std::string>& names) {
    for (const std::string& name : names) list_.Add(name.c_str());
  }

  // The list's names front to back, checking each entry's own bookkeeping.
  std::vector<std::string> Listed() const {
    std::vector<std::string> names;
    for (const DisplayNameEntry* e = list_.head; e != nullptr; e = e->next) {
      EXPECT_EQ(e->length, std::strlen(e->text));
      names.emplace_back(e->text);
    }
    return names;
  }

  std::string Printed() const {
    StdoutCapture capture;
    list_.Print();
    return capture.Finish();
  }

  DisplayNameList list_;
};

using Names = std::vector<std::string>;

TEST(CompareNoCaseTest, FoldsOnlyAsciiCapitals) {
  EXPECT_EQ(CompareNoCase("Alpha", "aLPHA"), 0);
  EXPECT_EQ(CompareNoCase("", ""), 0);
  EXPECT_EQ(CompareNoCase("a", "B"), -1);
  EXPECT_EQ(CompareNoCase("b", "A"), 1);
  // Latin-1 and UTF-8 lead bytes are not letters to the fold.
  EXPECT_NE(CompareNoCase("\xC9", "\xE9"), 0);
  EXPECT_EQ(CompareNoCase("\xC9", "\xE9"), -1);
}

TEST(CompareNoCaseTest, OrdersBytesByTheirFoldedValue) {
  // 0x5B..0x60 sit between the capitals and the small letters, so after the
  // fold they order before every letter.
  for (const char* low : {"[", "\\", "]", "^", "_", "`", " ", "0", "@"}) {
    EXPECT_EQ(CompareNoCase(low, "A"), -1) << low;
    EXPECT_EQ(CompareNoCase(low, "a"), -1) << low;
  }
  for (const char* high : {"{", "|", "}", "~", "\x7F", "\x80", "\xFF"}) {
    EXPECT_EQ(CompareNoCase(high, "Z"), 1) << high;
    EXPECT_EQ(CompareNoCase(high, "z"), 1) << high;
  }
  // Bytes compare unsigned.
  EXPECT_EQ(CompareNoCase("\xC9", "zzz"), 1);
  // A prefix orders first; the empty string before everything.
  EXPECT_EQ(CompareNoCase("Office", "Office Tools"), -1);
  EXPECT_EQ(CompareNoCase("Office Tools", "OFFICE"), 1);
  EXPECT_EQ(CompareNoCase("", "\x01"), -1);
}

TEST_F(DisplayNameListTest, KeepsNamesInFoldedOrder) {
  AddAll({"beta", "Alpha", "gamma"});
  EXPECT_EQ(Listed(), (Names{"Alpha", "beta", "gamma"}));

  list_.Clear();
  AddAll({"Zeta", "~Tool", "alpha", "_Tool", "Alpha", "Office Tools", "",
          "Office", "zzz", "\xE9t\xE9", "\xC9t\xE9"});
  EXPECT_EQ(Listed(),
            (Names{"", "_Tool", "alpha", "Alpha", "Office", "Office Tools",
                   "Zeta", "zzz", "~Tool", "\xC9t\xE9", "\xE9t\xE9"}));
}

TEST_F(DisplayNameListTest, EqualNamesKeepTheOrderTheyWereAdded) {
  AddAll({"Foo", "FOO"});
  EXPECT_EQ(Listed(), (Names{"Foo", "FOO"}));

  list_.Clear();
  AddAll({"FOO", "Foo"});
  EXPECT_EQ(Listed(), (Names{"FOO", "Foo"}));

  // The second "Foo" goes after "FOO", not beside the first "Foo".
  list_.Clear();
  AddAll({"Foo", "bar", "FOO", "Foo", "zed"});
  EXPECT_EQ(Listed(), (Names{"bar", "Foo", "FOO", "Foo", "zed"}));
}

// Names that share long beginnings and differ, in byte or only in case, at
// every place around the eight-byte steps the walk takes, added in a fixed
// shuffled order: the list stands as a stable sort by the fold leaves them.
TEST_F(DisplayNameListTest, LongSharedBeginningsOrderAsTheFoldDoes) {
  Names names;
  const std::string stem = "Microsoft Visual C++ 2015 Redistributable";
  for (std::size_t at = 0; at <= 20; ++at) {
    const std::string head = stem.substr(0, at);
    for (const char* tail : {"", "a", "A", "b", "B", "_", "\xE9", " x", "ax"}) {
      names.push_back(head + tail);
      names.push_back(head + tail + stem.substr(at));
    }
  }
  Names added;
  for (std::size_t i = 0, j = 0; i < names.size(); ++i) {
    j = (j + 37) % names.size();  // 37 is prime to the count, 378.
    added.push_back(names[j]);
  }
  AddAll(added);

  Names sorted = added;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const std::string& a, const std::string& b) {
                     return CompareNoCase(a.c_str(), b.c_str()) < 0;
                   });
  EXPECT_EQ(Listed(), sorted);
}

TEST_F(DisplayNameListTest, OwnsItsCopiesAndCanBeRefilledAfterClear) {
  char buffer[16] = "Original";
  list_.Add(buffer);
  std::strcpy(buffer, "Changed");
  EXPECT_EQ(Listed(), (Names{"Original"}));
  EXPECT_NE(list_.head->text, buffer);

  list_.Clear();
  EXPECT_EQ(list_.head, nullptr);
  list_.Clear();  // Clearing an empty list does nothing.
  EXPECT_EQ(list_.head, nullptr);

  list_.Add("Again");
  EXPECT_EQ(Listed(), (Names{"Again"}));
}

TEST_F(DisplayNameListTest, PrintsEmptyListAsZeroItems) {
  EXPECT_EQ(Printed(), "0 items\r\n");
}

TEST_F(DisplayNameListTest, PrintsEveryNameWithCrLfAndACountLine) {
  // A newline inside a name reaches the output as CR LF too.
  AddAll({"beta", "Alpha", "two\nlines", ""});
  EXPECT_EQ(Printed(), "\r\nAlpha\r\nbeta\r\ntwo\r\nlines\r\n4 items\r\n");
  // Printing changes nothing, so a second report is identical.
  EXPECT_EQ(Printed(), "\r\nAlpha\r\nbeta\r\ntwo\r\nlines\r\n4 items\r\n");
  EXPECT_EQ(Printed(), Printed());
}

// Listings of many kilobytes, their line ends at every place relative to
// the blocks in which the output is translated.
TEST_F(DisplayNameListTest, PrintsLongListingsWhole) {
  for (std::size_t first = 0; first < 11; ++first) {
    list_.Clear();
    std::string expected = std::string(first, '!') + "\r\n";
    list_.Add(std::string(first, '!').c_str());
    char name[16];
    for (int i = 0; i < 1600; ++i) {
      std::snprintf(name, sizeof name, "n%08d", i);
      list_.Add(name);
      expected += std::string(name) + "\r\n";
    }
    expected += "1601 items\r\n";
    EXPECT_EQ(Printed(), expected) << first;
  }
}

TEST_F(DisplayNameListTest, PrintLeavesOutOnlyAdjacentByteIdenticalNames) {
  AddAll({"Alpha", "Alpha"});
  EXPECT_EQ(Printed(), "Alpha\r\n1 items\r\n");

  list_.Clear();
  AddAll({"A", "B", "A", "A"});
  EXPECT_EQ(Printed(), "A\r\nB\r\n2 items\r\n");

  // Case is significant to the duplicate test even though the order folds.
  list_.Clear();
  AddAll({"Foo", "foo"});
  EXPECT_EQ(Printed(), "Foo\r\nfoo\r\n2 items\r\n");

  list_.Clear();
  AddAll({"Foo", "FOO", "Foo"});
  EXPECT_EQ(Printed(), "Foo\r\nFOO\r\nFoo\r\n3 items\r\n");

  // A prefix is not a duplicate.
  list_.Clear();
  AddAll({"Office", "Office Tools"});
  EXPECT_EQ(Printed(), "Office\r\nOffice Tools\r\n2 items\r\n");
}

TEST_F(DisplayNameListTest, FailedAllocationLosesOnlyThatNameAndIsRecorded) {
  list_.Add("Kept");
  EXPECT_FALSE(DisplayNameLost);

  // The entry's allocation fails.
  FailDisplayNameAllocationsAfter(0);
  list_.Add("Lost");
  EXPECT_TRUE(DisplayNameLost);

  // The entry is allocated but its copy of the name is not; the entry must
  // be released (the leak checker watches this).
  DisplayNameLost = false;
  FailDisplayNameAllocationsAfter(1);
  list_.Add("Also lost");
  EXPECT_TRUE(DisplayNameLost);

  FailDisplayNameAllocationsAfter(-1);
  list_.Add("After");
  EXPECT_EQ(Listed(), (Names{"After", "Kept"}));
  EXPECT_EQ(Printed(), "After\r\nKept\r\n2 items\r\n");
}

std::string ShownOnTerminal(const char* text, bool utf8) {
  StdoutCapture capture;
  PrintForTerminal(text, utf8);
  return capture.Finish();
}

TEST(PrintForTerminalTest, ShowsEachControlCharacterAsOneQuestionMark) {
  // The edges of C0, DEL and C1 in UTF-8: U+001F, U+0020, U+007E, U+007F,
  // U+0080, U+009F, U+00A0.
  EXPECT_EQ(ShownOnTerminal("\x1F \x7E\x7F", true), "? ~?\r\n");
  EXPECT_EQ(ShownOnTerminal("\xC2\x80\xC2\x9F\xC2\xA0", true),
            "??\xC2\xA0\r\n");
  EXPECT_EQ(ShownOnTerminal("a\rb\nc\td\x1B[2Ke\x08", true),
            "a?b?c?d?[2Ke?\r\n");
  EXPECT_EQ(ShownOnTerminal("\x01\x1B\x7F\xC2\x9B", true), "????\r\n");
  EXPECT_EQ(ShownOnTerminal("", true), "\r\n");
  // Other characters are written whole, continuation bytes 0x80..0x9F
  // included, and a C2 that ends the name is not read past.
  EXPECT_EQ(ShownOnTerminal("Caf\xC3\xA9 \xE6\x97\xA5 \xC8\x9B", true),
            "Caf\xC3\xA9 \xE6\x97\xA5 \xC8\x9B\r\n");
  EXPECT_EQ(ShownOnTerminal("\xC2", true), "\xC2\r\n");
}

TEST(PrintForTerminalTest, OutsideUtf8EveryByteThatMayBeAC1ControlGoes) {
  EXPECT_EQ(ShownOnTerminal("\x1F\x20\x7E\x7F\x80\x9F\xA0\xFF", false),
            "? ~???\xA0\xFF\r\n");
  EXPECT_EQ(ShownOnTerminal("\xC2\x9B"
                            "2J",
                            false),
            "\xC2?2J\r\n");
}

TEST(DisplayNamesTest, TheGlobalListStartsEmpty) {
  EXPECT_EQ(DisplayNames.head, nullptr);
  EXPECT_FALSE(DisplayNameLost);
}

}  // namespace
