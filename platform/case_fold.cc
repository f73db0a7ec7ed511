#include "platform/case_fold.h"

#include <cstdint>

namespace registry {
namespace {

struct FoldPair {
  std::uint16_t unit;
  std::uint16_t lower;
};

constexpr FoldPair kPairs[] = {
#include "platform/case_fold_table.inc"
};

constexpr std::array<char16_t, 0x10000> BuildFold() {
  std::array<char16_t, 0x10000> table{};
  for (std::uint32_t unit = 0; unit < table.size(); ++unit) {
    table[unit] = static_cast<char16_t>(unit);
  }
  for (const FoldPair& pair : kPairs) table[pair.unit] = pair.lower;
  return table;
}

}  // namespace

constinit const std::array<char16_t, 0x10000> kCaseFold = BuildFold();

int CompareFolded(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = FoldCase(a[i]);
    const char16_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace registry
