// The grammar of Wine's registry file on single lines: a value line in, its
// type and bytes out, or nothing when Wine creates no value.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "platform/case_fold.h"
#include "platform/hive_grammar_posix.h"

namespace {

using registry::Value;

struct Parsed {
  std::optional<Value> value;  // None when the line creates no value.
  std::string name;            // UTF-8.
  std::string rest;            // The lines that the value did not eat.
};

// Reads the value line that `text` starts with, and any line it continues on.
Parsed ParseLine(std::string_view text) {
  registry::Lines lines(text.data(), text.data() + text.size());
  registry::Line line;
  Parsed parsed;
  if (!lines.Next(&line)) return parsed;
  const char* p = registry::SkipSpace(line.begin, line.end);
  std::u16string name;
  if (const char* data = registry::ParseValueName(p, line.end, &name)) {
    Value value;
    registry::ParseValueData(data, line.end, &lines, &value);
    parsed.value = value;
    parsed.name = registry::Utf16ToUtf8(name);
  }
  parsed.rest = std::string(lines.position(), text.data() + text.size());
  return parsed;
}

std::string Utf16(std::u16string_view units) {
  std::string bytes;
  for (const char16_t unit : units) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

// The line's value as "type:bytes", or "none" when it makes no value.
std::string Data(std::string_view text) {
  const Parsed parsed = ParseLine(text);
  if (!parsed.value) return "none";
  return std::to_string(parsed.value->type) + ":" + parsed.value->data;
}

std::string Sz(std::u16string_view units) {
  return "1:" + Utf16(units) + std::string(2, '\0');
}

const std::string kMalformed = "0:";  // Created, as type 0 with no data.

TEST(HiveGrammarTest, ValueNames) {
  EXPECT_EQ(ParseLine("\"Name\"=\"x\"").name, "Name");
  EXPECT_EQ(ParseLine("@=\"x\"").name, "");
  EXPECT_EQ(ParseLine("\"\"=\"x\"").name, "");
  EXPECT_EQ(ParseLine("\"a\\\"b\\\\c\\x41\"=\"x\"").name, "a\"b\\cA");
  // White space of the whole isspace class around the '='.
  EXPECT_EQ(ParseLine("\v\f\r \"n\"\t\v=\f\r\"x\"").name, "n");
  for (const char* line : {"\"DisplayName=\"x\"", "\"n\" x=\"y\"", "\"n\"",
                           "\"unterminated=\"x", "@ x=\"y\""}) {
    EXPECT_FALSE(ParseLine(line).value) << line;
  }
}

// MatchValueName agrees with ParseValueName and EqualFolded on every form,
// plain or not, of the length asked for, shorter or longer.
TEST(HiveGrammarTest, AValueNameMatchesWhenItsDecodedNameIsEqualUnderTheFold) {
  for (const char* line : {"\"DisplayName\"=\"x\"",
                           "\"displayNAME\" = \"x\"",
                           "@=\"x\"",
                           "\"\"=\"x\"",
                           "\"Display\\x4eame\"=\"x\"",
                           "\"Display\\Name\"=\"x\"",
                           "\"Display\\\"ame\"=\"x\"",
                           "\"DisplayNam\\xe9\"=\"x\"",
                           "\"Displ\xc3\xa4yName\"=\"x\"",
                           "\"DisplayNames\"=\"x\"",
                           "\"Display\"=\"x\"",
                           "\"DisplayName=\"x\"",
                           "\"DisplayName\" x",
                           "\"Display\\\\Name\"=\"x\"",
                           "\"Dis\\x70layName\"=1",
                           "\"\xc4\xb0\"=\"x\"",
                           "\"i\"=\"x\"",
                           "\"DisplayName\xc0\"=\"x\"",
                           "\"Display\xc0Name\"=\"x\"",
                           "\"DisplayName"}) {
    const std::string_view text(line);
    for (const std::u16string_view name :
         {std::u16string_view(u"DisplayName"), std::u16string_view(u""),
          std::u16string_view(u"Display\"ame"), std::u16string_view(u"i"),
          std::u16string_view(u"Displ\u00e4yName")}) {
      std::u16string parsed;
      const char* expected_data = registry::ParseValueName(
          text.data(), text.data() + text.size(), &parsed);
      const bool same =
          expected_data != nullptr && registry::EqualFolded(parsed, name);
      EXPECT_EQ(registry::MatchValueName(text.data(), text.data() + text.size(),
                                         name),
                same ? expected_data : nullptr)
          << line;
    }
  }
}

TEST(HiveGrammarTest, StringForms) {
  EXPECT_EQ(Data("@=\"text\""), Sz(u"text"));
  EXPECT_EQ(Data("@=str:\"text\""), Sz(u"text"));
  EXPECT_EQ(Data("@=str(2):\"%P%\""), "2:" + Utf16(u"%P%") + '\0' + '\0');
  EXPECT_EQ(Data("@=str(7):\"a\\0b\\0\""),
            "7:" + Utf16(std::u16string(u"a\0b\0\0", 5)));
  EXPECT_EQ(Data("@=\"after\" junk"), Sz(u"after"));
  for (const char* line : {"@=\"unterminated", "@=str(1):\"x\"", "@=sz:\"x\"",
                           "@=junk", "@=", "@=str(2)\"x\""}) {
    EXPECT_EQ(Data(line), kMalformed) << line;
  }
  // Plain strings of every length around the steps they are widened in.
  std::string text;
  std::u16string units;
  for (int size = 0; size <= 40; ++size) {
    EXPECT_EQ(Data("@=\"" + text + "\""), Sz(units)) << text;
    text.push_back(static_cast<char>(' ' + size * 7 % 95));
    if (text.back() == '"' || text.back() == '\\') text.back() = '.';
    units.push_back(static_cast<unsigned char>(text.back()));
  }
}

TEST(HiveGrammarTest, Escapes) {
  const auto units = [](std::string_view body) {
    const Parsed parsed = ParseLine("@=\"" + std::string(body) + "\"");
    std::u16string text;
    for (std::size_t i = 0; i + 3 < parsed.value->data.size() + 1; i += 2) {
      text.push_back(static_cast<char16_t>(
          static_cast<unsigned char>(parsed.value->data[i]) |
          static_cast<unsigned char>(parsed.value->data[i + 1]) << 8));
    }
    return text;
  };
  EXPECT_EQ(units("\\a\\b\\t\\n\\v\\f\\r\\e"), u"\a\b\t\n\v\f\r\x1b");
  EXPECT_EQ(units("\\\\\\\"\\q\\["), u"\\\"q[");
  // At most four hex digits; none gives the 'x' itself.
  EXPECT_EQ(units("\\x"), u"x");
  EXPECT_EQ(units("\\xg"), u"xg");
  EXPECT_EQ(units("\\x4"), u"\x4");
  EXPECT_EQ(units("\\x00e9"), u"\u00e9");
  EXPECT_EQ(units("\\x0after"), u"\u00after");
  EXPECT_EQ(units("\\x0041A"), u"AA");
  // Octal: up to three digits.
  EXPECT_EQ(units("\\101\\0017\\18\\400"),
            u"A\x01"
            u"7\x01"
            u"8\u0100");
  // Raw UTF-8, with a backslash before it too; bad bytes are dropped.
  EXPECT_EQ(units("caf\xc3\xa9 \\\xc3\xa9"), u"caf\u00e9 \u00e9");
  EXPECT_EQ(units("a\xff"
                  "b\xc3(c\xc0\x80"
                  "d"),
            u"ab(cd");
  EXPECT_EQ(units("\xed\xa0\x80\xf0\x9f\x98\x80"), u"\xd800\U0001F600");
  EXPECT_EQ(units("\xf4\x90\x80\x80z"), u"z");
}

TEST(HiveGrammarTest, Numbers) {
  const auto number = [](std::string_view text) -> std::optional<uint64_t> {
    std::uint64_t value = 0;
    if (!registry::ParseNumber(text.data(), text.data() + text.size(),
                               &value)) {
      return std::nullopt;
    }
    return value;
  };
  EXPECT_EQ(number("2a"), 0x2au);
  EXPECT_EQ(number(" \t\v\f\r+0x2A"), 0x2au);
  EXPECT_EQ(number("-1"), UINT64_MAX);
  EXPECT_EQ(number("-2"), UINT64_MAX - 1);
  EXPECT_EQ(number("ffffffffffffffff"), UINT64_MAX);
  EXPECT_EQ(number("1000000000000000"), 0x1000000000000000u);
  // Leading zeros count for nothing.
  EXPECT_EQ(number("000000000000000000001000000000000000"),
            0x1000000000000000u);
  EXPECT_EQ(number("00000000000000000000"), 0u);
  // Too large for 64 bits: all ones, whatever the sign.
  EXPECT_EQ(number("10000000000000000"), UINT64_MAX);
  EXPECT_EQ(number("-10000000000000000"), UINT64_MAX);
  EXPECT_EQ(number("0xg"), 0u);  // The "0", as strtoul reads it.
  EXPECT_EQ(number(""), std::nullopt);
  EXPECT_EQ(number("-"), std::nullopt);
  EXPECT_EQ(number("zz"), std::nullopt);

  EXPECT_EQ(Data("@=dword:0000002a"), std::string("4:*\0\0\0", 6));
  EXPECT_EQ(Data("@=dword:123456789"), std::string("4:\x89\x67\x45\x23", 6));
  EXPECT_EQ(Data("@=dword:-10000000000000000"), "4:\xff\xff\xff\xff");
  EXPECT_EQ(Data("@=dword:junk"), std::string("4:\0\0\0\0", 6));
  EXPECT_EQ(Data("@=dword:"), std::string("4:\0\0\0\0", 6));
}

TEST(HiveGrammarTest, HexTypes) {
  EXPECT_EQ(Data("@=hex:41"), "3:A");
  EXPECT_EQ(Data("@=hex(7):41"), "7:A");
  EXPECT_EQ(Data("@=hex( 1):41"), "1:A");
  EXPECT_EQ(Data("@=hex(0x2):41"), "2:A");
  EXPECT_EQ(Data("@=hex(-1):41"), "4294967295:A");
  EXPECT_EQ(Data("@=hex():41"), "0:A");
  EXPECT_EQ(Data("@=hex(4):"), "4:");
  for (const char* line :
       {"@=hex(z):41", "@=hex(1:41", "@=hex(1 ):41", "@=hex41", "@=hex(1)41"}) {
    EXPECT_EQ(Data(line), kMalformed) << line;
  }
}

TEST(HiveGrammarTest, HexLists) {
  EXPECT_EQ(Data("@=hex:41,42"), "3:AB");
  EXPECT_EQ(Data("@=hex:0x41,041,4"), "3:AA\x04");
  // Separated by a comma, white space or both.
  EXPECT_EQ(Data("@=hex:41 42\t43\v44"), "3:ABCD");
  EXPECT_EQ(Data("@=hex:41 , 42,\f43,"), "3:ABC");
  EXPECT_EQ(Data("@=hex:41,42\r\v"), "3:AB");
  // The first byte follows the colon directly; no sign, no byte over ff,
  // no empty byte between commas, nothing after the list.
  for (const char* line :
       {"@=hex: 41", "@=hex:\t41", "@=hex:42,+41", "@=hex:-1", "@=hex:100",
        "@=hex:41,,42", "@=hex:41,42 junk", "@=hex:zz", "@=hex:,41"}) {
    EXPECT_EQ(Data(line), kMalformed) << line;
  }
}

TEST(HiveGrammarTest, ContinuationLines) {
  // A backslash after the list goes on with the next line, whatever follows
  // it; that line's own white space is skipped.
  for (const char* text :
       {"@=hex:41,\\\n  42\nnext", "@=hex:41\\\n42\nnext",
        "@=hex:41,\\ junk\n\v\f42\nnext", "@=hex:41,\\\r\r\n42\nnext",
        "@=hex:41,\\\\\n  42\nnext", "@=hex:41 \\\n 42\nnext"}) {
    const Parsed parsed = ParseLine(text);
    EXPECT_EQ(parsed.value->data, "AB") << text;
    EXPECT_EQ(parsed.rest, "next") << text;
  }
  // An empty continuation line ends the list; a section line is eaten as
  // data, and on the last line the value is malformed.
  Parsed parsed = ParseLine("@=hex:41,\\\n\n\"n\"=\"x\"");
  EXPECT_EQ(parsed.value->data, "A");
  EXPECT_EQ(parsed.rest, "\"n\"=\"x\"");
  parsed = ParseLine("@=hex:41,\\\n[Section] 1\n\"n\"=\"x\"");
  EXPECT_EQ(parsed.value->type, REG_NONE);
  EXPECT_EQ(parsed.rest, "\"n\"=\"x\"");
  EXPECT_EQ(Data("@=hex:41,\\"), kMalformed);
  // A string never goes on.
  EXPECT_EQ(ParseLine("@=\"x\\\\\"\\\nnext").rest, "next");
}

TEST(HiveGrammarTest, StepsOverTheLinesAValueEats) {
  const auto rest = [](std::string_view text) {
    registry::Lines lines(text.data(), text.data() + text.size());
    registry::Line line{};
    EXPECT_TRUE(lines.Next(&line));
    registry::StepOverValue(line.begin, line.end, &lines);
    return std::string(lines.position(), text.data() + text.size());
  };
  EXPECT_EQ(rest("\"n\"=hex:41,\\ junk\n42\n[next"), "[next");
  EXPECT_EQ(rest("\"a\\\\b\"=hex:41,\\\n42\n#next"), "#next");
  EXPECT_EQ(rest("\"n\"=hex(7):41,\\\n42\n\"next"), "\"next");
  EXPECT_EQ(rest("\"n\"=hex:41,\\\n\"x\"=hex:42,\\\n@next"), "@next");
  EXPECT_EQ(rest("\"n\"=hex:zz,\\\n[next"), "[next");
  EXPECT_EQ(rest("\"n\"=\"C:\\\\dir\\\\\"\n[next"), "[next");
  EXPECT_EQ(rest("#time=1\\\n[next"), "[next");
  // Lines that start with nothing of their own may be taken either way; a
  // list that ends before them leaves the next line that does to the caller.
  EXPECT_EQ(rest("\"n\"=hex:41,\\\n42,\\\n43\n[next"), "[next");
  EXPECT_EQ(rest("\"n\"=hex:zz,\\\n42,\\\n[next"), "42,\\\n[next");
  EXPECT_EQ(rest("\"n\"=hex:41,\\\n42,zz\\\n[next"), "[next");
  EXPECT_EQ(rest("\"n\"=hex:41,\\\n  \n[next"), "[next");
}

// The first line from `lines` that counts for a reader that steps over
// values: one that starts, after white space, a section, an option or a
// value; the text's end when none does.
const char* NextCountingLine(registry::Lines lines, const char* end) {
  registry::Line line{};
  while (lines.Next(&line)) {
    const char* p = registry::SkipSpace(line.begin, line.end);
    if (p != line.end &&
        std::string_view("[#\"@").find(*p) != std::string_view::npos) {
      return line.begin;
    }
  }
  return end;
}

// Stepping over a value ends where parsing it does, as far as a line that
// counts can tell: on every recorded hive, every fuzzing seed, and random
// lists with broken digits, text after backslashes and lines that count.
TEST(HiveGrammarTest, SteppingOverAValueEndsWhereParsingItDoes) {
  std::vector<std::string> texts;
  for (const char* folder : {LSINSTALLED_HIVES, LSINSTALLED_CORPUS}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().extension() == ".expected") continue;
      std::ifstream file(entry.path(), std::ios::binary);
      std::string text((std::istreambuf_iterator<char>(file)), {});
      if (text.find('\0') != std::string::npos)
        text = registry::WineLines(text);
      texts.push_back(std::move(text));
    }
  }
  ASSERT_GT(texts.size(), 100u);
  const char* const pieces[] = {"\"n\"=hex:41,\\",
                                "@=hex(2):41,\\ text",
                                "  42,\\",
                                "  zz,\\",
                                "  43",
                                "  44,\\ more",
                                "#link",
                                "[Key] 0",
                                "\"s\"=\"x\\\\\"",
                                "",
                                "\\",
                                "\r",
                                "\"n\"=hex:41,\\\r",
                                "#time=1"};
  std::mt19937 random(20261210);
  for (int i = 0; i < 2000; ++i) {
    std::string text;
    for (int n = static_cast<int>(random() % 8); n >= 0; --n) {
      text += pieces[random() % std::size(pieces)];
      text += '\n';
    }
    texts.push_back(std::move(text));
  }
  int values = 0;
  for (const std::string& text : texts) {
    const char* const end = text.data() + text.size();
    registry::Lines lines(text.data(), end);
    registry::Line line{};
    while (lines.Next(&line)) {
      const char* p = registry::SkipSpace(line.begin, line.end);
      if (p == line.end || (*p != '"' && *p != '@')) continue;
      registry::Lines stepped = lines;
      registry::StepOverValue(p, line.end, &stepped);
      registry::Lines parsed = lines;
      if (const char* data = registry::ParseValueName(p, line.end, nullptr)) {
        registry::ParseValueData(data, line.end, &parsed, nullptr);
      }
      ASSERT_EQ(NextCountingLine(stepped, end), NextCountingLine(parsed, end))
          << std::string_view(line.begin,
                              static_cast<std::size_t>(line.end - line.begin));
      ++values;
    }
  }
  EXPECT_GT(values, 3000);
}

TEST(HiveGrammarTest, LinesEndAtLfAndDropOneCrBeforeIt) {
  const std::string text("one\r\ntwo\r\r\n\nlast\r");
  registry::Lines lines(text.data(), text.data() + text.size());
  registry::Line line;
  std::vector<std::string> seen;
  while (lines.Next(&line)) seen.emplace_back(line.begin, line.end);
  EXPECT_EQ(seen, (std::vector<std::string>{"one", "two\r", "", "last"}));
}

// A NUL ends its line, and what the read that took it took after it is
// lost: reads are as long as Wine's line buffer, which the lines before
// have grown (4, 6, 9, 13, 19, 28, 42, 63, 94, ... bytes).
TEST(HiveGrammarTest, NulBytesCutLinesWhereWinesReadsEnd) {
  using namespace std::string_literals;
  // "one\r\n" grows the buffer to 6: "two\0j" is one read.
  EXPECT_EQ(registry::WineLines("one\r\ntwo\0junk\nthree"s),
            "one\r\ntwo\nunk\nthree");
  // A CR before the NUL stays in its line.
  EXPECT_EQ(registry::WineLines("ab\r\0cd\n"s), "ab\r\r\nd\n");
  // Zeros fill reads of 3 bytes each while nothing grows the buffer.
  EXPECT_EQ(registry::WineLines("x\n"s + std::string(20, '\0') + "\ny\n"),
            "x\n" + std::string(7, '\n') + "y\n");
  // A line of 70 bytes grows the buffer to 94: the next line's first read
  // takes 93 bytes, and whatever starts at its 93rd is a line of its own.
  const std::string long_line = std::string(69, 'l') + "\n";
  for (const std::size_t at : {92, 93, 94}) {
    std::string line = "\"Filler\"=\"pp"s + '\0';
    line.resize(at, 'q');
    line += "\"DisplayName\"=\"Split\"\n";
    EXPECT_EQ(registry::WineLines(long_line + line),
              long_line + "\"Filler\"=\"pp\n" + line.substr(93))
        << at;
  }
  // Without a NUL nothing changes, however long the lines.
  const std::string plain = "a\n" + std::string(1000, 'b') + "\r\nc";
  EXPECT_EQ(registry::WineLines(plain), plain);
}

TEST(HiveGrammarTest, AnsiConversion) {
  EXPECT_EQ(registry::Utf16ToUtf8(u"A\u00e9\u65e5\U0001F600"),
            "A\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80");
  // Lone and reversed surrogates become U+FFFD.
  EXPECT_EQ(registry::Utf16ToUtf8(u"\xd800x\xde00\xd83d"),
            "\xef\xbf\xbdx\xef\xbf\xbd\xef\xbf\xbd");
  EXPECT_EQ(registry::Utf8ToUtf16("a\xff\xc3\xa9\xf0\x9f\x98\x80"),
            u"a\ufffd\u00e9\U0001F600");
  // A value's bytes are little-endian units whatever the machine's order;
  // an odd last byte is dropped.
  registry::Value value;
  value.data = std::string("A\0\xe9\0\x41\x01x", 7);
  EXPECT_EQ(value.Units(), u"A\u00e9\u0141");
}

}  // namespace
