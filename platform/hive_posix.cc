// Reads Wine's registry file format, version 2, the way Wine's server loads
// it, including how it treats hand-edited and damaged lines.

#include "platform/hive_posix.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#include "platform/case_fold.h"

namespace registry {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr std::size_t kMaxNameUnits = 256;
constexpr int kMaxLinks = 32;

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

inline std::uint64_t Word(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Whether the `size` >= 3 bytes at `a` and `b` are the same, for the short
// elements of a path, without a call.
bool SameBytes(const char* a, const char* b, std::size_t size) {
  if (size > 8) return std::memcmp(a, b, size) == 0;
  if (size >= 4) {
    std::uint32_t x, y, u, v;
    std::memcpy(&x, a, 4);
    std::memcpy(&y, b, 4);
    std::memcpy(&u, a + size - 4, 4);
    std::memcpy(&v, b + size - 4, 4);
    return x == y && u == v;
  }
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// Whether a hex list may take `line` of a section's body starting at
// `from`: only a list on a line holding a backslash goes on, and none goes
// on from the section's header.
bool MayBeTaken(const char* from, const char* line) {
  // Mostly the line before is empty, as Wine ends every body.
  if (line - from < 2 || line[-2] == '\n') return false;
  const char* const lf = line - 1;
  const char* start = lf;
  while (start > from && start[-1] != '\n') --start;
  return start != lf &&
         std::memchr(start, '\\', static_cast<std::size_t>(lf - start)) !=
             nullptr;
}

// The bytes a rest that waits may start with: an element, not a separator,
// and plain ASCII.  A table, as the run of a key at the top of the tree
// tests it for thousands of sections.
constexpr std::array<bool, 256> kStartsRest = [] {
  std::array<bool, 256> starts{};
  for (int c = 0; c < 256; ++c) starts[c] = c != '\\' && c < 0x80;
  return starts;
}();

inline bool StartsRest(char c) {
  return kStartsRest[static_cast<unsigned char>(c)];
}

// Past this many bytes from its header line's start, a rest does not fit a
// section's record, and the path is walked at once.
constexpr std::ptrdiff_t kMaxRestEnd = std::ptrdiff_t{1} << 16;

// Whether the rest of a path from `p` may wait below a key: it is too short
// for an element over the limit, it starts with an element for certain, and
// its section's record can hold it.
bool MayWait(const char* p, const char* close, const char* header) {
  // From 1 to kMaxNameUnits bytes, as one unsigned test.
  return static_cast<std::size_t>(close - p) - 1 < kMaxNameUnits &&
         StartsRest(*p) && close - header < kMaxRestEnd;
}

// A name's units, whether decoded or plain ASCII bytes from the file.
inline char16_t Unit(char16_t unit) { return unit; }
inline char16_t Unit(char byte) { return static_cast<unsigned char>(byte); }

constexpr std::uint64_t kHashFactor = 0x517CC1B727220A95ull;

// The rotation carries every bit of a word into the low bits, which pick
// the slot, within the next steps.
inline std::uint64_t HashStep(std::uint64_t hash, std::uint64_t word) {
  return (std::rotl(hash, 5) ^ word) * kHashFactor;
}

// A name's hash below `parent`, the same for the file's bytes as for the
// units they stand for: eight ASCII units a step, any other unit alone.
template <typename Text>
std::uint32_t HashName(std::uint32_t parent, Text name) {
  std::uint64_t hash = 0xCBF29CE484222325ull ^ (parent * 0x9E3779B97F4A7C15ull);
  const auto eight = [&](std::size_t at) {
    if (std::uint64_t word; AsciiWord(name, at, &word)) {
      hash = HashStep(hash, FoldAscii(word));
    } else {
      for (std::size_t k = at; k < at + 8; ++k) {
        hash = HashStep(hash, FoldCase(Unit(name[k])));
      }
    }
  };
  std::size_t i = 0;
  for (; name.size() - i >= 8; i += 8) eight(i);
  if (i > 0 && i < name.size()) {
    // The last units of a longer name go in as the eight that end it.
    eight(name.size() - 8);
  } else {
    for (; i < name.size(); ++i) hash = HashStep(hash, FoldCase(Unit(name[i])));
  }
  hash = (hash ^ (hash >> 32)) * kHashFactor;
  return static_cast<std::uint32_t>(hash >> 32);
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
  // Names are mostly asked for as they are written: identical bytes are
  // alike folded too.
  if constexpr (std::is_same_v<Text, std::string_view>) {
    if (stored.bytes != nullptr &&
        std::memcmp(stored.bytes, name.data(), name.size()) == 0) {
      return true;
    }
  }
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (FoldCase(stored[i]) != FoldCase(Unit(name[i]))) return false;
  }
  return true;
}

// Splits `path` at backslashes, skipping empty elements.
template <typename Text>
class PathElements {
 public:
  explicit PathElements(Text path) : rest_(path) {}

  bool Next(Text* element) {
    while (!rest_.empty()) {
      const std::size_t cut = rest_.find('\\');
      *element = rest_.substr(0, cut);
      rest_ = cut == Text::npos ? Text() : rest_.substr(cut + 1);
      if (!element->empty()) return true;
    }
    return false;
  }

  bool AtEnd() const { return rest_.find_first_not_of('\\') == Text::npos; }

 private:
  Text rest_;
};

}  // namespace

bool Hive::Load(HiveBytes text) {
  *this = Hive();
  if (!text.ok() || text.size() >= HiveBytes::kLimit) return false;
  // The rest of the reader takes lines that no NUL cuts short.
  if (std::memchr(text.data(), '\0', text.size()) != nullptr) {
    text = HiveBytes(WineLines(std::string_view(text.data(), text.size())));
    if (!text.ok() || text.size() >= HiveBytes::kLimit) return false;
  }
  text_ = std::move(text);
  const char* const begin = text_.data();
  const char* const end = begin + text_.size();

  Lines lines(begin, end);
  Line line;
  if (!lines.Next(&line) ||
      std::string_view(line.begin, static_cast<std::size_t>(
                                       line.end - line.begin)) != kHeader) {
    return false;
  }

  keys_.push_back(
      Key{kNone, 0, kNone, kNone, kNone, kNone, kNone, kNone, 0, 0, 0, 0});
  // Room for the keys that listing a few hundred programs makes, so that
  // the table seldom grows.
  table_.assign(2048, kNone);
  // Room for twice a typical hive's sections and keys (one per 190 bytes)
  // costs nothing until it is used, while growing copies what is there.
  sections_.reserve(text_.size() / 96 + 16);
  keys_.reserve(text_.size() / 96 + 16);

  std::string_view arch;
  bool stopped = false;
  while (!stopped) {
    const char* line_start = lines.position();
    if (!lines.Next(&line)) break;
    const char* p = SkipSpace(line.begin, line.end);
    if (p == line.end) continue;
    switch (*p) {
      case '[':
        lines = Lines(ReadSections(line_start, p), end);
        break;
      case '"':
      case '@':
        // Only a hex list that ends in a backslash reaches past its line.
        if (current_ != kNone) StepOverValue(p, line.end, &lines);
        break;
      case '#':
        if (current_ != kNone) {
          if (StartsWith(p, line.end, "#link")) MakeLink();
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
  current_ = kNone;
  previous_path_ = {};
  boundaries_.clear();
  return true;
}

inline void Hive::OpenSection(const char* line, const char* open,
                              const char* close) {
  const auto section = static_cast<std::uint32_t>(sections_.size());
  sections_.push_back(
      Section{static_cast<std::uint32_t>(line - text_.data()), kNone, 0});
  StartSection(line, open + 1, close, section);
  if (current_ != kNone) current_section_ = section;
}

inline bool Hive::JoinRootRun(const char* line, const char* open,
                              const char* close) {
  // The section before waits at the root, so the root is not read into, no
  // separator is kept, and the root's last run ends with that section.
  if (current_ != kDeferred || deferred_at_ != kRoot || close == nullptr) {
    return false;
  }
  const char* const name = open + 1;
  Run& tail = runs_[keys_[kRoot].last_pending];
  if (!MayWait(name, close, line) || tail.rest != name - line) return false;
  // The next record after that run's last.
  const std::uint32_t section = tail.last + 1;
  sections_.push_back(Section{static_cast<std::uint32_t>(line - text_.data()),
                              kNone, static_cast<std::uint16_t>(close - line)});
  tail.last = section;
  previous_path_ =
      std::string_view(name, static_cast<std::size_t>(close - name));
  current_section_ = section;
  return true;
}

const char* Hive::ReadSections(const char* line, const char* open) {
  const char* const end = text_.data() + text_.size();
  const HeaderLine header = ScanHeader(open + 1, end);
  OpenSection(line, open, header.close);
  if (current_ == kNone) return header.next;
  // Passes over the bodies, taking their "#link" lines, from header to
  // header; the scan finds a few of them at a time.
  const char* from = header.next;
  const char* p = BodyStart(from, end);
  OpenOrLink found[32];
  for (;;) {
    const std::size_t count = FindOpenOrLinks(&from, &p, end, found, 32);
    for (std::size_t i = 0; i < count; ++i) {
      const OpenOrLink& hit = found[i];
      if (hit.open == end) return end;
      // A line there may belong to a hex list from the line before it.
      if (MayBeTaken(hit.from, hit.line)) return hit.from;
      if (*hit.open == '[') {
        if (JoinRootRun(hit.line, hit.open, hit.header.close)) continue;
        OpenSection(hit.line, hit.open, hit.header.close);
        if (current_ == kNone) return hit.header.next;
      } else {
        MakeLink();
      }
    }
  }
}

void Hive::MakeLink() {
  while (current_ == kDeferred) Expand(deferred_at_);
  keys_[current_].link = true;
  // Paths resumed from the previous section's parse were walked with the
  // links as they stood before.
  previous_path_ = {};
  boundaries_.clear();
}

void Hive::Body(std::uint32_t section, const char** begin,
                const char** end) const {
  const char* const text_end = text_.data() + text_.size();
  const char* const header = text_.data() + sections_[section].header;
  const auto* lf = static_cast<const char*>(
      std::memchr(header, '\n', static_cast<std::size_t>(text_end - header)));
  *begin = lf != nullptr ? lf + 1 : text_end;
  *end = section + 1 < sections_.size()
             ? text_.data() + sections_[section + 1].header
             : text_end;
}

void Hive::Attach(std::uint32_t key, std::uint32_t section) {
  // Bodies come in file order: a key is made only once every section
  // pending above it has been read into it.
  sections_[section].next = kNone;
  if (keys_[key].first_body == kNone) {
    keys_[key].first_body = section;
  } else {
    sections_[keys_[key].last_body].next = section;
  }
  keys_[key].last_body = section;
}

void Hive::Queue(std::uint32_t key, std::uint32_t first, std::uint32_t last,
                 std::uint16_t rest) {
  const std::uint32_t tail = keys_[key].last_pending;
  if (tail != kNone && runs_[tail].last + 1 == first &&
      runs_[tail].rest == rest) {
    runs_[tail].last = last;
  } else {
    AddRun(key, first, last, rest);
  }
}

void Hive::AddRun(std::uint32_t key, std::uint32_t first, std::uint32_t last,
                  std::uint16_t rest) {
  const std::uint32_t tail = keys_[key].last_pending;
  const auto run = static_cast<std::uint32_t>(runs_.size());
  runs_.push_back(Run{first, last, kNone, rest});
  if (tail == kNone) {
    keys_[key].first_pending = run;
  } else {
    runs_[tail].next = run;
  }
  keys_[key].last_pending = run;
}

bool Hive::Wait(std::uint32_t key, const char* header, const char* p,
                const char* close, std::uint32_t section) {
  if (keys_[key].expanded) return false;
  sections_[section].close = static_cast<std::uint16_t>(close - header);
  Queue(key, section, section, static_cast<std::uint16_t>(p - header));
  return true;
}

inline void Hive::StartSection(const char* header, const char* name,
                               const char* close, std::uint32_t section) {
  current_ = kNone;
  if (close == nullptr) return;  // Malformed: Wine creates nothing.
  const std::string_view path(name, static_cast<std::size_t>(close - name));
  // Until something looks into HKEY_LOCAL_MACHINE, no path was walked and
  // every path waits there.
  if (boundaries_.empty()) {
    previous_path_ = path;
    if (MayWait(name, close, header) &&
        Wait(kRoot, header, name, close, section)) {
      current_ = kDeferred;
      deferred_at_ = kRoot;
      return;
    }
  }
  ResumeSection(path, section);
}

void Hive::ResumeSection(std::string_view path, std::uint32_t section) {
  // Sections come depth first, so a path mostly repeats the one before it.
  // The parse up to a separator depends only on the bytes before it: resume
  // after the last separator inside the shared prefix.
  std::size_t kept = boundaries_.size();
  const std::size_t shared = kept == 0 ? 0 : SharedPrefix(path, previous_path_);
  while (kept > 0 && boundaries_[kept - 1].offset > shared) --kept;
  const char* const name = path.data();
  const char* const close = name + path.size();
  const char* const p = name + (kept > 0 ? boundaries_[kept - 1].offset : 0);
  boundaries_.resize(kept);
  previous_path_ = path;
  const char* const header = text_.data() + sections_[section].header;
  if (kept == 0 && MayWait(p, close, header) &&
      Wait(kRoot, header, p, close, section)) {
    current_ = kDeferred;
    deferred_at_ = kRoot;
    return;
  }
  std::uint32_t at = kNone;
  current_ = Descend(kept > 0 ? boundaries_.back().pending : kNone, true, name,
                     p, close, section, &at);
  if (current_ == kDeferred) deferred_at_ = at;
}

std::uint32_t Hive::Descend(std::uint32_t pending, bool follow,
                            const char* name, const char* p, const char* close,
                            std::uint32_t section, std::uint32_t* pending_at) {
  // Creates the keys along the path.  A failing element drops the section,
  // but keys made before it stay.
  for (;;) {
    // The key the next element goes in: through a link to its target, made
    // if missing, as for the last element below.
    std::uint32_t parent = kNone;
    const auto into = [&] {
      if (parent != kNone) return true;
      parent = pending != kNone ? pending : kRoot;
      int budget = kMaxLinks;
      return pending == kNone || !follow || !keys_[parent].link ||
             CreateThroughLink(parent, &budget, &parent) == ERROR_SUCCESS;
    };
    const char* const header = text_.data() + sections_[section].header;
    if (MayWait(p, close, header)) {
      if (!into()) return kNone;
      if (Wait(parent, header, p, close, section)) {
        *pending_at = parent;
        return kDeferred;
      }
    }
    const auto visit = [&](auto element) {
      if (element.empty()) return true;
      if (element.size() > kMaxNameUnits || !into()) return false;
      pending = Child(parent, element);
      follow = true;
      return true;
    };
    // An element of plain ASCII, ended by an escaped backslash or the ']',
    // needs no decoding.
    const char* run = PlainRunEnd(p, close);
    bool separator = false;
    if (run == close || (run[0] == '\\' && run[1] == '\\')) {
      if (!visit(std::string_view(p, static_cast<std::size_t>(run - p)))) {
        return kNone;
      }
      separator = run != close;
      p = run + 2;
    } else {
      // Not a member: making the child may read other sections' paths.
      std::u16string decoded;
      p = ParseString(p, close + 1, ']', &decoded, &separator);
      if (!visit(std::u16string_view(decoded))) return kNone;
    }
    if (!separator) break;
    if (name != nullptr) {
      boundaries_.push_back(
          Boundary{static_cast<std::size_t>(p - name), pending});
    }
  }
  std::uint32_t key = pending != kNone ? pending : kRoot;
  // A key that is a link already when its section comes again takes that
  // section's values on its target; its first section makes it a link.
  if (follow && keys_[key].link) {
    int budget = kMaxLinks;
    if (CreateThroughLink(key, &budget, &key) != ERROR_SUCCESS) return kNone;
  }
  Attach(key, section);
  return key;
}

template <typename Same>
std::uint32_t Hive::RunEnd(const char* text, const Section* sections,
                           std::uint32_t from, std::uint32_t last,
                           std::size_t element_at, std::size_t rest,
                           Same same) {
  // The rest was short enough to wait, and stays so.
  const auto goes_on = [&](const Section* section) {
    const char* const other = text + section->header;
    return section->close > rest && same(other + element_at) &&
           StartsRest(other[rest]);
  };
  const Section* section = sections + from;
  const Section* const stop = sections + last;
  // Thousands of sections below a key at the top of the tree: two a round.
  for (; section < stop; section += 2) {
    if (!goes_on(section)) break;
    if (!goes_on(section + 1)) {
      return static_cast<std::uint32_t>(section + 1 - sections);
    }
  }
  if (section == stop && goes_on(section)) ++section;
  return static_cast<std::uint32_t>(section - sections);
}

void Hive::Expand(std::uint32_t key) {
  if (keys_[key].expanded) return;
  keys_[key].expanded = true;
  const std::uint32_t last_run = keys_[key].last_pending;
  std::uint32_t run = keys_[key].first_pending;
  keys_[key].first_pending = kNone;
  keys_[key].last_pending = kNone;
  const char* const text = text_.data();
  // Sections are only moved here, never added.
  const Section* const sections = sections_.data();
  // The section being loaded, if it waits: where it goes is followed.  It
  // is in these runs at most once.
  const std::uint32_t watched =
      current_ == kDeferred ? current_section_ : kNone;
  std::uint32_t index = kNone;  // The next section of `run` to read.
  try {
    for (; run != kNone; run = runs_[run].next) {
      const Run waiting = runs_[run];
      for (index = waiting.first; index <= waiting.last;) {
        const char* const header = text + sections[index].header;
        const char* const p = header + waiting.rest;
        const char* const close = header + sections[index].close;
        // Nothing below the key was a link when these sections came, nor is
        // one now: the rest of each path is read as it stands.
        std::uint32_t at = kNone;
        const std::uint32_t result =
            Descend(key, false, nullptr, p, close, index, &at);
        if (index == watched) {
          if (result == kDeferred) {
            deferred_at_ = at;
          } else {
            current_ = result;
          }
        }
        ++index;
        // The sections after it whose paths start with the same plain
        // element, with its separator, go on in the same child.  They come
        // in runs and wait there as they stand, told by their bytes alone.
        // Where this one does not wait, each is walked on its own.
        if (result != kDeferred) continue;
        const char* const plain = PlainRunEnd(p, close);
        if (plain == p || close - plain <= 2 || plain[0] != '\\' ||
            plain[1] != '\\') {
          continue;
        }
        const std::uint32_t child = Child(
            key, std::string_view(p, static_cast<std::size_t>(plain - p)));
        // Sections wait only below a key not read into.
        if (keys_[child].expanded) continue;
        const auto size = static_cast<std::size_t>(plain + 2 - p);
        const std::size_t rest = waiting.rest + size;
        // Most elements take 8 to 16 bytes: two words, read from the
        // element once.
        std::uint32_t end;
        if (size >= 8 && size <= 16) {
          const std::uint64_t first = Word(p);
          const std::uint64_t last = Word(p + size - 8);
          end = RunEnd(text, sections, index, waiting.last, waiting.rest, rest,
                       [first, last, size](const char* other) {
                         return Word(other) == first &&
                                Word(other + size - 8) == last;
                       });
        } else {
          end = RunEnd(text, sections, index, waiting.last, waiting.rest, rest,
                       [p, size](const char* other) {
                         return SameBytes(other, p, size);
                       });
        }
        if (end == index) continue;
        Queue(child, index, end - 1, static_cast<std::uint16_t>(rest));
        if (watched >= index && watched < end) deferred_at_ = child;
        index = end;
      }
    }
  } catch (...) {
    // Out of memory: the sections not read yet stay pending, and the keys
    // already made are found again by the next try.
    keys_[key].expanded = false;
    if (index > runs_[run].last) run = runs_[run].next;
    if (run != kNone) {
      runs_[run].first = index;
      keys_[key].first_pending = run;
      keys_[key].last_pending = last_run;
    }
    last_parent_ = kNone;
    throw;
  }
}

template <typename Text>
bool Hive::IsChild(std::uint32_t key, std::uint32_t parent, Text name) const {
  return keys_[key].parent == parent && SameFolded(Name(key), name);
}

template <typename Text>
std::uint32_t Hive::FindChild(std::uint32_t parent, Text name,
                              std::uint32_t hash) const {
  const std::size_t mask = table_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t index = table_[slot];
    if (index == kNone) return kNone;
    if (IsChild(index, parent, name)) return index;
  }
}

template <typename Text>
std::uint32_t Hive::AddChild(std::uint32_t parent, Text name,
                             std::uint32_t hash) {
  // Keys are also made after loading, by calls that must leave the tree
  // whole when memory runs out: everything that allocates comes first.
  if ((keys_.size() + 1) * 2 > table_.size()) GrowTable();
  const auto index = static_cast<std::uint32_t>(keys_.size());
  Key key{parent,
          static_cast<std::uint32_t>(names_.size()),
          kNone,
          keys_[parent].first_child,
          kNone,
          kNone,
          kNone,
          kNone,
          static_cast<std::uint16_t>(name.size()),
          0,
          0,
          0};
  if constexpr (std::is_same_v<Text, std::string_view>) {
    // Plain ASCII straight from the file: the name stays where it is.
    key.name_begin = static_cast<std::uint32_t>(name.data() - text_.data());
    key.plain_name = true;
  } else {
    names_.append(name);
  }
  keys_.push_back(key);
  keys_[parent].first_child = index;
  const std::size_t mask = table_.size() - 1;
  std::size_t slot = hash & mask;
  while (table_[slot] != kNone) slot = (slot + 1) & mask;
  table_[slot] = index;
  return index;
}

void Hive::GrowTable() {
  table_.assign(table_.size() * 2, kNone);
  const std::size_t mask = table_.size() - 1;
  for (std::uint32_t index = 1; index < keys_.size(); ++index) {
    const NameView name = Name(index);
    const std::uint32_t parent = keys_[index].parent;
    std::size_t slot =
        (name.bytes != nullptr
             ? HashName(parent, std::string_view(name.bytes, name.size()))
             : HashName(parent, std::u16string_view(name.units, name.size()))) &
        mask;
    while (table_[slot] != kNone) slot = (slot + 1) & mask;
    table_[slot] = index;
  }
}

template <typename Text>
std::uint32_t Hive::Child(std::uint32_t parent, Text name) {
  // Sections of one key mostly follow each other.
  if constexpr (std::is_same_v<Text, std::string_view>) {
    if (parent == last_parent_ && name == last_name_) return last_child_;
  }
  Expand(parent);
  const std::uint32_t hash = HashName(parent, name);
  std::uint32_t key = FindChild(parent, name, hash);
  if (key == kNone) key = AddChild(parent, name, hash);
  if constexpr (std::is_same_v<Text, std::string_view>) {
    last_parent_ = parent;
    last_name_ = name;
    last_child_ = key;
  }
  return key;
}

LONG Hive::Machine(int* budget, std::uint32_t* machine) {
  // Each way on from "\Registry" made a link leads back through it.
  if (registry_ != kNone && keys_[registry_].link) return ERROR_FILE_NOT_FOUND;
  *machine = kRoot;
  return keys_[kRoot].link ? FollowLink(kRoot, budget, machine) : ERROR_SUCCESS;
}

LONG Hive::OpenMachine(std::uint32_t* machine) {
  int budget = kMaxLinks;
  return Machine(&budget, machine);
}

LONG Hive::LinkTarget(std::uint32_t link, int* budget, std::uint32_t* from,
                      std::u16string* path) {
  Value value;
  if (!FindValue(link, u"SymbolicLinkValue", &value)) {
    return ERROR_FILE_NOT_FOUND;
  }
  *path = value.Units();
  constexpr std::u16string_view kRegistry = u"\\registry";
  const std::u16string_view target(*path);
  if (target.size() < kRegistry.size() ||
      !EqualFolded(target.substr(0, kRegistry.size()), kRegistry) ||
      (target.size() > kRegistry.size() && target[kRegistry.size()] != u'\\') ||
      (target.size() > kRegistry.size() + 1 &&
       target[kRegistry.size() + 1] == u'\\')) {
    return ERROR_FILE_NOT_FOUND;
  }
  // The first element names a hive below "\Registry": this file's is
  // "Machine"; any other is a key that sections made through links.
  const std::size_t first = std::min(target.size(), kRegistry.size() + 1);
  const std::size_t cut = std::min(target.find(u'\\', first), target.size());
  if (EqualFolded(target.substr(first, cut - first), u"machine")) {
    path->erase(0, cut);
    return Machine(budget, from);
  }
  if (registry_ == kNone) {
    keys_.push_back(
        Key{kNone, 0, kNone, kNone, kNone, kNone, kNone, kNone, 0, 0, 0, 1});
    registry_ = static_cast<std::uint32_t>(keys_.size() - 1);
  }
  *from = registry_;
  path->erase(0, first);
  return ERROR_SUCCESS;
}

LONG Hive::FollowLink(std::uint32_t link, int* budget, std::uint32_t* target) {
  if (--*budget < 0) return ERROR_INVALID_PARAMETER;
  std::uint32_t from;
  std::u16string path;
  if (const LONG status = LinkTarget(link, budget, &from, &path);
      status != ERROR_SUCCESS) {
    return status;
  }
  return Walk(from, std::u16string_view(path), true, budget, target);
}

LONG Hive::CreateThroughLink(std::uint32_t link, int* budget,
                             std::uint32_t* target) {
  if (--*budget < 0) return ERROR_INVALID_PARAMETER;
  std::uint32_t from;
  std::u16string path;
  if (const LONG status = LinkTarget(link, budget, &from, &path);
      status != ERROR_SUCCESS) {
    return status;
  }
  // Only the target itself is made: the key it goes in must be there.
  const std::size_t last_end = path.find_last_not_of(u'\\') + 1;
  const std::size_t last_begin = path.find_last_of(u'\\', last_end - 1) + 1;
  std::uint32_t parent;
  const LONG status =
      Walk(from, std::u16string_view(path).substr(0, last_begin), true, budget,
           &parent);
  if (status != ERROR_SUCCESS || last_end == 0) {
    *target = parent;
    return status;
  }
  const auto name =
      std::u16string_view(path).substr(last_begin, last_end - last_begin);
  if (name.size() > kMaxNameUnits) return ERROR_INVALID_PARAMETER;
  const std::uint32_t key = Child(parent, name);
  if (keys_[key].link) return CreateThroughLink(key, budget, target);
  *target = key;
  return ERROR_SUCCESS;
}

template <typename Text>
LONG Hive::Walk(std::uint32_t from, Text path, bool follow_last, int* budget,
                std::uint32_t* result) {
  std::uint32_t key = from;
  PathElements<Text> elements(path);
  Text element;
  while (elements.Next(&element)) {
    Expand(key);
    if (named_ != kNone && IsChild(named_, key, element)) {
      key = named_;
    } else {
      key = FindChild(key, element, HashName(key, element));
    }
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
                std::uint32_t* result) {
  int budget = kMaxLinks;
  return Walk(key, path, true, &budget, result);
}

LONG Hive::Open(std::uint32_t key, std::string_view path,
                std::uint32_t* result) {
  int budget = kMaxLinks;
  return Walk(key, path, true, &budget, result);
}

const std::vector<std::uint32_t>& Hive::Subkeys(std::uint32_t key) {
  if (const auto it = subkeys_.find(key); it != subkeys_.end()) {
    return it->second;
  }
  Expand(key);
  // Built aside and only then kept, so that running out of memory on the
  // way leaves no partial list behind.
  std::vector<std::uint32_t> subkeys;
  for (std::uint32_t child = keys_[key].first_child; child != kNone;
       child = keys_[child].next_sibling) {
    subkeys.push_back(child);
  }
  std::reverse(subkeys.begin(), subkeys.end());  // Creation order.
  const auto order = [this](std::uint32_t a, std::uint32_t b) {
    return OrderFolded(Name(a), Name(b));
  };
  // Wine writes sections in order, so they mostly come sorted.
  if (!std::is_sorted(subkeys.begin(), subkeys.end(), order)) {
    std::stable_sort(subkeys.begin(), subkeys.end(), order);
  }
  return subkeys_.emplace(key, std::move(subkeys)).first->second;
}

Hive::NameView Hive::Name(std::uint32_t key) const {
  const Key& k = keys_[key];
  if (k.plain_name) {
    return NameView{text_.data() + k.name_begin, nullptr, k.name_size};
  }
  return NameView{nullptr, names_.data() + k.name_begin, k.name_size};
}

std::string_view Hive::NameUtf8(std::uint32_t key, std::string* scratch) const {
  named_ = key;
  const NameView name = Name(key);
  if (name.bytes != nullptr) return std::string_view(name.bytes, name.size());
  *scratch = Utf16ToUtf8(std::u16string_view(name.units, name.size()));
  return *scratch;
}

template <typename Visit>
void Hive::ForEachBody(std::uint32_t key, Visit visit) const {
  for (std::uint32_t b = keys_[key].first_body; b != kNone;
       b = sections_[b].next) {
    const char* begin;
    const char* end;
    Body(b, &begin, &end);
    visit(begin, end);
  }
}

template <typename Visit>
void Hive::ForEachLineIn(const char* begin, const char* end,
                         Visit visit) const {
  Lines lines(begin, end);
  Line line;
  while (lines.Next(&line)) {
    const char* p = SkipSpace(line.begin, line.end);
    if (p != line.end) visit(p, line.end, &lines);
  }
}

template <typename Visit>
void Hive::ForEachOption(std::uint32_t key, Visit visit) const {
  ForEachBody(key, [&](const char* begin, const char* end) {
    // The '#' lines straight away, unless a hex list may take one.
    for (const char* hash = begin;; ++hash) {
      hash = static_cast<const char*>(
          std::memchr(hash, '#', static_cast<std::size_t>(end - hash)));
      if (hash == nullptr) return;
      const char* line = LineOf(begin, hash);
      if (line == nullptr) continue;
      if (MayBeTaken(begin, line)) break;
      const auto* lf = static_cast<const char*>(
          std::memchr(hash, '\n', static_cast<std::size_t>(end - hash)));
      const char* stop = lf != nullptr ? lf : end;
      if (stop > hash && stop[-1] == '\r') --stop;
      visit(hash, stop);
    }
    // Line by line, from the start again: a later line overrides.
    ForEachLineIn(begin, end,
                  [&](const char* p, const char* stop, Lines* more) {
                    if (*p == '#') {
                      visit(p, stop);
                    } else {
                      StepOverValue(p, stop, more);
                    }
                  });
  });
}

std::uint64_t Hive::LastWriteTime(std::uint32_t key) const {
  std::uint64_t time = 0;
  ForEachOption(key, [&](const char* p, const char* end) {
    if (StartsWith(p, end, "#time=")) ParseNumber(p + 6, end, &time);
  });
  return time;
}

std::u16string Hive::ClassName(std::uint32_t key) const {
  std::u16string class_name;
  ForEachOption(key, [&](const char* p, const char* end) {
    if (StartsWith(p, end, "#class=\"")) {
      std::u16string text;
      if (ParseString(p + 8, end, '"', &text) != nullptr) class_name = text;
    }
  });
  return class_name;
}

bool Hive::FindValue(std::uint32_t key, std::u16string_view name,
                     Value* value) const {
  bool found = false;
  ForEachBody(key, [&](const char* begin, const char* end) {
    // Only a hex list goes on past its line: in a body without one, every
    // line stands alone.
    const bool lists =
        std::string_view(begin, static_cast<std::size_t>(end - begin))
            .find("hex") != std::string_view::npos;
    const auto take = [&](const char* p, const char* stop, Lines* more) {
      if (*p != '"' && *p != '@') return;
      // A later line for the same name replaces the value.
      if (const char* data = MatchValueName(p, stop, name)) {
        ParseValueData(data, stop, more, value);
        found = true;
      } else if (lists) {
        StepOverValue(p, stop, more);
      }
    };
    if (lists || name.empty()) {
      ForEachLineIn(begin, end, take);
      return;
    }
    // Lines that stand alone: only one that starts with white space, or
    // with a quote and a name whose first byte may be the name's first
    // unit, can be the name's.  ('@' names the default value alone.)
    const char16_t first = FoldCase(name[0]);
    ForEachLineStart(begin, end, [&](const char* start) {
      const auto c = static_cast<unsigned char>(start[0]);
      if (c == '"') {
        if (start + 1 == end) return;
        const auto next = static_cast<unsigned char>(start[1]);
        if (next < 0x80 && next != '\\' && FoldCase(next) != first) return;
      } else if (c == '\n' || !IsSpace(static_cast<char>(c))) {
        return;
      }
      Lines lines(start, end);
      Line line;
      lines.Next(&line);
      const char* const p = SkipSpace(line.begin, line.end);
      if (p != line.end) take(p, line.end, &lines);
    });
  });
  return found;
}

}  // namespace registry
