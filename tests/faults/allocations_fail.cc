// Makes operator new fail, as on a machine out of memory, from the
// allocation numbered LSINSTALLED_FAILING_ALLOCATION on (counted from 0; no
// failure when it is unset).  The list allocates with malloc and has its
// own seam; this reaches everything else.

#include <cstdlib>
#include <new>

namespace {

long allocations_left() {
  static long left = [] {
    const char* value = std::getenv("LSINSTALLED_FAILING_ALLOCATION");
    return value != nullptr ? std::atol(value) : -1;
  }();
  return left;
}

long made = 0;

void* Allocate(std::size_t size) noexcept {
  const long limit = allocations_left();
  if (limit >= 0 && made++ >= limit) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
