#include "listing/display_name_list.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "listing/display_name_list_testing.h"
#include "platform/win32.h"

DisplayNameList DisplayNames;
bool DisplayNameLost = false;

namespace {

long allocations_left = -1;  // Negative: no fault injected.

void* Allocate(std::size_t size) {
  if (allocations_left == 0) return nullptr;
  if (allocations_left > 0) --allocations_left;
  return std::malloc(size);
}

// The ASCII fold: capitals become small letters, every other byte stays.
constexpr unsigned char Fold(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

// The same fold as a table, for the walk that folds one byte per entry.
constexpr struct FoldTable {
  constexpr FoldTable() : byte() {
    for (int c = 0; c < 256; ++c) {
      byte[c] = Fold(static_cast<unsigned char>(c));
    }
  }
  unsigned char byte[256];
} kFold;

// How many of the first `size` bytes of `a` and `b` are identical.  Bytes
// identical as they stand are equal folded too, so a comparison can start
// after them; the words are read only within both names.
std::size_t SameBytes(const char* a, const char* b, std::size_t size) {
  std::size_t same = 0;
  for (; size - same >= 8; same += 8) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, a + same, 8);
    std::memcpy(&y, b + same, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little) {
        same += static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
      }
      return same;
    }
  }
  return same;
}

// How many bytes at `c` make one character that a terminal acts on; 0 when
// the byte there is shown as it is.  `c` is never the terminating NUL.
std::size_t ControlLength(const unsigned char* c, bool utf8) {
  if (*c < 0x20 || *c == 0x7F) return 1;
  if (utf8) return c[0] == 0xC2 && c[1] >= 0x80 && c[1] <= 0x9F ? 2 : 0;
  return *c >= 0x80 && *c <= 0x9F ? 1 : 0;
}

// Writes `size` bytes of `text`, in pieces that a "%.*s" precision holds.
void PrintBytes(const char* text, std::size_t size) {
  while (size > 0) {
    const int piece = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    std::printf("%.*s", piece, text);
    text += piece;
    size -= static_cast<std::size_t>(piece);
  }
}

}  // namespace

void FailDisplayNameAllocationsAfter(long successes) {
  allocations_left = successes < 0 ? -1 : successes;
}

int CompareNoCase(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  for (;; ++x, ++y) {
    if (*x == *y) {
      if (*x == 0) return 0;
      continue;
    }
    const unsigned char fx = Fold(*x);
    const unsigned char fy = Fold(*y);
    if (fx != fy) return fx < fy ? -1 : 1;
  }
}

void DisplayNameList::Add(const char* text) {
  const std::size_t length = std::strlen(text);
  if (length > UINT32_MAX) {  // `length` could not describe the copy.
    DisplayNameLost = true;
    return;
  }
  auto* entry =
      static_cast<DisplayNameEntry*>(Allocate(sizeof(DisplayNameEntry)));
  char* copy = entry ? static_cast<char*>(Allocate(length + 1)) : nullptr;
  if (copy == nullptr) {
    std::free(entry);
    DisplayNameLost = true;
    return;
  }
  std::memcpy(copy, text, length + 1);
  entry->text = copy;
  entry->length = static_cast<std::uint32_t>(length);

  // Step past every entry that orders before or equal to the new name, so
  // equal names keep the order in which they were added.  The first bytes
  // mostly decide, and comparing them here spares most calls.
  const unsigned char first = kFold.byte[static_cast<unsigned char>(text[0])];
  DisplayNameEntry** link = &head;
  for (DisplayNameEntry* other; (other = *link) != nullptr;
       link = &other->next) {
    const unsigned char other_first =
        kFold.byte[static_cast<unsigned char>(other->text[0])];
    if (first != other_first) {
      if (first < other_first) break;
      continue;
    }
    const std::size_t same = SameBytes(
        text, other->text, std::min<std::size_t>(length, other->length));
    if (CompareNoCase(text + same, other->text + same) < 0) break;
  }
  entry->next = *link;
  *link = entry;
}

void PrintForTerminal(const char* text, bool utf8) {
  const char* shown = text;  // The start of the bytes not yet written.
  const char* c = text;
  while (*c != '\0') {
    const std::size_t control =
        ControlLength(reinterpret_cast<const unsigned char*>(c), utf8);
    if (control == 0) {
      ++c;
      continue;
    }
    PrintBytes(shown, static_cast<std::size_t>(c - shown));
    std::printf("?");
    c += control;
    shown = c;
  }
  PrintBytes(shown, static_cast<std::size_t>(c - shown));
  std::printf("\n");
}

void DisplayNameList::Print() const {
  // A name holds whatever its installer stored.  Written to a terminal as it
  // is, a control sequence in it could retitle the window or erase lines, and
  // so hide an entry or show one that is not there; everywhere else the
  // exact bytes are the output.
  DWORD mode = 0;
  const bool terminal =
      GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
  const bool utf8 = GetConsoleOutputCP() == CP_UTF8;

  std::int32_t count = 0;
  const DisplayNameEntry* previous = nullptr;
  for (const DisplayNameEntry* entry = head; entry != nullptr;
       entry = entry->next) {
    if (previous == nullptr || previous->length != entry->length ||
        std::strcmp(previous->text, entry->text) != 0) {
      if (terminal) {
        PrintForTerminal(entry->text, utf8);
      } else {
        std::printf("%s\n", entry->text);
      }
      ++count;
    }
    previous = entry;
  }
  std::printf("%ld items\n", static_cast<long>(count));
}

void DisplayNameList::Clear() {
  while (head != nullptr) {
    DisplayNameEntry* entry = head;
    head = entry->next;
    std::free(entry->text);
    std::free(entry);
  }
}
