// The bytes of a hive: a private copy of the file taken once, so that
// nothing another process does to the file afterwards changes what the
// registry answers.

#ifndef PLATFORM_HIVE_BYTES_POSIX_H_
#define PLATFORM_HIVE_BYTES_POSIX_H_

#include <cstddef>
#include <string_view>

namespace registry {

class HiveBytes {
 public:
  // Hive offsets are 32-bit: a file of this size or more is no hive.
  static constexpr std::size_t kLimit = 0xFFFFFFFF;

  HiveBytes() = default;
  // A copy of `bytes`.  On failure (no memory) the object holds nothing and
  // ok() is false.
  explicit HiveBytes(std::string_view bytes);
  HiveBytes(HiveBytes&& other) noexcept;
  HiveBytes& operator=(HiveBytes&& other) noexcept;
  ~HiveBytes();

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool ok() const { return data_ != nullptr; }

  // Reads the whole regular file at `path`, up to its end even if it grew
  // since it was opened.  Returns false, without blocking and before reading
  // anything, for what is not a regular file (a FIFO, a socket, a device, a
  // directory) or has kLimit bytes or more, and false for a failed read or
  // when memory runs out.
  static bool ReadFile(const char* path, HiveBytes* bytes);

 private:
  // Room for at least `capacity` bytes, the ones in use kept; false, with
  // nothing changed, when memory ran out.
  bool Reserve(std::size_t capacity);
  void Release();

  void* mapping_ = nullptr;  // Anonymous memory holding the bytes.
  std::size_t mapping_length_ = 0;
  char* data_ = nullptr;  // Inside the mapping.
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace registry

#endif  // PLATFORM_HIVE_BYTES_POSIX_H_
