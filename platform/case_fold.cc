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

}  // namespace registry
