// The grammar of Wine's registry file, version 2, as Wine's server reads it:
// lines, white space, numbers, escaped strings and raw UTF-8, value names
// and value data.  Nothing here knows of keys; the key tree that the
// sections build is in hive_posix.h.

#ifndef PLATFORM_HIVE_GRAMMAR_POSIX_H_
#define PLATFORM_HIVE_GRAMMAR_POSIX_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace registry {

// A value as Wine stores it: its type and its bytes (UTF-16LE for strings).
struct Value {
  DWORD type = REG_NONE;
  std::string data;

  // The data as UTF-16 units; an odd last byte is dropped.
  std::u16string Units() const;
};

// One line of the file: LF ends it, and a CR before the LF is dropped.
struct Line {
  const char* begin;
  const char* end;
};

// The lines of a text without NUL bytes (see WineLines).
class Lines {
 public:
  Lines(const char* begin, const char* end) : next_(begin), end_(end) {}

  bool Next(Line* line) {
    if (next_ == end_) return false;
    const char* start = next_;
    const auto* lf = static_cast<const char*>(
        std::memchr(start, '\n', static_cast<std::size_t>(end_ - start)));
    const char* stop = lf != nullptr ? lf : end_;
    next_ = lf != nullptr ? lf + 1 : end_;
    if (stop > start && stop[-1] == '\r') --stop;
    *line = Line{start, stop};
    return true;
  }

  // Where the next line begins.
  const char* position() const { return next_; }

 private:
  const char* next_;
  const char* end_;
};

// The lines of `text` as Wine's reader takes them, for a text that holds
// NUL bytes: the same text with every line that a NUL cuts short ended
// there by an LF, so that the result holds none.
//
// Wine reads a line into one buffer kept for the whole file, which starts
// at 4 bytes and grows by half, rounded down, whenever a read fills it
// without reaching an LF.  A read takes at most the buffer's size less one
// byte, counting what the line already holds, and stops after an LF.  A
// NUL ends the line where it stands, and the rest of the read that took
// it is lost; the bytes after that read are the next line.  A line that
// the NUL cut after a CR keeps its CR, which is doubled here as the LF
// after it drops one.
std::string WineLines(std::string_view text);

// White space, wherever the reader skips it, is C's isspace class: space,
// TAB, VT, FF and CR (and LF, which never stands inside a line).
inline bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline const char* SkipSpace(const char* p, const char* end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

inline bool StartsWith(const char* p, const char* end, std::string_view s) {
  return static_cast<std::size_t>(end - p) >= s.size() &&
         std::memcmp(p, s.data(), s.size()) == 0;
}

// Where a key name stops being its own bytes: the first backslash or byte
// past ASCII from `p` on, or `end`.
inline const char* PlainRunEnd(const char* p, const char* end) {
  while (p < end && *p != '\\' && static_cast<unsigned char>(*p) < 0x80) ++p;
  return p;
}

// The digit's value, or -1 for a byte that is no hex digit.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a number in base 16 as strtoul does: white space, a sign and "0x"
// may come first; a minus negates a number in range, and a number too large
// for 64 bits is all ones whatever its sign.  Returns the end of the digits,
// or nullptr when there are none.
const char* ParseNumber(const char* p, const char* end, std::uint64_t* value);

// Decodes one raw UTF-8 sequence starting at a byte >= 0x80 as Wine's reader
// does: a bad lead byte, or a lead whose sequence breaks off, is dropped on
// its own; overlong forms and code points past U+10FFFF are dropped whole;
// encoded surrogates are kept.  `replacement` turns what is dropped into
// U+FFFD instead, as the ANSI conversion of the calls does.  Returns where
// the next sequence starts.
const char* DecodeUtf8(const char* p, const char* end, std::u16string* out,
                       bool replacement);

// Reads an escaped string up to the unescaped `terminator`, appending its
// UTF-16 units to `out`.  Returns the position after the terminator, or
// nullptr when the line ends first.  With `separator` given, it stops after
// the first backslash unit instead (which it does not append) and sets
// *separator.
const char* ParseString(const char* p, const char* end, char terminator,
                        std::u16string* out, bool* separator = nullptr);

// Finds the first `terminator` that no escape takes.  `p` must not be inside
// an escape.
const char* FindUnescaped(const char* p, const char* end, char terminator);

// Parses the name of a value line, whose first byte (after white space) is
// '"' or '@', and the '=' after it.  Returns where the data begins, or
// nullptr when the name is malformed: Wine then creates no value.  With
// `name` null the name is only stepped over.
const char* ParseValueName(const char* p, const char* end,
                           std::u16string* name);

// Parses the name of a value line as ParseValueName does when it is `name`
// under Wine's folding, and returns where its data begins; returns nullptr
// for any other name or a malformed one.  A name is decoded only when
// escapes or raw UTF-8 stand in it before it differs.
const char* MatchValueName(const char* p, const char* end,
                           std::u16string_view name);

// Parses a value's data.  A malformed form leaves the value as type
// REG_NONE with no data, as Wine keeps it.  A hex list followed by a
// backslash goes on with the next line from `more`, whatever that line
// holds.  `value` may be null to only step over continuation lines.
void ParseValueData(const char* p, const char* end, Lines* more, Value* value);

// Whether a hex list may go on past the line from `begin` to `end`: only
// through a backslash in it.  ParseValueData alone tells whether it does.
inline bool MayContinue(const char* begin, const char* end) {
  return std::memchr(begin, '\\', static_cast<std::size_t>(end - begin)) !=
         nullptr;
}

// Steps over the continuation lines of the value line at `p`, if it has
// any; any other line stands alone.  It may stop short, before lines that
// start (after white space) with none of '[', '#', '"' and '@': whether
// the value takes those changes nothing for a reader that skips them.
void StepOverValue(const char* p, const char* end, Lines* more);

// UTF-16 to the ANSI code page, which is UTF-8 here; a lone surrogate
// becomes U+FFFD, as Windows converts it.
std::string Utf16ToUtf8(std::u16string_view text);

// The ANSI code page to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace registry

#endif  // PLATFORM_HIVE_GRAMMAR_POSIX_H_
