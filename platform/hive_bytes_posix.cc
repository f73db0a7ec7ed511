#include "platform/hive_bytes_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

namespace registry {

namespace {

// A transparent huge page: a hive of a megabyte or more takes its memory in
// 2 MiB pages, a fault each, instead of one fault for every 4 KiB that the
// copy touches (or all of them faulted in up front, which costs as much).
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Closes a descriptor on every way out of a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

HiveBytes::HiveBytes(std::string_view bytes) {
  if (!Reserve(bytes.size())) return;
  if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
  size_ = bytes.size();
}

// Swapped with an empty object, `other` is left holding nothing.
HiveBytes::HiveBytes(HiveBytes&& other) noexcept { *this = std::move(other); }

// The old bytes go with `other`, whose destructor releases them.
HiveBytes& HiveBytes::operator=(HiveBytes&& other) noexcept {
  std::swap(mapping_, other.mapping_);
  std::swap(mapping_length_, other.mapping_length_);
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
  return *this;
}

HiveBytes::~HiveBytes() { Release(); }

bool HiveBytes::Reserve(std::size_t capacity) {
  // Never an empty mapping, so that data() is set whenever ok() is.
  capacity = std::max<std::size_t>(capacity, 1);
  // The rounding and the alignment below add up to two huge pages: where
  // size_t is 32 bits, a capacity that near its end has no room anyway.
  if (capacity > std::numeric_limits<std::size_t>::max() - 2 * kHugePage) {
    return false;
  }
  const bool huge = capacity >= kHugePage / 2;
  // A huge page counts whole in the memory in use, however little of it is
  // filled: past the first, the bytes' last, partial one takes small pages.
  const std::size_t advised =
      capacity <= kHugePage ? kHugePage : capacity / kHugePage * kHugePage;
  if (huge) capacity = (capacity + kHugePage - 1) / kHugePage * kHugePage;
  // Room to align the start to a huge page.
  const std::size_t length = huge ? capacity + kHugePage : capacity;
  void* const mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return false;
  auto start = reinterpret_cast<std::uintptr_t>(mapping);
  if (huge) {
    start = (start + kHugePage - 1) & ~(kHugePage - 1);
    // Only advice: without huge pages the bytes are the same.
    madvise(reinterpret_cast<void*>(start), advised, MADV_HUGEPAGE);
  }
  char* const memory = reinterpret_cast<char*>(start);
  if (size_ > 0) std::memcpy(memory, data_, size_);
  Release();
  mapping_ = mapping;
  mapping_length_ = length;
  data_ = memory;
  capacity_ = capacity;
  return true;
}

void HiveBytes::Release() {
  if (mapping_ != nullptr) munmap(mapping_, mapping_length_);
  mapping_ = nullptr;
  mapping_length_ = 0;
}

bool HiveBytes::ReadFile(const char* path, HiveBytes* bytes) {
  // Non-blocking, so that opening a FIFO does not wait for a writer; the
  // type is checked before a single byte is read.
  const Descriptor fd(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) return false;
  struct stat info;
  // The size is compared before it is narrowed: where size_t is 32 bits
  // and off_t 64, a 5 GiB file would otherwise pass for 1 GiB.
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size < 0 ||
      static_cast<std::uint64_t>(info.st_size) >= std::uint64_t{kLimit}) {
    return false;
  }
  // One byte more than the file holds, so that the read that finds its end
  // needs no second buffer unless the file grew.
  HiveBytes read;
  if (!read.Reserve(static_cast<std::size_t>(info.st_size) + 1)) return false;
  for (;;) {
    if (read.size_ == read.capacity_) {
      if (read.capacity_ >= kLimit) return false;
      const std::size_t doubled =
          read.capacity_ > kLimit / 2 ? kLimit : read.capacity_ * 2;
      if (!read.Reserve(doubled)) return false;
    }
    const ssize_t n =
        ::read(fd.get(), read.data_ + read.size_, read.capacity_ - read.size_);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    read.size_ += static_cast<std::size_t>(n);
  }
  if (read.size_ >= kLimit) return false;
  *bytes = std::move(read);
  return true;
}

}  // namespace registry
