// The grammar of Wine's registry file, version 2, as Wine's server reads it:
// lines, white space, numbers, escaped strings and raw UTF-8, value names
// and value data.  Nothing here knows of keys; the key tree that the
// sections build is in hive_posix.h.

#ifndef PLATFORM_HIVE_GRAMMAR_POSIX_H_
#define PLATFORM_HIVE_GRAMMAR_POSIX_H_

#include <array>
#include <bit>
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
  // Those units in UTF-8, into *out.
  void Utf8(std::string* out) const;
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

// The high bits of the bytes of `word` that are a backslash, past ASCII or,
// when `kTerminated`, `terminator`, and perhaps of bytes after one of them:
// nonzero exactly when one stands in the word.
template <bool kTerminated>
inline std::uint64_t PlainStops(std::uint64_t word, char terminator) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t backslashes = word ^ (kOnes * '\\');
  std::uint64_t stops = ((backslashes - kOnes) & ~backslashes) | word;
  if constexpr (kTerminated) {
    const std::uint64_t terminators =
        word ^ (kOnes * static_cast<unsigned char>(terminator));
    stops |= (terminators - kOnes) & ~terminators;
  }
  return stops & (kOnes * 0x80);
}

// The first backslash, byte past ASCII or, when `kTerminated`, `terminator`
// from `p` on, or `end`: where a string or key name stops being its own
// bytes, eight bytes at a time.
template <bool kTerminated>
inline const char* PlainEnd(const char* p, const char* end, char terminator) {
  for (std::uint64_t word; end - p >= 8; p += 8) {
    std::memcpy(&word, p, 8);
    if (PlainStops<kTerminated>(word, terminator) != 0) break;
  }
  while (p < end && *p != '\\' && static_cast<unsigned char>(*p) < 0x80 &&
         (!kTerminated || *p != terminator)) {
    ++p;
  }
  return p;
}

// The eight units of a name from `i` as a word of their bytes, when all
// of them are ASCII.
inline bool AsciiWord(std::string_view name, std::size_t i,
                      std::uint64_t* word) {
  std::memcpy(word, name.data() + i, 8);
  return (*word & 0x8080808080808080ull) == 0;
}
inline bool AsciiWord(std::u16string_view name, std::size_t i,
                      std::uint64_t* word) {
  if constexpr (std::endian::native == std::endian::little) {
    // Four units a word, each narrowed into its low byte.
    const auto narrow = [](std::uint64_t units) {
      units = (units | units >> 8) & 0x0000FFFF0000FFFFull;
      return (units | units >> 16) & 0xFFFFFFFFull;
    };
    std::uint64_t low, high;
    std::memcpy(&low, name.data() + i, 8);
    std::memcpy(&high, name.data() + i + 4, 8);
    *word = narrow(low) | narrow(high) << 32;
    return ((low | high) & 0xFF80FF80FF80FF80ull) == 0;
  }
  unsigned char bytes[8];
  char16_t all = 0;
  for (std::size_t k = 0; k < 8; ++k) {
    all |= name[i + k];
    bytes[k] = static_cast<unsigned char>(name[i + k]);
  }
  std::memcpy(word, bytes, 8);
  return all < 0x80;
}

// Eight ASCII bytes folded as FoldCase folds ASCII: capitals to small
// letters.  No byte carries into the next, as none is past 0x7F.
inline std::uint64_t FoldAscii(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  const std::uint64_t from_a = word + kOnes * (0x80 - 'A');
  const std::uint64_t past_z = word + kOnes * (0x80 - 'Z' - 1);
  return word | ((from_a & ~past_z & kOnes * 0x80) >> 2);
}

// Where a key name stops being its own bytes.
inline const char* PlainRunEnd(const char* p, const char* end) {
  return PlainEnd<false>(p, end, '\0');
}

inline constexpr std::array<signed char, 256> kHexDigits = [] {
  std::array<signed char, 256> digits{};
  for (int c = 0; c < 256; ++c) {
    digits[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                       : -1;
  }
  return digits;
}();

// The digit's value, or -1 for a byte that is no hex digit.
inline int HexDigit(char c) {
  return kHexDigits[static_cast<unsigned char>(c)];
}
inline bool IsHexDigit(char c) { return HexDigit(c) >= 0; }

// Reads a number in base 16 as strtoul does: white space, a sign and "0x"
// may come first; a minus negates a number in range, and a number too large
// for 64 bits is all ones whatever its sign.  Returns the end of the digits,
// or nullptr when there are none.
const char* ParseNumber(const char* p, const char* end, std::uint64_t* value);

// Calls `visit(line)` with the start of every line from `begin` to `end`:
// `begin`, and each byte after an LF that comes before `end`, in order.
template <typename Visit>
void ForEachLineStart(const char* begin, const char* end, Visit visit) {
  for (const char* p = begin; p < end;) {
    visit(p);
    const auto* lf = static_cast<const char*>(
        std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (lf == nullptr) return;
    p = lf + 1;
  }
}

// The start of the line holding `p`, when only white space stands before
// `p` on it, or nullptr.  `from` starts a line.
inline const char* LineOf(const char* from, const char* p) {
  for (; p > from && p[-1] != '\n'; --p) {
    if (!IsSpace(p[-1])) return nullptr;
  }
  return p;
}

// A section's header line from `p`, after its '[': the first ']' before the
// line's LF that no escape takes (nullptr when none), and where the next
// line starts (`end` when none comes).  For a text without NUL bytes.
struct HeaderLine {
  const char* close;
  const char* next;
};
HeaderLine ScanHeader(const char* p, const char* end);

// What a reader passing over a section's body looks for, found in one scan
// of its bytes: the first '[' or "#link" from `p` on that only white space
// stands before on its line, lines starting at `from` and after each LF.
// Returns that byte, with *line where its line starts, or `end`.  For a '['
// *header is then its line as ScanHeader reads it.  For a text without NUL
// bytes.
const char* FindOpenOrLink(const char* from, const char* p, const char* end,
                           const char** line, HeaderLine* header);

// Where a reader passing over a body starts: past the "#time" line that
// Wine writes first in every body, whose '#' opens no link.
inline const char* BodyStart(const char* from, const char* end) {
  return StartsWith(from, end, "#time") ? from + 5 : from;
}

// A line of note that FindOpenOrLinks met: its '[' or '#' (`end` when the
// text ended first), the line's start, the first line of the body it
// stands in, and for a '[' its header line.
struct OpenOrLink {
  const char* open;
  const char* line;
  const char* from;
  HeaderLine header;
};
// The lines of note that a reader passing over bodies meets, in file order,
// without stopping at each: from *p in the body whose lines start at *from,
// FindOpenOrLink's find; after a '[', the same in the body after its header
// line, from BodyStart; after a link, from the byte after its '#'.  Fills
// `found` with up to `capacity` (at least one) and returns how many, the
// last at `end` if the text ended; *from and *p tell where to go on.  For a
// text without NUL bytes.
std::size_t FindOpenOrLinks(const char** from, const char** p, const char* end,
                            OpenOrLink* found, std::size_t capacity);

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

// Whether value data starting at `p` may go on past its line: only a hex
// list does, through a backslash.
inline bool MayContinue(const char* p, const char* end) {
  return StartsWith(p, end, "hex") &&
         std::memchr(p, '\\', static_cast<std::size_t>(end - p)) != nullptr;
}

// Steps over the continuation lines of the value line at `p`, if it has
// any; any other line stands alone.  It may stop short, before lines that
// start (after white space) with none of '[', '#', '"' and '@': whether
// the value takes those changes nothing for a reader that skips them.
void StepOverValue(const char* p, const char* end, Lines* more);

// UTF-16 to the ANSI code page, which is UTF-8 here; a lone surrogate
// becomes U+FFFD, as Windows converts it.
std::string Utf16ToUtf8(std::u16string_view text);

// Where the ASCII bytes from `p` on end: the first byte past 0x7F, or `end`.
inline const char* AsciiEnd(const char* p, const char* end) {
  for (std::uint64_t word; end - p >= 8; p += 8) {
    std::memcpy(&word, p, 8);
    if (word & 0x8080808080808080ull) break;
  }
  while (p < end && static_cast<unsigned char>(*p) < 0x80) ++p;
  return p;
}

// The ANSI code page to UTF-16; an invalid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// The same into *out, which keeps its room.
void Utf8ToUtf16(std::string_view text, std::u16string* out);

}  // namespace registry

#endif  // PLATFORM_HIVE_GRAMMAR_POSIX_H_
