#include "platform/hive_bytes_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

namespace registry {

namespace {

// The one mapped file, for the SIGBUS handler.  A process maps one hive at
// a time; tests that load many only ever load copies.
std::atomic<char*> mapped_begin{nullptr};
std::atomic<std::size_t> mapped_size{0};
struct sigaction previous_bus_action;

// A page of the file past its new end: put zeros there and retry the read.
void OnBusError(int signal, siginfo_t* info, void* context) {
  char* const begin = mapped_begin.load();
  auto* const address = static_cast<char*>(info->si_addr);
  if (begin != nullptr && address >= begin &&
      address < begin + mapped_size.load()) {
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    void* start = reinterpret_cast<void*>(
        reinterpret_cast<std::uintptr_t>(address) & ~(page - 1));
    if (mmap(start, page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED,
             -1, 0) != MAP_FAILED) {
      return;
    }
  }
  sigaction(SIGBUS, &previous_bus_action, nullptr);
  if (previous_bus_action.sa_flags & SA_SIGINFO) {
    previous_bus_action.sa_sigaction(signal, info, context);
  } else if (previous_bus_action.sa_handler != SIG_IGN &&
             previous_bus_action.sa_handler != SIG_DFL) {
    previous_bus_action.sa_handler(signal);
  }
  // Otherwise the fault repeats on return, now with the default action.
}

}  // namespace

HiveBytes::HiveBytes(std::size_t capacity) {
  if (capacity == 0) capacity = 1;
  void* memory = mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (memory == MAP_FAILED) return;
  data_ = static_cast<char*>(memory);
  capacity_ = capacity;
}

HiveBytes::HiveBytes(std::string_view bytes) : HiveBytes(bytes.size()) {
  if (data_ == nullptr || bytes.empty()) return;
  std::memcpy(data_, bytes.data(), bytes.size());
  size_ = bytes.size();
}

HiveBytes::HiveBytes(HiveBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

// The old bytes go with `other`, whose destructor releases them.
HiveBytes& HiveBytes::operator=(HiveBytes&& other) noexcept {
  std::swap(data_, other.data_);
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
  return *this;
}

HiveBytes::~HiveBytes() {
  if (data_ == nullptr) return;
  if (data_ == mapped_begin.load()) mapped_begin = nullptr;
  munmap(data_, capacity_);
}

bool HiveBytes::MapFile(const char* path, HiveBytes* bytes) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  HiveBytes mapped;
  if (info.st_size == 0) {
    close(fd);
    *bytes = HiveBytes(std::string_view());
    return bytes->capacity() > 0;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  void* memory =
      mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  close(fd);
  if (memory == MAP_FAILED) return false;
  static const bool handler_installed = [] {
    struct sigaction action = {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &previous_bus_action) == 0;
  }();
  (void)handler_installed;
  mapped.data_ = static_cast<char*>(memory);
  mapped.size_ = size;
  mapped.capacity_ = size;
  mapped_size = size;
  mapped_begin = mapped.data_;
  *bytes = std::move(mapped);
  return true;
}

}  // namespace registry
