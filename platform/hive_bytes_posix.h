// The bytes of a hive: the file mapped read-only, or a copy in memory that
// the kernel maps in one call.  Mapping the file's own pages, all at once,
// costs a fraction of copying them, or of faulting in pages one by one.

#ifndef PLATFORM_HIVE_BYTES_POSIX_H_
#define PLATFORM_HIVE_BYTES_POSIX_H_

#include <cstddef>
#include <string_view>

namespace registry {

class HiveBytes {
 public:
  HiveBytes() = default;
  // Room for `capacity` bytes, none of them in use yet.  On failure the
  // object has no room.
  explicit HiveBytes(std::size_t capacity);
  explicit HiveBytes(std::string_view bytes);
  HiveBytes(HiveBytes&& other) noexcept;
  HiveBytes& operator=(HiveBytes&& other) noexcept;
  ~HiveBytes();

  char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  void set_size(std::size_t size) { size_ = size; }

  // Maps the whole regular file at `path`; false for anything else (no
  // file, a directory, a device, an error).  Should the file shrink while
  // mapped, the pages past its new end read as zeros instead of raising
  // SIGBUS.
  static bool MapFile(const char* path, HiveBytes* bytes);

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // Of the mapping.
};

}  // namespace registry

#endif  // PLATFORM_HIVE_BYTES_POSIX_H_
