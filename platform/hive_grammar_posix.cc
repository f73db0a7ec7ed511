// Reads the text of Wine's registry file: lines, white space, numbers,
// strings and value data, exactly as Wine's server does.

#include "platform/hive_grammar_posix.h"

#include <algorithm>
#include <cassert>

#include "platform/case_fold.h"

namespace registry {

namespace {

// A hex list after its colon: bytes that each start with a hex digit and
// are read like strtoul into 32 bits, so only the low 32 bits of a long
// number must be at most ff; separated by a comma, white space or both.  A
// backslash after the list continues it on the next line, whatever stands
// after the backslash; anything else after it is malformed, and so is a
// continuation on the last line.  `bytes` may be null to only step over
// the list.
bool ParseHexList(const char* p, const char* end, Lines* more,
                  std::string* bytes) {
  for (;;) {
    if (p < end && HexDigit(*p) >= 0) {
      std::uint64_t byte;
      p = ParseNumber(p, end, &byte);
      if (static_cast<std::uint32_t>(byte) > 0xFF) return false;
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

const char* ParseString(const char* p, const char* end, char terminator,
                        std::u16string* out, bool* separator) {
  while (p < end) {
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
    // C's escapes; any other byte after a backslash stands for itself.
    constexpr std::string_view kLetters = "abtnvfre";
    constexpr char16_t kUnits[] = {0x07, 0x08, 0x09, 0x0A,
                                   0x0B, 0x0C, 0x0D, 0x1B};
    if (const std::size_t at = kLetters.find(e); at != kLetters.npos) {
      out->push_back(kUnits[at]);
    } else if (e == 'x') {
      unsigned unit = 0;
      int n = 0;
      for (int d; n < 4 && p + 1 + n < end && (d = HexDigit(p[1 + n])) >= 0;
           ++n) {
        unit = (unit << 4) | static_cast<unsigned>(d);
      }
      out->push_back(n == 0 ? u'x' : static_cast<char16_t>(unit));
      p += n;
    } else if (e >= '0' && e <= '7') {
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
    ++p;
    if (separator != nullptr && out->back() == u'\\') {
      out->pop_back();
      *separator = true;
      return p;
    }
  }
  return nullptr;
}

// The terminator is the one after an even run of backslashes: after the byte
// that follows its backslash, no escape goes on with a backslash or a
// terminator, so the run's parity decides.
const char* FindUnescaped(const char* p, const char* end, char terminator) {
  for (const char* from = p;;) {
    const auto* hit = static_cast<const char*>(
        std::memchr(from, terminator, static_cast<std::size_t>(end - from)));
    if (hit == nullptr) return nullptr;
    const char* run = hit;
    while (run > p && run[-1] == '\\') --run;
    if ((hit - run) % 2 == 0) return hit;
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
    for (std::size_t i = 0; q < end; ++i, ++q) {
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
    std::u16string text;
    text.reserve(static_cast<std::size_t>(end - p));
    if (ParseString(p, end, '"', &text) != nullptr) {
      text.push_back(u'\0');
      parsed.type = string_type;
      for (const char16_t unit : text) {  // Little-endian.
        parsed.data.push_back(static_cast<char>(unit & 0xFF));
        parsed.data.push_back(static_cast<char>(unit >> 8));
      }
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
  // Only a hex list goes on past its line, through a backslash.
  if ((*p != '"' && *p != '@') || !MayContinue(p, end)) return;
  const char* const data = ParseValueName(p, end, nullptr);
  if (data == nullptr || !StartsWith(data, end, "hex")) return;
  // Whether the list takes a line matters only for a line that means
  // something of its own: up to the first such line, or the first line
  // without a backslash, which no list goes past, the list is not read.
  const Lines start = *more;
  Lines ahead = start;
  Line line{};
  while (ahead.Next(&line)) {
    const char* q = SkipSpace(line.begin, line.end);
    if (q != line.end && (*q == '[' || *q == '#' || *q == '"' || *q == '@')) {
      *more = start;
      ParseValueData(data, end, more, nullptr);
      return;
    }
    *more = ahead;
    if (!MayContinue(line.begin, line.end)) return;
  }
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

std::u16string Value::Units() const {
  // Little-endian bytes, whatever the machine's order.
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] =
        static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                              static_cast<unsigned char>(data[2 * i + 1]) << 8);
  }
  return units;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  // At most three bytes a unit: a pair of surrogates takes four.
  std::string out(3 * text.size(), '\0');
  char* o = out.data();
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
        ++i;
      } else {
        cp = 0xFFFD;
      }
    }
    if (cp < 0x80) {
      *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
      *o++ = static_cast<char>(0xC0 | (cp >> 6));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *o++ = static_cast<char>(0xE0 | (cp >> 12));
      *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *o++ = static_cast<char>(0xF0 | (cp >> 18));
      *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    if (static_cast<unsigned char>(*p) < 0x80) {
      out.push_back(static_cast<char16_t>(*p++));
    } else {
      p = DecodeUtf8(p, end, &out, true);
    }
  }
  return out;
}

}  // namespace registry
