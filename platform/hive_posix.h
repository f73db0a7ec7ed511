// An in-memory image of a Wine prefix's system.reg, answering as Wine's
// server would for the same file: the key tree that the file's sections
// build, with Wine's name folding, ordering, links and damage handling.
// Value data stays as text in the file's bytes and is parsed, by the
// grammar in hive_grammar_posix.h, only when a value is asked for.
//
// The tree is built as far as the calls reach.  A section whose path goes
// below a key not yet read into is kept, unread, in that key's list; the
// key's subkeys are made from its list when something first looks among
// them.  No key below such a key is a link (a link's key is made at once),
// so the rest of the path means what it meant when its section came.

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
  // elements are ignored, so "" names `key` itself.  Every link on the way,
  // the last element's included, is followed.  Returns ERROR_SUCCESS,
  // ERROR_FILE_NOT_FOUND, or ERROR_INVALID_PARAMETER for a chain of more
  // than 32 links (a cycle among them).
  LONG Open(std::uint32_t key, std::u16string_view path, std::uint32_t* result);
  // The same for a path of ASCII bytes, each its own unit.
  LONG Open(std::uint32_t key, std::string_view path, std::uint32_t* result);

  // The key that HKEY_LOCAL_MACHINE stands for: kRoot, unless the file made
  // it or "\Registry" above it a link.  Returns ERROR_SUCCESS, or what
  // following those links gives: ERROR_FILE_NOT_FOUND, or
  // ERROR_INVALID_PARAMETER for a cycle.
  LONG OpenMachine(std::uint32_t* machine);

  // The direct subkeys of `key` in Wine's enumeration order.
  const std::vector<std::uint32_t>& Subkeys(std::uint32_t key);

  // The key's name in the ANSI code page (UTF-8): the file's own bytes when
  // they are plain ASCII, else converted into *scratch.  The key is then
  // looked at first when a path names a child of its parent.
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
  // Many keys may be made; their hashes are found again when the table
  // grows.
  struct Key {
    std::uint32_t parent;
    std::uint32_t name_begin;   // Into the file's bytes, or into names_.
    std::uint32_t first_child;  // Most recently created first.
    std::uint32_t next_sibling;
    std::uint32_t first_body;  // The key's sections, in file order.
    std::uint32_t last_body;
    std::uint32_t first_pending;  // Runs of sections below, not yet read into.
    std::uint32_t last_pending;
    std::uint16_t name_size : 9;  // At most 256 units.
    std::uint16_t link : 1;
    std::uint16_t plain_name : 1;  // Plain ASCII, read in place from the file.
    std::uint16_t expanded : 1;    // Its subkeys are made; it holds no pending.
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

  // A header line of the file and its body: the lines after it, up to
  // the next header line or the file's end.  Numbered in file order, the
  // headers that open no section included.  While its path waits below a
  // key not expanded, `close` is where its ']' stands from the header's
  // start; once read into its key, `next` is the key's next section.
  struct Section {
    std::uint32_t header;
    std::uint32_t next;
    std::uint16_t close;
  };
  // Sections first..last, one after another in the file, waiting below one
  // key with the rest of their paths `rest` bytes after their headers'
  // starts (after a separator, up to the ']').  `next` is the key's next
  // run.
  struct Run {
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t next;
    std::uint16_t rest;
  };
  void Body(std::uint32_t section, const char** begin, const char** end) const;

  static constexpr std::uint32_t kDeferred = UINT32_MAX - 1;

  // Opens the section whose header line starts at `line`, its '[' at `open`
  // and its ']' at `close` (nullptr for a header without one).
  void OpenSection(const char* line, const char* open, const char* close);
  // Reads the section at `line` as OpenSection does, and the sections after
  // it that passing over bodies reaches.  Returns where reading goes on line
  // by line.  Only for a text without NUL bytes.
  const char* ReadSections(const char* line, const char* open);
  void StartSection(const char* header, const char* name, const char* close,
                    std::uint32_t section);
  // Opens the section as OpenSection would when it only joins the run of
  // the section before it, waiting at the root; false, with nothing done,
  // for any other section.
  bool JoinRootRun(const char* line, const char* open, const char* close);
  // The walk of a path that may resume where the previous path's went.
  [[gnu::noinline]] void ResumeSection(std::string_view path,
                                       std::uint32_t section);
  // Goes on along a section's path from `p`: `pending` is the key of the
  // latest element, or kNone for none; `follow` whether its link, if it is
  // one, leads to the key the next element goes in.  Returns the section's
  // key, kDeferred when the rest is left pending, or kNone when the section
  // is dropped.
  // `name` non-null keeps the separators' keys for the next section.  A
  // section left pending is queued in the key it waits below, *pending_at.
  std::uint32_t Descend(std::uint32_t pending, bool follow, const char* name,
                        const char* p, const char* close, std::uint32_t section,
                        std::uint32_t* pending_at);
  // Leaves the rest of the section's path from `p`, which may wait, waiting
  // below `key` when the key is not read into yet.  `header` is where the
  // section's header line starts.
  bool Wait(std::uint32_t key, const char* header, const char* p,
            const char* close, std::uint32_t section);
  // Makes the key's subkeys from its pending sections, in file order.
  void Expand(std::uint32_t key);
  // The first of sections from..last (last + 1 for none) whose path does not
  // go on past `rest` bytes from its header's start after the element at
  // `element_at` that `same` tells.
  template <typename Same>
  [[gnu::noinline]] static std::uint32_t RunEnd(
      const char* text, const Section* sections, std::uint32_t from,
      std::uint32_t last, std::size_t element_at, std::size_t rest, Same same);
  void MakeLink();
  // Queues sections first..last, whose rests start `rest` bytes after their
  // headers, below `key`, as part of its last run when they follow it.
  void Queue(std::uint32_t key, std::uint32_t first, std::uint32_t last,
             std::uint16_t rest);
  // Queues them as a run of their own.
  [[gnu::noinline]] void AddRun(std::uint32_t key, std::uint32_t first,
                                std::uint32_t last, std::uint16_t rest);
  void Attach(std::uint32_t key, std::uint32_t section);
  // `Text` is a std::u16string_view, or a std::string_view of ASCII.
  // Whether `key` is the child of `parent` named `name`: names alike under
  // the fold are one key below a parent.
  template <typename Text>
  bool IsChild(std::uint32_t key, std::uint32_t parent, Text name) const;
  template <typename Text>
  std::uint32_t FindChild(std::uint32_t parent, Text name,
                          std::uint32_t hash) const;
  template <typename Text>
  std::uint32_t AddChild(std::uint32_t parent, Text name, std::uint32_t hash);
  // The child of the expanded `parent` named `name`, made if missing.
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
  LONG FollowLink(std::uint32_t link, int* budget, std::uint32_t* target);
  // Follows `link` as a section's path does, making its target when the key
  // that would hold the target is there.
  LONG CreateThroughLink(std::uint32_t link, int* budget,
                         std::uint32_t* target);
  template <typename Text>
  LONG Walk(std::uint32_t from, Text path, bool follow_last, int* budget,
            std::uint32_t* result);
  // Calls `visit(begin, end)` with the body of each of the key's sections.
  template <typename Visit>
  void ForEachBody(std::uint32_t key, Visit visit) const;
  // Calls `visit(p, end, more)` with every line from `begin` to `end` that
  // holds more than white space, `p` after that space; `more` gives the
  // lines after it, for a value that goes on over them.
  template <typename Visit>
  void ForEachLineIn(const char* begin, const char* end, Visit visit) const;
  // Calls `visit(begin, end)` with every '#' line of the key's sections that
  // no hex list takes.  A later line is to override an earlier one: a body
  // may be visited again from its start.
  template <typename Visit>
  void ForEachOption(std::uint32_t key, Visit visit) const;

  HiveBytes text_;
  std::vector<Key> keys_;
  std::vector<Section> sections_;
  std::vector<Run> runs_;
  std::u16string names_;              // Names that needed decoding.
  std::vector<std::uint32_t> table_;  // Open addressing over keys_.
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> subkeys_;
  std::uint32_t registry_ = kNone;  // "\Registry", made when a link needs it.

  // A separator in the previous section's path and the key of the element
  // before it.
  struct Boundary {
    std::size_t offset;  // After the separator, from the path's start.
    std::uint32_t pending;
  };

  // Loading state.
  std::uint32_t current_ = kNone;  // Key whose section is being read.
  std::uint32_t current_section_ = kNone;
  std::uint32_t deferred_at_ = kNone;  // Holds the section when kDeferred.
  // The latest child found in Child(), in the file's bytes.
  std::uint32_t last_parent_ = kNone;
  std::string_view last_name_;
  std::uint32_t last_child_ = kNone;
  std::string_view previous_path_;
  std::vector<Boundary> boundaries_;
  // The key whose name NameUtf8 gave last: a key is mostly opened by the
  // name just listed for it.
  mutable std::uint32_t named_ = kNone;
};

}  // namespace registry

#endif  // PLATFORM_HIVE_POSIX_H_
