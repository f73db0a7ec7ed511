// The lower-case fold under which Wine compares and orders registry key and
// value names, one UTF-16 unit at a time.

#ifndef PLATFORM_CASE_FOLD_H_
#define PLATFORM_CASE_FOLD_H_

#include <array>
#include <string_view>

namespace registry {

extern const std::array<char16_t, 0x10000> kCaseFold;

inline char16_t FoldCase(char16_t unit) { return kCaseFold[unit]; }

// Compares two names unit by unit after folding; a prefix orders first.
int CompareFolded(std::u16string_view a, std::u16string_view b);

inline bool EqualFolded(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareFolded(a, b) == 0;
}

}  // namespace registry

#endif  // PLATFORM_CASE_FOLD_H_
