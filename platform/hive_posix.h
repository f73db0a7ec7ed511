// An in-memory image of a Wine prefix's system.reg, answering as Wine's
// server would for the same file: the key tree that the file's sections
// build, with Wine's name folding, ordering, links and damage handling.
// Value data stays as text in the file's bytes and is parsed, by the
// grammar in hive_grammar_posix.h, only when a value is asked for.
//
// The tree is built only as far as the calls reach (doc/reader.md).  A
// section waits, unread, in the first key on its path that has not been
// looked into; looking into a key moves each of its waiting sections one
// or more elements down.

#ifndef PLATFORM_HIVE_POSIX_H_
#define PLATFORM_HIVE_POSIX_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/hive_bytes_posix.h"
#include "platform/hive_grammar_posix.h"
#include "platform/win32.h"

namespace registry {

class Hive {
 public:
  static constexpr std::uint32_t kRoot = 0;  // HKEY_LOCAL_MACHINE itself.
  static constexpr std::uint32_t kNone = UINT32_MAX;

  // Reads a whole system.reg.  Returns false, leaving the hive without any
  // key, when the first line is not Wine's version 2 header (Wine then
  // refuses the whole file) or `text` holds nothing.  Damaged lines after it
  // are handled as Wine handles them; nothing in `text` can make the reader
  // fail otherwise.
  //
  // Every member that allocates throws std::bad_alloc when memory runs out;
  // a hive whose Load threw is to be discarded.
  bool Load(HiveBytes text);

  // Finds `path` below `key`.  Elements are separated by backslashes; empty
  // elements are ignored, so "" names `key` itself.  Every link on the way
  // is followed, and the last element's unless `follow_last` is false (the
  // link key itself).  Returns ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, or
  // ERROR_INVALID_PARAMETER for a chain of more than 32 links (a cycle among
  // them).
  LONG Open(std::uint32_t key, std::u16string_view path, bool follow_last,
            std::uint32_t* result);

  // The key that HKEY_LOCAL_MACHINE stands for: kRoot, unless the file made
  // it or "\Registry" above it a link.  Returns ERROR_SUCCESS, or what
  // following those links gives: ERROR_FILE_NOT_FOUND, or
  // ERROR_INVALID_PARAMETER for a cycle.
  LONG OpenMachine(std::uint32_t* machine);

  // The direct subkeys of `key` in Wine's enumeration order.
  const std::vector<std::uint32_t>& Subkeys(std::uint32_t key);

  // The key's name in the ANSI code page (UTF-8): the file's own bytes when
  // they are plain ASCII, else converted into *scratch.
  std::string_view NameUtf8(std::uint32_t key, std::string* scratch) const;

  // The key's "#time=" stamp as a FILETIME count, 0 when it has none.
  std::uint64_t LastWriteTime(std::uint32_t key) const;

  // The key's "#class=" string, empty when it has none.
  std::u16string ClassName(std::uint32_t key) const;

  // Looks `name` up among the key's values, case-insensitively.
  bool FindValue(std::uint32_t key, std::u16string_view name,
                 Value* value) const;

  std::size_t key_count() const { return keys_.size(); }

 private:
  // Offsets are 32-bit: a file of 4 GiB or more is refused.
  struct Key {
    std::uint32_t parent = kNone;  // kNone for the root and "\Registry".
    // Into the file's bytes when `plain_name`, else into names_.
    std::uint32_t name_begin = 0;
    std::uint32_t first_child = kNone;  // The most recently made first.
    std::uint32_t next_sibling = kNone;
    // The sections that hold the key's values, in file order.
    std::uint32_t first_body = kNone;
    std::uint32_t last_body = kNone;
    // The runs of sections waiting in the key, in file order: their paths
    // go on below it.  Only a key not expanded has any, and no key below
    // one not expanded is a link, so each rest means what it did when its
    // section came.
    std::uint32_t first_pending = kNone;
    std::uint32_t last_pending = kNone;
    std::uint16_t name_size : 9 = 0;  // At most 256 units.
    std::uint16_t link : 1 = 0;
    std::uint16_t plain_name : 1 = 0;  // Plain ASCII, read from the file.
    // Whether its waiting sections have been moved on below it.  Keys are
    // made only below an expanded key, so a key with children is expanded
    // (or, after memory ran out, part way through it).
    std::uint16_t expanded : 1 = 0;
  };

  // A key's name: either bytes of the file or decoded UTF-16 units.
  struct NameView {
    const char* bytes;
    const char16_t* units;
    std::size_t length;
    std::size_t size() const { return length; }
    char16_t operator[](std::size_t i) const {
      return bytes != nullptr ? static_cast<unsigned char>(bytes[i]) : units[i];
    }
  };
  NameView Name(std::uint32_t key) const;

  // A header line of the file and its body: the lines after it, up to the
  // next header line or the file's end.  Every header line has one, in file
  // order, malformed ones included, so that each body ends at the next.
  struct Section {
    std::uint32_t header;  // Where the header line starts in the file.
    std::uint32_t next;    // Once a body: the key's next body.
    // While the section waits: where its ']' stands, from `header`.
    std::uint16_t close;
  };
  // Sections first..last, one after another in the file, waiting in one
  // key, the rest of each path `rest` bytes after its header's start: it
  // starts with an element, not a separator, and ends at most 256 bytes on,
  // at the ']'.  `next` is the key's next run.
  struct Run {
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t next;
    std::uint16_t rest;
  };
  void Body(std::uint32_t section, const char** begin, const char** end) const;

  // Records the section whose header line starts at `line`, its '[' at
  // `open` and the line ending at `line_end`, and places it.
  void OpenSection(const char* line, const char* open, const char* line_end);
  // Reads the path of section `section` from `p` up to its ']' at `close`,
  // below `key`, making keys as Wine's loader does, and leaves the section
  // waiting in the first key on the way that is not expanded or among the
  // bodies of its key.  `follow` tells whether `key`'s link, if it is one,
  // leads to the key the next element goes in.  The section is dropped
  // when an element is too long or a link leads nowhere; keys made before
  // that stay.  Changes the section only once nothing can throw.
  void Place(std::uint32_t key, bool follow, const char* p, const char* close,
             std::uint32_t section);
  void Wait(std::uint32_t key, const char* p, const char* close,
            std::uint32_t section);
  // Queues sections first..last below `key`, as part of its last run when
  // they follow it with the same `rest`.
  void Queue(std::uint32_t key, std::uint32_t first, std::uint32_t last,
             std::uint16_t rest);
  void Attach(std::uint32_t key, std::uint32_t section);
  // Notes where the section being loaded went when it is among sections
  // first..last: waiting in `key`, among its bodies, or dropped (kNone).
  void Moved(std::uint32_t first, std::uint32_t last, std::uint32_t key,
             bool waits);
  // Moves the key's waiting sections on below it, in file order.
  void Expand(std::uint32_t key);
  // Makes the key of the section being loaded a link.
  void MakeLink();
  // Whether a section is being loaded whose lines count: one that was not
  // dropped.
  bool Loading() const;

  // `Text` is a std::u16string_view, or a std::string_view of ASCII.
  // Whether `key` is the child of `parent` named `name`: names alike under
  // the fold are one key below a parent.
  template <typename Text>
  bool IsChild(std::uint32_t key, std::uint32_t parent, Text name) const;
  // The slot of table_ that holds the child of `parent` named `name`, or
  // the empty slot where it would go.
  template <typename Text>
  std::size_t Slot(std::uint32_t parent, Text name) const;
  // The child of `parent` named `name`, made if missing; expands `parent`.
  template <typename Text>
  std::uint32_t Child(std::uint32_t parent, Text name);
  void GrowTable();
  // The link's target as the key its path starts from, HKEY_LOCAL_MACHINE
  // or "\Registry" above it, and the path below that key.  Wine follows a
  // link through its whole tree: "\Registry" holds this file's hive as
  // "Machine" and, while the file loads, only the keys that sections make
  // through links.  ERROR_FILE_NOT_FOUND when the target is no path in the
  // registry.
  LONG LinkTarget(std::uint32_t link, int* budget, std::uint32_t* from,
                  std::u16string* path);
  // "\Registry\Machine" as found from the top of the tree, as Wine finds
  // every path: through "\Registry" and HKEY_LOCAL_MACHINE, and through
  // their links where the file made them links.
  LONG Machine(int* budget, std::uint32_t* machine);
  // Follows `link` to its target.  With `create`, as a section's path
  // does, it makes the target when the key that would hold it is there.
  LONG FollowLink(std::uint32_t link, bool create, int* budget,
                  std::uint32_t* target);
  // Finds `path` below `from` as Open does, within `budget` links; with
  // `create`, the last key is made if missing, and a link there followed
  // the same way.
  LONG Walk(std::uint32_t from, std::u16string_view path, bool follow_last,
            int* budget, std::uint32_t* result, bool create);
  // Calls `visit(p, end, more)` with every line of the key's bodies that
  // holds more than white space, `p` after that space; `more` gives the
  // lines after it, for a value that goes on over them.
  template <typename Visit>
  void ForEachLine(std::uint32_t key, Visit visit) const;
  // Calls `visit(begin, end)` with every '#' line of the key's bodies that
  // no hex list takes, in file order.
  template <typename Visit>
  void ForEachOption(std::uint32_t key, Visit visit) const;

  HiveBytes text_;
  std::vector<Key> keys_;  // keys_[kRoot] is the root once loaded.
  std::vector<Section> sections_;
  std::vector<Run> runs_;
  std::u16string names_;  // Names that needed decoding.
  // Open addressing over keys_ by parent and folded name: its size a power
  // of two, so a hash's low bits pick the slot, and never more than half
  // full, so that every probe ends at an empty slot.
  std::vector<std::uint32_t> table_;
  // Each key's Subkeys() once asked for: a key's own children stay as they
  // are once it is expanded and the file is loaded (keys further down are
  // still made as their parents expand).
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> subkeys_;
  std::uint32_t registry_ = kNone;  // "\Registry", made when a link needs it.
  // While loading: the latest section, whose body the lines read belong
  // to (kNone before the first), the key it waits in or holds the values
  // of (kNone when it made none: a malformed header or a path Wine drops)
  // and whether it waits there.
  std::uint32_t loading_ = kNone;
  std::uint32_t loading_key_ = kNone;
  bool loading_waits_ = false;
};

}  // namespace registry

#endif  // PLATFORM_HIVE_POSIX_H_
