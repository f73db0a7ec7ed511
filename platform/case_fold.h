// The lower-case fold under which Wine compares and orders registry key and
// value names, one UTF-16 unit at a time.

#ifndef PLATFORM_CASE_FOLD_H_
#define PLATFORM_CASE_FOLD_H_

#include <array>
#include <cstddef>

namespace registry {

extern const std::array<char16_t, 0x10000> kCaseFold;

// A name's units: UTF-16 units, or bytes of plain ASCII, each its own unit.
inline char16_t Unit(char16_t unit) { return unit; }
inline char16_t Unit(char byte) { return static_cast<unsigned char>(byte); }

inline char16_t FoldCase(char16_t unit) { return kCaseFold[unit]; }

// Compares two names unit by unit after folding; a prefix orders first.
// A name is anything with size() and units or ASCII bytes by index.
template <typename A, typename B>
int CompareFolded(const A& a, const B& b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = FoldCase(Unit(a[i]));
    const char16_t y = FoldCase(Unit(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

template <typename A, typename B>
bool EqualFolded(const A& a, const B& b) {
  return a.size() == b.size() && CompareFolded(a, b) == 0;
}

}  // namespace registry

#endif  // PLATFORM_CASE_FOLD_H_
