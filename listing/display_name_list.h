// The ordered list of display names that the scan collects and the report
// writes.  Names are byte strings in the system's ANSI code page, kept exactly
// as the registry returned them.

#ifndef LISTING_DISPLAY_NAME_LIST_H_
#define LISTING_DISPLAY_NAME_LIST_H_

#include <cstdint>

// One name in the list.  The entry owns `text`, a copy of the name's bytes
// followed by one terminating NUL; `length` counts the bytes before it.
struct DisplayNameEntry {
  DisplayNameEntry* next;
  char* text;
  std::uint32_t length;
};

// Compares two NUL-terminated byte strings, folding only the ASCII capitals
// A..Z onto a..z.  No locale or code page takes part: bytes 0x80..0xFF are
// never folded.  Returns -1, 0 or +1.
int CompareNoCase(const char* a, const char* b);

// Names kept in CompareNoCase order at all times; names that compare equal
// stand in the order in which they were added.
class DisplayNameList {
 public:
  // Leaves the list empty.  There is no destructor: the entries are released
  // only by Clear, so the global list needs no exit-time work.
  constexpr DisplayNameList() : head(nullptr) {}

  // Links a copy of `text` in after every entry that orders before or equal
  // to it.  The caller keeps `text`.  When memory runs out the name is not
  // stored and DisplayNameLost is set.
  void Add(const char* text);

  // Writes every name in order as one "%s\n" line, leaving out an entry
  // byte-identical to the one just before it, then the "%ld items\n" count
  // of the lines written.  When standard output is a console, each name is
  // written as PrintForTerminal writes it instead.  Changes nothing in the
  // list.
  void Print() const;

  // Unlinks and releases every entry; the list can then be filled again.
  void Clear();

  DisplayNameEntry* head;
};

// Writes `text` and a newline as a terminal is to show them: each character
// that a terminal acts on rather than shows becomes one '?'.  Those are the
// C0 controls 0x00..0x1F (a CR, LF or TAB in the name too), DEL 0x7F and
// the C1 controls U+0080..U+009F: in UTF-8 (`utf8`) the pairs C2 80..C2 9F,
// otherwise every byte 0x80..0x9F, which a console may pass on as those
// controls.  Every other byte is written as it is.
void PrintForTerminal(const char* text, bool utf8);

// The program's one list.  Constant-initialized, so it is empty before any
// code runs.
extern DisplayNameList DisplayNames;

// Set, and never reset by the list, when Add could not store a name because
// an allocation failed.  A listing printed afterwards is then incomplete.
extern bool DisplayNameLost;

#endif  // LISTING_DISPLAY_NAME_LIST_H_
