// Reads the text of Wine's registry file: lines, white space, numbers,
// strings and value data, exactly as Wine's server does.

#include "platform/hive_grammar_posix.h"

#include <algorithm>
#include <bit>
#include <cassert>

#include "platform/case_fold.h"

namespace registry {

namespace {

void AppendUnits(const std::u16string& units, std::string* bytes) {
  std::size_t at = bytes->size();
  bytes->resize(at + 2 * units.size());
  for (const char16_t unit : units) {
    (*bytes)[at++] = static_cast<char>(unit & 0xFF);
    (*bytes)[at++] = static_cast<char>(unit >> 8);
  }
}

// Whether `hit`, at or after `p`, stands after an even number of
// backslashes from `p` on, so that no escape takes it.
bool Unescaped(const char* p, const char* hit) {
  std::size_t backslashes = 0;
  while (hit - backslashes > p &&
         hit[-1 - static_cast<std::ptrdiff_t>(backslashes)] == '\\') {
    ++backslashes;
  }
  return backslashes % 2 == 0;
}

// Where the bytes from `p` stop standing for themselves in a string up to
// `terminator`: at the terminator, an escape or raw UTF-8.
const char* PlainStringEnd(const char* p, const char* end, char terminator) {
  return PlainEnd<true>(p, end, terminator);
}

// A hex list after its colon: bytes that each start with a hex digit and
// are read like strtoul, separated by a comma, white space or both.  A
// backslash after the list continues it on the next line, whatever stands
// after the backslash; anything else after it is malformed, and so is a
// continuation on the last line.  `bytes` may be null to only step over
// the list.
bool ParseHexList(const char* p, const char* end, Lines* more,
                  std::string* bytes) {
  for (;;) {
    // Wine's own layout, "xx," runs, goes at a byte per step; a loop of its
    // own for stepping over, which is most of a load (0.7 M instructions of
    // 24 M at 500 subkeys against one loop testing `bytes`).
    const char* const run = p;
    if (bytes == nullptr) {
      while (end - p >= 3 && IsHexDigit(p[0]) && IsHexDigit(p[1]) &&
             p[2] == ',') {
        p += 3;
      }
    } else {
      while (end - p >= 3 && IsHexDigit(p[0]) && IsHexDigit(p[1]) &&
             p[2] == ',') {
        bytes->push_back(
            static_cast<char>(HexDigit(p[0]) * 16 + HexDigit(p[1])));
        p += 3;
      }
    }
    if (p != run) p = SkipSpace(p, end);  // After a comma.
    if (p < end && IsHexDigit(*p)) {
      std::uint64_t byte;
      p = ParseNumber(p, end, &byte);
      if (byte > 0xFF) return false;
      if (bytes != nullptr) bytes->push_back(static_cast<char>(byte));
      p = SkipSpace(p, end);
      if (p < end && *p == ',') p = SkipSpace(p + 1, end);
      continue;
    }
    if (p == end) return true;
    if (*p != '\\') return false;
    Line line;
    if (!more->Next(&line)) return false;
    p = SkipSpace(line.begin, line.end);
    end = line.end;
  }
}

void AppendCodePoint(std::uint32_t cp, std::u16string* out) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out->push_back(static_cast<char16_t>(cp));
  }
}

}  // namespace

const char* ParseNumber(const char* p, const char* end, std::uint64_t* value) {
  // Wine writes bytes as two lowercase digits: take those directly.
  if (end - p >= 2) {
    const int high = HexDigit(p[0]);
    const int low = HexDigit(p[1]);
    if (high >= 0 && low >= 0 && (end - p == 2 || HexDigit(p[2]) < 0)) {
      *value = static_cast<std::uint64_t>(high * 16 + low);
      return p + 2;
    }
  }
  p = SkipSpace(p, end);
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
      HexDigit(p[2]) >= 0) {
    p += 2;
  }
  const char* digits = p;
  // Leading zeros add nothing; more than 16 digits after them overflow.
  while (p < end && *p == '0') ++p;
  const char* const significant = p;
  std::uint64_t v = 0;
  for (int d; p < end && (d = HexDigit(*p)) >= 0; ++p) {
    v = (v << 4) | static_cast<std::uint64_t>(d);
  }
  if (p == digits) return nullptr;
  const bool overflow = p - significant > 16;
  // Out of range is all ones, as strtoul returns ULONG_MAX, sign or none.
  *value = overflow ? UINT64_MAX : negative ? 0 - v : v;
  return p;
}

const char* DecodeUtf8(const char* p, const char* end, std::u16string* out,
                       bool replacement) {
  const auto lead = static_cast<unsigned char>(*p);
  int extra;
  std::uint32_t cp;
  if (lead >= 0xC0 && lead < 0xE0) {
    extra = 1;
    cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    extra = 2;
    cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead < 0xF8) {
    extra = 3;
    cp = lead & 0x07u;
  } else {
    if (replacement) out->push_back(u'\uFFFD');
    return p + 1;
  }
  for (int i = 1; i <= extra; ++i) {
    if (end - p <= i || (static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) {
      if (replacement) out->push_back(u'\uFFFD');
      return p + 1;
    }
    cp = (cp << 6) | (static_cast<unsigned char>(p[i]) & 0x3Fu);
  }
  static constexpr std::uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[extra] || cp > 0x10FFFF) {
    if (replacement) out->push_back(u'\uFFFD');
  } else {
    AppendCodePoint(cp, out);
  }
  return p + 1 + extra;
}

// Reads an escaped string up to the unescaped `terminator`, appending its
// UTF-16 units to `out`.  Returns the position after the terminator, or
// nullptr when the line ends first.  With `separator` given, it stops after
// the first backslash unit instead (which it does not append) and sets

const char* ParseString(const char* p, const char* end, char terminator,
                        std::u16string* out, bool* separator) {
  while (p < end) {
    // Plain ASCII needs no decoding: copy the run at once.
    const char* run = PlainStringEnd(p, end, terminator);
    if (run != p) {
      const std::size_t used = out->size();
      out->resize(used + static_cast<std::size_t>(run - p));
      std::copy(p, run, out->begin() + static_cast<std::ptrdiff_t>(used));
      p = run;
      if (p == end) break;
    }
    const char c = *p;
    if (c == terminator) return p + 1;
    if (static_cast<unsigned char>(c) >= 0x80) {
      p = DecodeUtf8(p, end, out, false);
      continue;
    }
    if (c != '\\') {
      out->push_back(static_cast<char16_t>(c));
      ++p;
      continue;
    }
    if (++p == end) return nullptr;
    const char e = *p;
    switch (e) {
      case 'a':
        out->push_back(0x07);
        break;
      case 'b':
        out->push_back(0x08);
        break;
      case 't':
        out->push_back(0x09);
        break;
      case 'n':
        out->push_back(0x0A);
        break;
      case 'v':
        out->push_back(0x0B);
        break;
      case 'f':
        out->push_back(0x0C);
        break;
      case 'r':
        out->push_back(0x0D);
        break;
      case 'e':
        out->push_back(0x1B);
        break;
      case 'x': {
        const char* digits = p + 1;
        unsigned unit = 0;
        int n = 0;
        for (int d; n < 4 && digits + n < end && (d = HexDigit(digits[n])) >= 0;
             ++n) {
          unit = (unit << 4) | static_cast<unsigned>(d);
        }
        if (n == 0) {
          out->push_back(u'x');
        } else {
          out->push_back(static_cast<char16_t>(unit));
          p += n;
        }
        break;
      }
      default:
        if (e >= '0' && e <= '7') {
          unsigned unit = 0;
          int n = 0;
          for (; n < 3 && p + n < end && p[n] >= '0' && p[n] <= '7'; ++n) {
            unit = (unit << 3) | static_cast<unsigned>(p[n] - '0');
          }
          out->push_back(static_cast<char16_t>(unit));
          p += n - 1;
        } else if (static_cast<unsigned char>(e) >= 0x80) {
          p = DecodeUtf8(p, end, out, false);
          continue;
        } else {
          out->push_back(static_cast<char16_t>(e));
        }
    }
    ++p;
    if (separator != nullptr && out->back() == u'\\') {
      out->pop_back();
      *separator = true;
      return p;
    }
  }
  return nullptr;
}

// Parses the name of a value line, whose first non-blank byte is '"' or '@',

// The terminator is the one after an even run of backslashes: after the byte
// that follows its backslash, no escape goes on with a backslash or a
// terminator, so the run's parity decides.
const char* FindUnescaped(const char* p, const char* end, char terminator) {
  for (const char* from = p;;) {
    const auto* hit = static_cast<const char*>(
        std::memchr(from, terminator, static_cast<std::size_t>(end - from)));
    if (hit == nullptr || Unescaped(p, hit)) return hit;
    from = hit + 1;
  }
}

namespace {

// After a value's name: the '=' and the white space around it.
const char* DataAfterName(const char* p, const char* end) {
  p = SkipSpace(p, end);
  if (p == end || *p != '=') return nullptr;
  return SkipSpace(p + 1, end);
}

}  // namespace

const char* ParseValueName(const char* p, const char* end,
                           std::u16string* name) {
  if (name != nullptr) name->clear();
  if (*p == '@') {
    ++p;
  } else if (name == nullptr) {
    p = FindUnescaped(p + 1, end, '"');
    if (p == nullptr) return nullptr;
    ++p;
  } else {
    p = ParseString(p + 1, end, '"', name);
    if (p == nullptr) return nullptr;
  }
  return DataAfterName(p, end);
}

const char* MatchValueName(const char* p, const char* end,
                           std::u16string_view name) {
  if (*p == '"') {
    // While a name's bytes are plain ASCII each is its own unit, so the
    // first that differs from `name`, or a quote ending the name early or
    // late, tells without the rest.  An escape or raw UTF-8 is decoded, as
    // it may yield no unit at all.
    const char* q = p + 1;
    std::size_t i = 0;
    // Eight at a time while the name's units and the line's bytes are all
    // plain ASCII, with no quote among them: there folding is FoldAscii.
    for (std::uint64_t bytes, units; name.size() - i >= 8 && end - q >= 8;
         i += 8, q += 8) {
      std::memcpy(&bytes, q, 8);
      if (PlainStops<true>(bytes, '"') != 0 || !AsciiWord(name, i, &units)) {
        break;
      }
      if (FoldAscii(bytes) != FoldAscii(units)) return nullptr;
    }
    for (; q < end; ++i, ++q) {
      const auto c = static_cast<unsigned char>(*q);
      if (c == '\\' || c >= 0x80) break;
      if (c == '"') {
        return i == name.size() ? DataAfterName(q + 1, end) : nullptr;
      }
      if (i == name.size() || FoldCase(c) != FoldCase(name[i])) return nullptr;
    }
    if (q == end) return nullptr;  // No closing quote: malformed.
  }
  std::u16string decoded;
  const char* data = ParseValueName(p, end, &decoded);
  return data != nullptr && EqualFolded(decoded, name) ? data : nullptr;
}

void ParseValueData(const char* p, const char* end, Lines* more, Value* value) {
  // Straight into *value, whose room is kept from one value to the next.
  Value scratch;
  Value& parsed = value != nullptr ? *value : scratch;
  parsed.type = REG_NONE;
  parsed.data.clear();
  bool ok = false;
  DWORD string_type = REG_NONE;
  if (p < end && *p == '"') {
    string_type = REG_SZ;
    ++p;
  } else if (StartsWith(p, end, "str:\"")) {
    string_type = REG_SZ;
    p += 5;
  } else if (StartsWith(p, end, "str(2):\"")) {
    string_type = REG_EXPAND_SZ;
    p += 8;
  } else if (StartsWith(p, end, "str(7):\"")) {
    string_type = REG_MULTI_SZ;
    p += 8;
  }
  if (string_type != REG_NONE) {
    if (value == nullptr) return;  // A string never goes past its line.
    // Most strings are plain ASCII up to their quote, a unit a byte.
    const char* const run = PlainStringEnd(p, end, '"');
    if (run < end && *run == '"') {
      const auto size = static_cast<std::size_t>(run - p);
      parsed.data.assign(2 * size + 2, '\0');
      char* const units = parsed.data.data();
      for (std::size_t i = 0; i < size; ++i) units[2 * i] = p[i];
      parsed.type = string_type;
      ok = true;
    } else if (std::u16string text;
               ParseString(p, end, '"', &text) != nullptr) {
      text.push_back(u'\0');
      parsed.type = string_type;
      AppendUnits(text, &parsed.data);
      ok = true;
    }
  } else if (StartsWith(p, end, "dword:")) {
    if (value == nullptr) return;
    std::uint64_t number = 0;
    ParseNumber(p + 6, end, &number);
    const auto dword = static_cast<std::uint32_t>(number);
    parsed.type = REG_DWORD;
    for (int shift = 0; shift < 32; shift += 8) {
      parsed.data.push_back(static_cast<char>((dword >> shift) & 0xFF));
    }
    ok = true;
  } else if (StartsWith(p, end, "hex")) {
    p += 3;
    std::uint64_t type = REG_BINARY;
    if (p < end && *p == '(') {
      const char* close = ParseNumber(p + 1, end, &type);
      if (close == nullptr) {  // "hex():" reads as type 0.
        type = 0;
        close = p + 1;
      }
      p = StartsWith(close, end, ")") ? close + 1 : nullptr;
    }
    if (p != nullptr && p < end && *p == ':') {
      parsed.type = static_cast<DWORD>(type);
      ok = ParseHexList(p + 1, end, more,
                        value != nullptr ? &parsed.data : nullptr);
    }
  }
  if (!ok) {
    parsed.type = REG_NONE;
    parsed.data.clear();
  }
}

void StepOverValue(const char* p, const char* end, Lines* more) {
  // Most lines hold no backslash and so cannot go on.
  if ((*p != '"' && *p != '@') ||
      std::memchr(p, '\\', static_cast<std::size_t>(end - p)) == nullptr) {
    return;
  }
  const char* data = ParseValueName(p, end, nullptr);
  if (data == nullptr || !MayContinue(data, end)) return;
  // Whether the list takes a line matters only for a line that means
  // something of its own: up to the first such line, or the first line
  // with no backslash, which no list goes past, the list need not be read.
  const Lines start = *more;
  Lines ahead = start;
  Line line;
  while (ahead.Next(&line)) {
    const char* q = SkipSpace(line.begin, line.end);
    if (q != line.end && (*q == '[' || *q == '#' || *q == '"' || *q == '@')) {
      *more = start;
      ParseValueData(data, end, more, nullptr);
      return;
    }
    *more = ahead;
    if (std::memchr(line.begin, '\\',
                    static_cast<std::size_t>(line.end - line.begin)) ==
        nullptr) {
      return;
    }
  }
}

namespace {

// Whether the '[' or '#' at `q` opens a line of note in a body whose lines
// start at `from` and after each LF; *line is then where its line starts.
bool IsOpenOrLink(const char* from, const char* q, const char* end,
                  const char** line) {
  const char* const start = LineOf(from, q);
  if (start == nullptr || (*q == '#' && !StartsWith(q, end, "#link"))) {
    return false;
  }
  *line = start;
  return true;
}

const char* FindOpenOrHash(const char* p, const char* end) {
  const auto* open = static_cast<const char*>(
      std::memchr(p, '[', static_cast<std::size_t>(end - p)));
  const char* const stop = open != nullptr ? open : end;
  const auto* hash = static_cast<const char*>(
      std::memchr(p, '#', static_cast<std::size_t>(stop - p)));
  return hash != nullptr ? hash : stop;
}

}  // namespace

const char* FindOpenOrLink(const char* from, const char* p, const char* end,
                           const char** line, HeaderLine* header) {
  for (;; ++p) {
    p = FindOpenOrHash(p, end);
    if (p == end) return end;
    if (!IsOpenOrLink(from, p, end, line)) continue;
    if (*p == '[') *header = ScanHeader(p + 1, end);
    return p;
  }
}

namespace {

// Takes the find at *hit, made from *p in the body at *from, and moves
// *from and *p on to where the next scan starts.  Whether to go on.
inline bool TakeOpenOrLink(OpenOrLink* hit, const char** from, const char** p,
                           const char* end) {
  hit->from = *from;
  if (hit->open == end) return false;
  if (*hit->open == '[') {
    *from = hit->header.next;
    *p = BodyStart(*from, end);
  } else {
    *p = hit->open + 1;
  }
  return true;
}

}  // namespace

std::size_t FindOpenOrLinks(const char** from, const char** p, const char* end,
                            OpenOrLink* found, std::size_t capacity) {
  // In registers, not through the pointers that `found` may alias.
  const char* body = *from;
  const char* q = *p;
  std::size_t count = 0;
  for (bool more = true; more && count < capacity; ++count) {
    OpenOrLink* const hit = &found[count];
    hit->open = FindOpenOrLink(body, q, end, &hit->line, &hit->header);
    more = TakeOpenOrLink(hit, &body, &q, end);
  }
  *from = body;
  *p = q;
  return count;
}

HeaderLine ScanHeader(const char* p, const char* end) {
  const auto* lf = static_cast<const char*>(
      std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
  return HeaderLine{FindUnescaped(p, lf != nullptr ? lf : end, ']'),
                    lf != nullptr ? lf + 1 : end};
}

std::string WineLines(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  std::size_t buffer = 4;  // Grows, never shrinks.
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p != end) {
    const char* const start = p;
    for (;;) {
      // One read: at most what the buffer has room for, through an LF.
      const std::size_t held = static_cast<std::size_t>(p - start);
      assert(held < buffer - 1);
      std::size_t n =
          std::min(buffer - 1 - held, static_cast<std::size_t>(end - p));
      const auto* lf = static_cast<const char*>(std::memchr(p, '\n', n));
      if (lf != nullptr) n = static_cast<std::size_t>(lf - p) + 1;
      const auto* nul = static_cast<const char*>(std::memchr(p, '\0', n));
      p += n;
      if (nul != nullptr) {
        lines.append(start, nul);
        if (nul > start && nul[-1] == '\r') lines += '\r';
        lines += '\n';
        break;
      }
      if (lf != nullptr || p == end) {
        lines.append(start, p);
        break;
      }
      buffer += buffer / 2;
    }
  }
  assert(std::memchr(lines.data(), '\0', lines.size()) == nullptr);
  return lines;
}

namespace {

// The UTF-16 unit at `i` of little-endian bytes.
char16_t UnitAt(const std::string& bytes, std::size_t i) {
  return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                               static_cast<unsigned char>(bytes[2 * i + 1])
                                   << 8);
}

// Units `i` to `size` of unit(i) in UTF-8, after the first `i`, which are
// ASCII and already in *utf8; a lone surrogate becomes U+FFFD.
template <typename Unit>
void AppendUtf8(std::size_t i, std::size_t size, Unit unit, std::string* utf8) {
  std::string& out = *utf8;
  out.resize(i);
  out.reserve(size + 8);
  for (; i < size; ++i) {
    std::uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && i + 1 < size && unit(i + 1) >= 0xDC00 &&
          unit(i + 1) <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00u);
        ++i;
      } else {
        cp = 0xFFFD;
      }
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

// `size` units, unit(i) the one at i, in UTF-8; a lone surrogate becomes
// U+FFFD.
template <typename Unit>
void ToUtf8(std::size_t size, Unit unit, std::string* utf8) {
  // Names and most strings are ASCII, a byte a unit: that part at once.
  std::string& out = *utf8;
  out.assign(size, '\0');
  std::size_t i = 0;
  for (; i < size && unit(i) < 0x80; ++i) out[i] = static_cast<char>(unit(i));
  if (i == size) return;
  AppendUtf8(i, size, unit, utf8);
}

}  // namespace

std::u16string Value::Units() const {
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) units[i] = UnitAt(data, i);
  return units;
}

void Value::Utf8(std::string* out) const {
  // Most strings are ASCII, each unit a byte and a zero: those at once.
  const std::size_t size = data.size() / 2;
  const char* const bytes = data.data();
  out->resize(size);
  char* const text = out->data();
  std::size_t ascii = 0;
  while (ascii < size && bytes[2 * ascii + 1] == 0 &&
         static_cast<unsigned char>(bytes[2 * ascii]) < 0x80) {
    text[ascii] = bytes[2 * ascii];
    ++ascii;
  }
  if (ascii == size) return;
  AppendUtf8(
      ascii, size, [this](std::size_t i) { return UnitAt(data, i); }, out);
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  ToUtf8(
      text.size(), [text](std::size_t i) { return text[i]; }, &out);
  return out;
}

void Utf8ToUtf16(std::string_view text, std::u16string* out) {
  const char* p = text.data();
  const char* const end = p + text.size();
  // Names and most strings are ASCII: that part at once.
  const char* const plain = AsciiEnd(p, end);
  out->resize(static_cast<std::size_t>(plain - p));
  for (std::size_t i = 0; p + i < plain; ++i) {
    (*out)[i] = static_cast<char16_t>(p[i]);
  }
  if (plain == end) return;
  out->reserve(text.size());
  p = plain;
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      out->push_back(static_cast<char16_t>(*p++));
    } else {
      p = DecodeUtf8(p, end, out, true);
    }
  }
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  Utf8ToUtf16(text, &out);
  return out;
}

}  // namespace registry
