// Reads Wine's registry file format, version 2, the way Wine's server loads
// it, including how it treats hand-edited and damaged lines.

#include "platform/hive_posix.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <type_traits>

#include "platform/case_fold.h"

namespace registry {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr std::size_t kMaxNameUnits = 256;
constexpr int kMaxLinks = 32;

// One line of the file: LF ends it, a CR before the LF is dropped, and a NUL
// byte ends its content, as in Wine's reader.
struct Line {
  const char* begin;
  const char* end;
};

class Lines {
 public:
  Lines(const char* begin, const char* end, bool may_hold_nul)
      : next_(begin), end_(end), may_hold_nul_(may_hold_nul) {}

  bool Next(Line* line) {
    if (next_ == end_) return false;
    const char* start = next_;
    const auto* lf = static_cast<const char*>(
        std::memchr(start, '\n', static_cast<std::size_t>(end_ - start)));
    const char* stop = lf != nullptr ? lf : end_;
    next_ = lf != nullptr ? lf + 1 : end_;
    if (may_hold_nul_) {
      if (const auto* nul = static_cast<const char*>(std::memchr(
              start, '\0', static_cast<std::size_t>(stop - start)))) {
        stop = nul;
      }
    }
    if (stop > start && stop[-1] == '\r') --stop;
    *line = Line{start, stop};
    return true;
  }

  // Where the next line begins.
  const char* position() const { return next_; }

 private:
  const char* next_;
  const char* end_;
  bool may_hold_nul_;
};

inline const char* SkipBlanks(const char* p, const char* end) {
  while (p < end && (*p == ' ' || *p == '\t')) ++p;
  return p;
}

inline bool StartsWith(const char* p, const char* end, std::string_view s) {
  return static_cast<std::size_t>(end - p) >= s.size() &&
         std::memcmp(p, s.data(), s.size()) == 0;
}

constexpr std::array<signed char, 256> kHexDigits = [] {
  std::array<signed char, 256> digits{};
  for (int c = 0; c < 256; ++c) {
    digits[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
                : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
                                       : -1;
  }
  return digits;
}();

inline int HexDigit(char c) {
  return kHexDigits[static_cast<unsigned char>(c)];
}
inline bool IsHexDigit(char c) { return HexDigit(c) >= 0; }

// How many leading bytes `a` and `b` share, compared a word at a time.
std::size_t SharedPrefix(std::string_view a, std::string_view b) {
  const std::size_t limit = std::min(a.size(), b.size());
  std::size_t i = 0;
  for (; i + 8 <= limit; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) break;
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

// Reads a number in base 16 as strtoul does: blanks, a sign and a "0x" may
// come first, the value saturates, and a minus negates it.  Returns the end
// of the digits, or nullptr when there are none.
const char* ParseHexNumber(const char* p, const char* end,
                           std::uint64_t* value) {
  // Wine writes bytes as two lowercase digits: take those directly.
  if (end - p >= 2) {
    const int high = HexDigit(p[0]);
    const int low = HexDigit(p[1]);
    if (high >= 0 && low >= 0 && (end - p == 2 || HexDigit(p[2]) < 0)) {
      *value = static_cast<std::uint64_t>(high * 16 + low);
      return p + 2;
    }
  }
  while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  if (end - p >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
      HexDigit(p[2]) >= 0) {
    p += 2;
  }
  const char* digits = p;
  std::uint64_t v = 0;
  bool overflow = false;
  for (int d; p < end && (d = HexDigit(*p)) >= 0; ++p) {
    if (v > (UINT64_MAX >> 4)) overflow = true;
    v = (v << 4) | static_cast<std::uint64_t>(d);
  }
  if (p == digits) return nullptr;
  if (overflow) v = UINT64_MAX;
  *value = negative ? 0 - v : v;
  return p;
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

// Decodes one raw UTF-8 sequence starting at a byte >= 0x80 as Wine's reader
// does: a bad lead byte, or a lead whose sequence breaks off, is dropped on
// its own; overlong forms and code points past U+10FFFF are dropped whole;
// encoded surrogates are kept.  `replacement` turns what is dropped into
// U+FFFD instead, as the ANSI conversion of the calls does.
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
// *separator.
const char* ParseString(const char* p, const char* end, char terminator,
                        std::u16string* out, bool* separator = nullptr) {
  while (p < end) {
    // Plain ASCII needs no decoding: copy the run at once.
    const char* run = p;
    while (run < end && static_cast<unsigned char>(*run) < 0x80 &&
           *run != '\\' && *run != terminator) {
      ++run;
    }
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
// and the '=' after it.  Returns where the data begins, or nullptr when the
// name is malformed: Wine then creates no value.
// Finds the first `terminator` that no escape takes: the one after an even
// run of backslashes.  After the byte that follows its backslash, no escape
// goes on with a backslash or a terminator, so the run's parity decides.
// `p` must not be inside an escape.
const char* FindUnescaped(const char* p, const char* end, char terminator) {
  for (const char* from = p;;) {
    const auto* hit = static_cast<const char*>(
        std::memchr(from, terminator, static_cast<std::size_t>(end - from)));
    if (hit == nullptr) return nullptr;
    std::size_t backslashes = 0;
    while (hit - backslashes > p &&
           hit[-1 - static_cast<std::ptrdiff_t>(backslashes)] == '\\') {
      ++backslashes;
    }
    if (backslashes % 2 == 0) return hit;
    from = hit + 1;
  }
}

// Where the data of a value line starts, without decoding its name; nullptr
// when the name is malformed.
const char* ValueDataStart(const char* p, const char* end) {
  if (*p == '@') {
    ++p;
  } else {
    p = FindUnescaped(p + 1, end, '"');
    if (p == nullptr) return nullptr;
    ++p;
  }
  p = SkipBlanks(p, end);
  if (p == end || *p != '=') return nullptr;
  return SkipBlanks(p + 1, end);
}

const char* ParseValueName(const char* p, const char* end,
                           std::u16string* name) {
  name->clear();
  if (*p == '@') {
    ++p;
  } else {
    p = ParseString(p + 1, end, '"', name);
    if (p == nullptr) return nullptr;
  }
  p = SkipBlanks(p, end);
  if (p == end || *p != '=') return nullptr;
  return SkipBlanks(p + 1, end);
}

void AppendUnits(const std::u16string& units, std::string* bytes) {
  for (const char16_t unit : units) {
    bytes->push_back(static_cast<char>(unit & 0xFF));
    bytes->push_back(static_cast<char>(unit >> 8));
  }
}

// Parses a value's data.  A malformed form leaves the value as type
// REG_NONE with no data, as Wine keeps it.  A hex list whose line ends in
// a backslash goes on with the next line from `more`, whatever that line
// holds.  `value` may be null to only step over continuation lines.
void ParseValueData(const char* p, const char* end, Lines* more, Value* value) {
  Value parsed;
  bool ok = false;
  std::u16string text;
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
    if (value == nullptr) return;
    if (ParseString(p, end, '"', &text) != nullptr) {
      text.push_back(u'\0');
      parsed.type = string_type;
      AppendUnits(text, &parsed.data);
      ok = true;
    }
  } else if (StartsWith(p, end, "dword:")) {
    if (value == nullptr) return;
    std::uint64_t number = 0;
    ParseHexNumber(p + 6, end, &number);
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
      const char* close = ParseHexNumber(p + 1, end, &type);
      if (close == nullptr) {  // "hex():" reads as type 0.
        type = 0;
        close = p + 1;
      }
      p = StartsWith(close, end, ")") ? close + 1 : nullptr;
    }
    if (p != nullptr && p < end && *p == ':') {
      parsed.type = static_cast<DWORD>(type);
      ++p;
      ok = true;
      for (;;) {
        // Wine's own layout, "xx," runs, goes at a byte per step.
        while (end - p >= 3 && IsHexDigit(p[0]) && IsHexDigit(p[1]) &&
               p[2] == ',') {
          if (value != nullptr) {
            parsed.data.push_back(
                static_cast<char>(HexDigit(p[0]) * 16 + HexDigit(p[1])));
          }
          p += 3;
        }
        p = SkipBlanks(p, end);
        if (p == end) break;
        if (*p == '\\' && p + 1 == end) {
          Line line;
          if (!more->Next(&line)) {
            ok = false;
            break;
          }
          p = line.begin;
          end = line.end;
          continue;
        }
        std::uint64_t byte;
        const char* next = ParseHexNumber(p, end, &byte);
        if (next == nullptr || byte > 0xFF) {
          ok = false;
          break;
        }
        if (value != nullptr) parsed.data.push_back(static_cast<char>(byte));
        p = SkipBlanks(next, end);
        if (p < end && *p == ',')
          ++p;
        else if (p < end && *p != '\\') {
          ok = false;
          break;
        }
      }
    }
  }
  if (value == nullptr) return;
  if (!ok) parsed = Value{};
  *value = std::move(parsed);
}

// Steps over the continuation lines of a hex value whose line, starting at
// `p`, ends in a backslash; any other line stands alone.
void StepOverValue(const char* p, const char* end, Lines* more) {
  if ((*p != '"' && *p != '@') || end[-1] != '\\') return;
  if (const char* data = ValueDataStart(p, end)) {
    ParseValueData(data, end, more, nullptr);
  }
}

inline std::uint64_t HashStep(std::uint64_t hash, char16_t unit) {
  return (hash ^ FoldCase(unit)) * 0x100000001B3ull;
}

// A name's units, whether decoded or plain ASCII bytes from the file.
inline char16_t Unit(char16_t unit) { return unit; }
inline char16_t Unit(char byte) { return static_cast<unsigned char>(byte); }

template <typename Text>
std::uint32_t HashName(std::uint32_t parent, Text name) {
  std::uint64_t hash = 0xCBF29CE484222325ull ^ (parent * 0x9E3779B97F4A7C15ull);
  for (const auto unit : name) hash = HashStep(hash, Unit(unit));
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

// Wine's order: unit by unit after folding, a prefix first.
template <typename Name>
bool OrderFolded(Name a, Name b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = FoldCase(Unit(a[i]));
    const char16_t y = FoldCase(Unit(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

template <typename Stored, typename Text>
bool SameFolded(Stored stored, Text name) {
  if (stored.size() != name.size()) return false;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (FoldCase(stored[i]) != FoldCase(Unit(name[i]))) return false;
  }
  return true;
}

// Splits `path` at backslashes, skipping empty elements.
class PathElements {
 public:
  explicit PathElements(std::u16string_view path) : rest_(path) {}

  bool Next(std::u16string_view* element) {
    while (!rest_.empty()) {
      const std::size_t cut = rest_.find(u'\\');
      *element = rest_.substr(0, cut);
      rest_ = cut == std::u16string_view::npos ? std::u16string_view()
                                               : rest_.substr(cut + 1);
      if (!element->empty()) return true;
    }
    return false;
  }

  bool AtEnd() const {
    return rest_.find_first_not_of(u'\\') == std::u16string_view::npos;
  }

 private:
  std::u16string_view rest_;
};

}  // namespace

bool Hive::Load(HiveBytes text) {
  *this = Hive();
  if (!text.ok() || text.size() >= HiveBytes::kLimit) return false;
  text_ = std::move(text);
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();
  may_hold_nul_ = std::memchr(begin, '\0', text_.size()) != nullptr;

  Lines lines(begin, end, may_hold_nul_);
  Line line;
  if (!lines.Next(&line) ||
      std::string_view(line.begin, static_cast<std::size_t>(
                                       line.end - line.begin)) != kHeader) {
    return false;
  }

  keys_.push_back(Key{HashName(kNone, std::u16string_view()), kNone, 0, kNone,
                      kNone, kNone, kNone, 0, false, false});
  // Room for a typical hive's keys below half load.
  std::size_t slots = 1024;
  while (slots < text_.size() / 256) slots *= 2;
  table_.assign(slots, kNone);
  // About one key per 150 bytes of a typical hive, with short names.
  keys_.reserve(text_.size() / 150 + 16);
  bodies_.reserve(text_.size() / 150 + 16);

  std::string_view arch;
  bool stopped = false;
  while (!stopped) {
    const char* line_start = lines.position();
    if (!lines.Next(&line)) break;
    const char* p = SkipBlanks(line.begin, line.end);
    if (p == line.end) continue;
    switch (*p) {
      case '[':
        CloseBody(line_start);
        StartSection(p + 1, line.end);
        if (current_ != kNone) {
          bodies_.push_back(Body{
              static_cast<std::uint32_t>(lines.position() - begin), 0, kNone});
        }
        break;
      case '"':
      case '@':
        // Only a hex list that ends in a backslash reaches past its line.
        if (current_ != kNone) StepOverValue(p, line.end, &lines);
        break;
      case '#':
        if (current_ != kNone) {
          if (StartsWith(p, line.end, "#link")) keys_[current_].link = true;
        } else if (StartsWith(p, line.end, "#arch=")) {
          // An unknown or changed architecture stops the load here; what
          // came before stays.
          const std::string_view value(
              p + 6, static_cast<std::size_t>(line.end - p - 6));
          stopped = (value != "win32" && value != "win64") ||
                    (!arch.empty() && value != arch);
          arch = value;
        }
        break;
      default:
        break;  // Comments and unknown lines are skipped.
    }
  }
  CloseBody(end);
  previous_path_ = {};
  boundaries_.clear();
  return true;
}

void Hive::CloseBody(const char* end) {
  if (current_ == kNone) return;
  Body& body = bodies_.back();
  body.end = static_cast<std::uint32_t>(end - text_.data());
  const auto index = static_cast<std::uint32_t>(bodies_.size() - 1);
  Key& key = keys_[current_];
  if (key.first_body == kNone) {
    key.first_body = index;
  } else {
    bodies_[key.last_body].next = index;
  }
  key.last_body = index;
  current_ = kNone;
}

void Hive::StartSection(const char* name, const char* end) {
  current_ = kNone;
  // Sections come depth first, so a path mostly repeats the one before it.
  // The parse up to a separator depends only on the bytes before it: resume
  // after the last separator inside the shared prefix.
  const std::size_t shared =
      SharedPrefix(std::string_view(name, static_cast<std::size_t>(end - name)),
                   previous_path_);
  std::size_t kept = boundaries_.size();
  while (kept > 0 && boundaries_[kept - 1].offset > shared) --kept;
  const char* p = name + (kept > 0 ? boundaries_[kept - 1].offset : 0);

  // The resumed part starts after a separator, outside any escape.
  const char* close = FindUnescaped(p, end, ']');
  if (close == nullptr) return;  // Malformed: Wine creates nothing.
  boundaries_.resize(kept);
  previous_path_ =
      std::string_view(name, static_cast<std::size_t>(close - name));
  // The latest element's key, whose link, if it is one, is followed only
  // when another element comes after it.
  std::uint32_t pending = kept > 0 ? boundaries_.back().pending : kNone;

  // Creates the keys along the path.  A failing element drops the section,
  // but keys made before it stay.
  const auto visit = [&](auto element) {
    if (element.empty()) return true;
    if (element.size() > kMaxNameUnits) return false;
    std::uint32_t parent = kRoot;
    if (pending != kNone) {
      parent = pending;
      int budget = kMaxLinks;
      if (keys_[parent].link &&
          FollowLink(parent, &budget, &parent) != ERROR_SUCCESS) {
        return false;
      }
    }
    const std::uint32_t hash = HashName(parent, element);
    pending = FindChild(parent, element, hash);
    if (pending == kNone) pending = AddChild(parent, element, hash);
    return true;
  };
  for (;;) {
    // An element of plain ASCII, ended by an escaped backslash or the ']',
    // needs no decoding.
    const char* run = p;
    while (run < close && *run != '\\' &&
           static_cast<unsigned char>(*run) < 0x80) {
      ++run;
    }
    bool separator = false;
    if (run == close || (run[0] == '\\' && run[1] == '\\')) {
      if (!visit(std::string_view(p, static_cast<std::size_t>(run - p)))) {
        return;
      }
      separator = run != close;
      p = run + 2;
    } else {
      scratch_.clear();
      p = ParseString(p, close + 1, ']', &scratch_, &separator);
      if (!visit(std::u16string_view(scratch_))) return;
    }
    if (!separator) break;
    boundaries_.push_back(
        Boundary{static_cast<std::size_t>(p - name), pending});
  }
  current_ = pending != kNone ? pending : kRoot;
}

template <typename Text>
std::uint32_t Hive::FindChild(std::uint32_t parent, Text name,
                              std::uint32_t hash) const {
  const std::size_t mask = table_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t index = table_[slot];
    if (index == kNone) return kNone;
    const Key& key = keys_[index];
    if (key.hash == hash && key.parent == parent &&
        SameFolded(Name(index), name)) {
      return index;
    }
  }
}

template <typename Text>
std::uint32_t Hive::AddChild(std::uint32_t parent, Text name,
                             std::uint32_t hash) {
  const auto index = static_cast<std::uint32_t>(keys_.size());
  Key key{hash,
          parent,
          static_cast<std::uint32_t>(names_.size()),
          kNone,
          keys_[parent].first_child,
          kNone,
          kNone,
          static_cast<std::uint16_t>(name.size()),
          false,
          false};
  if constexpr (std::is_same_v<Text, std::string_view>) {
    // Plain ASCII straight from the file: the name stays where it is.
    key.name_begin = static_cast<std::uint32_t>(name.data() - text_.data());
    key.plain_name = true;
  } else {
    names_.append(name);
  }
  keys_.push_back(key);
  keys_[parent].first_child = index;
  if (keys_.size() * 2 > table_.size()) {
    GrowTable();
  } else {
    const std::size_t mask = table_.size() - 1;
    std::size_t slot = hash & mask;
    while (table_[slot] != kNone) slot = (slot + 1) & mask;
    table_[slot] = index;
  }
  return index;
}

void Hive::GrowTable() {
  table_.assign(table_.size() * 2, kNone);
  const std::size_t mask = table_.size() - 1;
  for (std::uint32_t index = 1; index < keys_.size(); ++index) {
    std::size_t slot = keys_[index].hash & mask;
    while (table_[slot] != kNone) slot = (slot + 1) & mask;
    table_[slot] = index;
  }
}

LONG Hive::FollowLink(std::uint32_t link, int* budget,
                      std::uint32_t* target) const {
  if (--*budget < 0) return ERROR_INVALID_PARAMETER;
  Value value;
  if (!FindValue(link, u"SymbolicLinkValue", &value)) {
    return ERROR_FILE_NOT_FOUND;
  }
  const std::u16string path = value.Units();
  // Only targets in the machine hive are found in system.reg.
  constexpr std::u16string_view kMachine = u"\\registry\\machine";
  if (path.size() < kMachine.size() ||
      !EqualFolded(std::u16string_view(path).substr(0, kMachine.size()),
                   kMachine) ||
      (path.size() > kMachine.size() && path[kMachine.size()] != u'\\')) {
    return ERROR_FILE_NOT_FOUND;
  }
  return Walk(kRoot, std::u16string_view(path).substr(kMachine.size()), true,
              budget, target);
}

LONG Hive::Walk(std::uint32_t from, std::u16string_view path, bool follow_last,
                int* budget, std::uint32_t* result) const {
  std::uint32_t key = from;
  PathElements elements(path);
  std::u16string_view element;
  while (elements.Next(&element)) {
    key = FindChild(key, element, HashName(key, element));
    if (key == kNone) return ERROR_FILE_NOT_FOUND;
    if (keys_[key].link && (follow_last || !elements.AtEnd())) {
      const LONG status = FollowLink(key, budget, &key);
      if (status != ERROR_SUCCESS) return status;
    }
  }
  *result = key;
  return ERROR_SUCCESS;
}

LONG Hive::Open(std::uint32_t key, std::u16string_view path,
                std::uint32_t* result) const {
  int budget = kMaxLinks;
  return Walk(key, path, true, &budget, result);
}

const std::vector<std::uint32_t>& Hive::Subkeys(std::uint32_t key) {
  if (const auto it = subkeys_.find(key); it != subkeys_.end()) {
    return it->second;
  }
  // Built aside and only then kept, so that running out of memory on the
  // way leaves no partial list behind.
  std::vector<std::uint32_t> subkeys;
  for (std::uint32_t child = keys_[key].first_child; child != kNone;
       child = keys_[child].next_sibling) {
    subkeys.push_back(child);
  }
  std::reverse(subkeys.begin(), subkeys.end());  // Creation order.
  std::stable_sort(subkeys.begin(), subkeys.end(),
                   [this](std::uint32_t a, std::uint32_t b) {
                     return OrderFolded(Name(a), Name(b));
                   });
  return subkeys_.emplace(key, std::move(subkeys)).first->second;
}

Hive::NameView Hive::Name(std::uint32_t key) const {
  const Key& k = keys_[key];
  if (k.plain_name) {
    return NameView{text_.data() + k.name_begin, nullptr, k.name_size};
  }
  return NameView{nullptr, names_.data() + k.name_begin, k.name_size};
}

std::string Hive::NameUtf8(std::uint32_t key) const {
  const NameView name = Name(key);
  if (name.bytes != nullptr) return std::string(name.bytes, name.size());
  return Utf16ToUtf8(std::u16string_view(name.units, name.size()));
}

template <typename Visit>
void Hive::ForEachLine(std::uint32_t key, Visit visit) const {
  for (std::uint32_t b = keys_[key].first_body; b != kNone;
       b = bodies_[b].next) {
    Lines lines(text_.data() + bodies_[b].begin, text_.data() + bodies_[b].end,
                may_hold_nul_);
    Line line;
    while (lines.Next(&line)) {
      const char* p = SkipBlanks(line.begin, line.end);
      if (p != line.end) visit(p, line.end, &lines);
    }
  }
}

std::uint64_t Hive::LastWriteTime(std::uint32_t key) const {
  std::uint64_t time = 0;
  ForEachLine(key, [&](const char* p, const char* end, Lines* more) {
    if (StartsWith(p, end, "#time=")) {
      ParseHexNumber(p + 6, end, &time);
    } else {
      StepOverValue(p, end, more);
    }
  });
  return time;
}

std::u16string Hive::ClassName(std::uint32_t key) const {
  std::u16string class_name;
  ForEachLine(key, [&](const char* p, const char* end, Lines* more) {
    if (StartsWith(p, end, "#class=\"")) {
      std::u16string text;
      if (ParseString(p + 8, end, '"', &text) != nullptr) class_name = text;
    } else {
      StepOverValue(p, end, more);
    }
  });
  return class_name;
}

bool Hive::FindValue(std::uint32_t key, std::u16string_view name,
                     Value* value) const {
  bool found = false;
  std::u16string line_name;
  ForEachLine(key, [&](const char* p, const char* end, Lines* more) {
    if (*p != '"' && *p != '@') return;
    const char* data = ParseValueName(p, end, &line_name);
    if (data == nullptr) return;
    // A later line for the same name replaces the value.
    if (EqualFolded(line_name, name)) {
      ParseValueData(data, end, more, value);
      found = true;
    } else if (end[-1] == '\\') {
      ParseValueData(data, end, more, nullptr);
    }
  });
  return found;
}

std::u16string Value::Units() const {
  std::u16string units(data.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] =
        static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                              static_cast<unsigned char>(data[2 * i + 1]) << 8);
  }
  return units;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      if (cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
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
