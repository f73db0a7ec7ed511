// Reads Wine's registry file format, version 2, the way Wine's server loads
// it, including how it treats hand-edited and damaged lines.

#include "platform/hive_posix.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <type_traits>

#include "platform/case_fold.h"

namespace registry {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
constexpr std::size_t kMaxNameUnits = 256;
constexpr int kMaxLinks = 32;

// Whether the rest of a path from `p` to its ']' at `close` may wait in a
// key: it starts with an element for certain (plain ASCII, no separator),
// so no element of it is over the limit, and it fits a section's record.
bool MayWait(const char* p, const char* close, const char* header) {
  return close - p >= 1 && close - p <= std::ptrdiff_t{kMaxNameUnits} &&
         *p != '\\' && static_cast<unsigned char>(*p) < 0x80 &&
         close - header <= UINT16_MAX;
}

// Where the line holding the first '[' from `p`, a line's start, starts,
// or `end`: no header line comes before it.
const char* NextHeaderLine(const char* p, const char* end) {
  const auto* open = static_cast<const char*>(
      std::memchr(p, '[', static_cast<std::size_t>(end - p)));
  if (open == nullptr) return end;
  while (open > p && open[-1] != '\n') --open;
  return open;
}

// Whether a hex list may take the line at `line`, after `from`, a line's
// start: whether one may go on past the line before.
bool MayBeTaken(const char* from, const char* line) {
  if (line == from) return false;
  const char* start = line - 1;
  while (start > from && start[-1] != '\n') --start;
  return MayContinue(start, line - 1);
}

// The element of a header's path at `p`, before its ']' at `close`, when
// it is plain ASCII ended by an escaped backslash or the ']': where it
// ends.  Else nullptr: the element has escapes or bytes to decode.
const char* PlainElementEnd(const char* p, const char* close) {
  const char* const run = PlainRunEnd(p, close);
  return run == close || (run[0] == '\\' && run[1] == '\\') ? run : nullptr;
}

// The next element of a registry path from `*at`, empty elements passed
// over, and `*at` moved past it; empty when no element is left.
std::u16string_view NextElement(std::u16string_view path, std::size_t* at) {
  const std::size_t begin =
      std::min(path.find_first_not_of(u'\\', *at), path.size());
  *at = std::min(path.find(u'\\', begin), path.size());
  return path.substr(begin, *at - begin);
}

// A name's hash below `parent`, the same for the file's bytes as for the
// units they stand for (FNV-1a over the folded units).
template <typename Name>
std::uint32_t HashName(std::uint32_t parent, const Name& name) {
  std::uint64_t hash = 0xCBF29CE484222325ull ^ (parent * 0x9E3779B97F4A7C15ull);
  for (std::size_t i = 0; i < name.size(); ++i) {
    hash = (hash ^ FoldCase(Unit(name[i]))) * 0x100000001B3ull;
  }
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

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
  const char* const end = text_.data() + text_.size();
  Lines lines(text_.data(), end);
  Line line{};
  if (!lines.Next(&line) ||
      std::string_view(line.begin, static_cast<std::size_t>(
                                       line.end - line.begin)) != kHeader) {
    return false;
  }
  keys_.emplace_back();  // The root.
  // Room for the keys that listing a few hundred programs makes, so that
  // the table seldom grows.
  table_.assign(2048, kNone);
  // A record a header line: Wine's own files hold one in every 200 bytes
  // or so, and growing would copy the records and touch new pages.
  sections_.reserve(text_.size() / 128);

  std::string_view arch;
  for (;;) {
    const char* const start = lines.position();
    if (!lines.Next(&line)) break;
    const char* const p = SkipSpace(line.begin, line.end);
    if (p == line.end) continue;
    if (*p == '[') {
      OpenSection(start, p, line.end);
      // While loading, a body's lines count only for a "#link" or a hex
      // list that takes the next header line: one without is passed over.
      if (!Loading()) continue;
      const char* const body = lines.position();
      const char* const next = NextHeaderLine(body, end);
      if (!MayBeTaken(body, next) &&
          std::string_view(body, static_cast<std::size_t>(next - body))
                  .find("#link") == std::string_view::npos) {
        lines = Lines(next, end);
      }
    } else if (!Loading()) {
      // Outside a section an unknown or changed architecture stops the
      // load; what came before stays.
      if (StartsWith(p, line.end, "#arch=")) {
        const std::string_view value(
            p + 6, static_cast<std::size_t>(line.end - p - 6));
        if ((value != "win32" && value != "win64") ||
            (!arch.empty() && value != arch)) {
          break;
        }
        arch = value;
      }
    } else if (*p == '"' || *p == '@') {
      // Only a hex list reaches past its line, through a backslash.
      StepOverValue(p, line.end, &lines);
    } else if (StartsWith(p, line.end, "#link")) {
      MakeLink();
    }
  }
  loading_ = kNone;
  return true;
}

bool Hive::Loading() const { return loading_key_ != kNone; }

void Hive::OpenSection(const char* line, const char* open,
                       const char* line_end) {
  loading_ = static_cast<std::uint32_t>(sections_.size());
  loading_key_ = kNone;
  loading_waits_ = false;
  sections_.push_back(
      Section{static_cast<std::uint32_t>(line - text_.data()), kNone, 0});
  // Without a ']' the header is malformed: Wine creates nothing.
  if (const char* close = FindUnescaped(open + 1, line_end, ']')) {
    Place(kRoot, false, open + 1, close, loading_);
  }
}

void Hive::MakeLink() {
  // Its key must be there to be a link: the keys above are looked into.
  while (loading_waits_) {
    assert(!keys_[loading_key_].expanded);
    Expand(loading_key_);
  }
  if (loading_key_ == kNone) return;
  // Every key above a link is expanded: no waiting rest passes through it.
  for (std::uint32_t up = keys_[loading_key_].parent; up != kNone;
       up = keys_[up].parent) {
    assert(keys_[up].expanded);
  }
  keys_[loading_key_].link = 1;
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

void Hive::Place(std::uint32_t key, bool follow, const char* p,
                 const char* close, std::uint32_t section) {
  const char* const header = text_.data() + sections_[section].header;
  // Goes through `key`'s link, once, when something goes in the key.
  const auto enter = [&] {
    if (!follow) return true;
    follow = false;
    int budget = kMaxLinks;
    return !keys_[key].link ||
           FollowLink(key, true, &budget, &key) == ERROR_SUCCESS;
  };
  // Each element's key is made below the latest; an empty element adds
  // nothing.  A failing element drops the section.
  const auto descend = [&](auto element) {
    if (element.empty()) return true;
    if (element.size() > kMaxNameUnits || !enter()) return false;
    key = Child(key, element);
    follow = true;
    return true;
  };
  for (bool separator = true; separator;) {
    if (MayWait(p, close, header)) {
      if (!enter()) break;
      if (!keys_[key].expanded) {
        Wait(key, p, close, section);
        return;
      }
    }
    if (const char* const run = PlainElementEnd(p, close)) {
      if (!descend(std::string_view(p, static_cast<std::size_t>(run - p)))) {
        break;
      }
      separator = run != close;
      p = run + 2;
    } else {
      // Not a member: making the child may read other sections' paths.
      std::u16string element;
      separator = false;
      p = ParseString(p, close + 1, ']', &element, &separator);
      if (!descend(std::u16string_view(element))) break;
    }
    if (!separator) {
      // A key that is a link already when its section comes again takes
      // that section's values on its target; its first section makes it a
      // link.
      if (!enter()) break;
      Attach(key, section);
      return;
    }
  }
  Moved(section, section, kNone, false);
}

void Hive::Moved(std::uint32_t first, std::uint32_t last, std::uint32_t key,
                 bool waits) {
  if (loading_ >= first && loading_ <= last) {
    loading_key_ = key;
    loading_waits_ = waits;
  }
}

void Hive::Wait(std::uint32_t key, const char* p, const char* close,
                std::uint32_t section) {
  const char* const header = text_.data() + sections_[section].header;
  sections_[section].close = static_cast<std::uint16_t>(close - header);
  Queue(key, section, section, static_cast<std::uint16_t>(p - header));
  Moved(section, section, key, true);
}

void Hive::Queue(std::uint32_t key, std::uint32_t first, std::uint32_t last,
                 std::uint16_t rest) {
  assert(first <= last && !keys_[key].expanded);
  const std::uint32_t tail = keys_[key].last_pending;
  // Runs wait in file order, and every rest in them may wait.
  assert(tail == kNone || runs_[tail].last < first);
  for (std::uint32_t s = first; s <= last; ++s) {
    const char* const header = text_.data() + sections_[s].header;
    assert(MayWait(header + rest, header + sections_[s].close, header));
    (void)header;
  }
  if (tail != kNone && runs_[tail].last + 1 == first &&
      runs_[tail].rest == rest) {
    runs_[tail].last = last;
    return;
  }
  const auto run = static_cast<std::uint32_t>(runs_.size());
  runs_.push_back(Run{first, last, kNone, rest});
  if (tail == kNone) {
    keys_[key].first_pending = run;
  } else {
    runs_[tail].next = run;
  }
  keys_[key].last_pending = run;
}

void Hive::Attach(std::uint32_t key, std::uint32_t section) {
  // Bodies come in file order: a section that waited above `key` was moved
  // on before any later one could reach it.
  assert(keys_[key].last_body == kNone || keys_[key].last_body < section);
  sections_[section].next = kNone;
  if (keys_[key].first_body == kNone) {
    keys_[key].first_body = section;
  } else {
    sections_[keys_[key].last_body].next = section;
  }
  keys_[key].last_body = section;
  Moved(section, section, key, false);
}

void Hive::Expand(std::uint32_t key) {
  if (keys_[key].expanded) return;
  keys_[key].expanded = 1;
  // Sections come depth first: most share their first element with the
  // section before, and wait below its child with it.
  std::string_view element;
  std::uint32_t child = kNone;
  std::uint32_t run = keys_[key].first_pending;
  try {
    for (; run != kNone; run = runs_[run].next) {
      const std::uint32_t last = runs_[run].last;
      const std::uint16_t rest = runs_[run].rest;
      while (runs_[run].first <= last) {
        // What is left of the run waits on if memory runs out.
        const std::uint32_t index = runs_[run].first;
        const char* const header = text_.data() + sections_[index].header;
        const char* const p = header + rest;
        const char* const close = header + sections_[index].close;
        // Nothing below the key was a link when these sections came, nor
        // is one now, and the key's own link is not followed: the rest of
        // each path is read as it stands.
        const char* const plain = PlainElementEnd(p, close);
        const bool waits = plain != nullptr && plain != p && plain != close &&
                           MayWait(plain + 2, close, header);
        if (waits) {
          const std::string_view first(p, static_cast<std::size_t>(plain - p));
          if (child == kNone || first != element) {
            child = Child(key, first);
            element = first;
          }
        }
        // A child looked into already takes each section on its own.
        if (!waits || keys_[child].expanded) {
          Place(key, false, p, close, index);
          runs_[run].first = index + 1;
          continue;
        }
        // The sections after it whose paths go on with the same element
        // and separator wait in the same child.
        const auto size = static_cast<std::size_t>(plain + 2 - p);
        std::uint32_t end = index + 1;
        while (end <= last) {
          const char* const other = text_.data() + sections_[end].header;
          const char* const other_close = other + sections_[end].close;
          if (other_close - (other + rest) <= std::ptrdiff_t(size) ||
              std::memcmp(other + rest, p, size) != 0 ||
              !MayWait(other + rest + size, other_close, other)) {
            break;
          }
          ++end;
        }
        Queue(child, index, end - 1, static_cast<std::uint16_t>(rest + size));
        Moved(index, end - 1, child, true);
        runs_[run].first = end;
      }
    }
  } catch (...) {
    // Out of memory: the sections not moved on stay waiting, and the keys
    // already made are found again by the next try.
    keys_[key].expanded = 0;
    keys_[key].first_pending = run;
    throw;
  }
  keys_[key].first_pending = kNone;
  keys_[key].last_pending = kNone;
}

template <typename Text>
bool Hive::IsChild(std::uint32_t key, std::uint32_t parent, Text name) const {
  return keys_[key].parent == parent && EqualFolded(Name(key), name);
}

template <typename Text>
std::size_t Hive::Slot(std::uint32_t parent, Text name) const {
  const std::size_t mask = table_.size() - 1;
  assert((table_.size() & mask) == 0);  // The mask takes a hash's low bits.
  for (std::size_t slot = HashName(parent, name) & mask;;
       slot = (slot + 1) & mask) {
    const std::uint32_t index = table_[slot];
    if (index == kNone || IsChild(index, parent, name)) return slot;
  }
}

template <typename Text>
std::uint32_t Hive::Child(std::uint32_t parent, Text name) {
  Expand(parent);
  assert(keys_[parent].expanded);
  std::size_t slot = Slot(parent, name);
  if (table_[slot] != kNone) return table_[slot];
  // Keys are also made after loading, by calls that must leave the tree
  // whole when memory runs out: everything that allocates comes first.
  if ((keys_.size() + 1) * 2 > table_.size()) {
    GrowTable();
    slot = Slot(parent, name);
  }
  const auto index = static_cast<std::uint32_t>(keys_.size());
  Key key;
  key.parent = parent;
  key.name_begin = static_cast<std::uint32_t>(names_.size());
  key.next_sibling = keys_[parent].first_child;
  assert(name.size() <= kMaxNameUnits);
  key.name_size = static_cast<std::uint16_t>(name.size());
  if constexpr (std::is_same_v<Text, std::string_view>) {
    // Plain ASCII straight from the file: the name stays where it is.
    key.name_begin = static_cast<std::uint32_t>(name.data() - text_.data());
    key.plain_name = 1;
  } else {
    names_.append(name);
  }
  keys_.push_back(key);
  keys_[parent].first_child = index;
  table_[slot] = index;
  assert(keys_.size() * 2 <= table_.size());
  return index;
}

void Hive::GrowTable() {
  std::vector<std::uint32_t> table(table_.size() * 2, kNone);
  const std::size_t mask = table.size() - 1;
  for (std::uint32_t index = 1; index < keys_.size(); ++index) {
    if (keys_[index].parent == kNone) continue;  // "\Registry".
    std::size_t slot = HashName(keys_[index].parent, Name(index)) & mask;
    while (table[slot] != kNone) slot = (slot + 1) & mask;
    table[slot] = index;
  }
  table_ = std::move(table);
}

LONG Hive::Machine(int* budget, std::uint32_t* machine) {
  // Each way on from "\Registry" made a link leads back through it.
  if (registry_ != kNone && keys_[registry_].link) return ERROR_FILE_NOT_FOUND;
  *machine = kRoot;
  return keys_[kRoot].link ? FollowLink(kRoot, false, budget, machine)
                           : ERROR_SUCCESS;
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
  constexpr std::u16string_view kMachine = u"machine";
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
  std::size_t at = kRegistry.size();
  if (EqualFolded(NextElement(target, &at), kMachine)) {
    path->erase(0, at);
    return Machine(budget, from);
  }
  if (registry_ == kNone) {
    keys_.emplace_back().expanded = 1;  // Nothing waits in it.
    registry_ = static_cast<std::uint32_t>(keys_.size() - 1);
  }
  *from = registry_;
  path->erase(0, kRegistry.size());
  return ERROR_SUCCESS;
}

LONG Hive::FollowLink(std::uint32_t link, bool create, int* budget,
                      std::uint32_t* target) {
  if (--*budget < 0) return ERROR_INVALID_PARAMETER;
  std::uint32_t from;
  std::u16string path;
  if (const LONG status = LinkTarget(link, budget, &from, &path);
      status != ERROR_SUCCESS) {
    return status;
  }
  return Walk(from, path, true, budget, target, create);
}

LONG Hive::Walk(std::uint32_t from, std::u16string_view path, bool follow_last,
                int* budget, std::uint32_t* result, bool create) {
  std::uint32_t key = from;
  std::size_t at = 0;
  for (auto element = NextElement(path, &at); !element.empty();) {
    const std::u16string_view next = NextElement(path, &at);
    const bool make = create && next.empty();
    if (make) {
      // Only the last key is made: the key it goes in must be there.
      if (element.size() > kMaxNameUnits) return ERROR_INVALID_PARAMETER;
      key = Child(key, element);
    } else {
      Expand(key);
      key = table_[Slot(key, element)];
      if (key == kNone) return ERROR_FILE_NOT_FOUND;
    }
    if (keys_[key].link && (follow_last || !next.empty())) {
      const LONG status = FollowLink(key, make, budget, &key);
      if (status != ERROR_SUCCESS) return status;
    }
    element = next;
  }
  *result = key;
  return ERROR_SUCCESS;
}

LONG Hive::Open(std::uint32_t key, std::u16string_view path, bool follow_last,
                std::uint32_t* result) {
  int budget = kMaxLinks;
  return Walk(key, path, follow_last, &budget, result, false);
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
  // Siblings never compare equal (one key a name under the fold), so the
  // order the children were made in does not matter.
  std::sort(subkeys.begin(), subkeys.end(),
            [this](std::uint32_t a, std::uint32_t b) {
              const int order = CompareFolded(Name(a), Name(b));
              assert(a == b || order != 0);
              return order < 0;
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

std::string_view Hive::NameUtf8(std::uint32_t key, std::string* scratch) const {
  const NameView name = Name(key);
  if (name.bytes != nullptr) return std::string_view(name.bytes, name.size());
  *scratch = Utf16ToUtf8(std::u16string_view(name.units, name.size()));
  return *scratch;
}

template <typename Visit>
void Hive::ForEachLine(std::uint32_t key, Visit visit) const {
  for (std::uint32_t b = keys_[key].first_body; b != kNone;
       b = sections_[b].next) {
    const char* begin;
    const char* end;
    Body(b, &begin, &end);
    Lines lines(begin, end);
    Line line{};
    while (lines.Next(&line)) {
      const char* p = SkipSpace(line.begin, line.end);
      if (p != line.end) visit(p, line.end, &lines);
    }
  }
}

template <typename Visit>
void Hive::ForEachOption(std::uint32_t key, Visit visit) const {
  ForEachLine(key, [&](const char* p, const char* end, Lines* more) {
    if (*p == '#') {
      visit(p, end);
    } else {
      StepOverValue(p, end, more);
    }
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
  ForEachLine(key, [&](const char* p, const char* end, Lines* more) {
    if (*p != '"' && *p != '@') return;
    // A later line for the same name replaces the value.
    if (const char* data = MatchValueName(p, end, name)) {
      ParseValueData(data, end, more, value);
      found = true;
    } else {
      StepOverValue(p, end, more);
    }
  });
  return found;
}

}  // namespace registry
