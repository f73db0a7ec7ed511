// Reading a hive file into memory: what counts as one, and the snapshot it
// gives.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "platform/hive_bytes_posix.h"
#include "tests/temp_prefix.h"

namespace {

namespace fs = std::filesystem;

bool Read(const fs::path& path, std::string* text = nullptr) {
  registry::HiveBytes bytes;
  if (!registry::HiveBytes::ReadFile(path.c_str(), &bytes)) return false;
  if (text != nullptr) text->assign(bytes.data(), bytes.size());
  return true;
}

TEST(HiveBytesTest, ReadsRegularFilesWhole) {
  TempPrefix prefix;
  std::string text = "stale";
  prefix.WriteHive("");
  ASSERT_TRUE(Read(prefix.hive(), &text));
  EXPECT_EQ(text, "");

  // Larger than one read, and large enough for huge pages, one of them
  // exactly filled.
  for (const std::size_t size : {std::size_t{3 * 65536 + 7},
                                 std::size_t{2} << 20, std::size_t{5} << 20}) {
    std::string large(size, 'x');
    large[70000] = '\0';
    large.back() = 'y';
    prefix.WriteHive(large);
    ASSERT_TRUE(Read(prefix.hive(), &text)) << size;
    EXPECT_EQ(text, large) << size;
  }
}

// None of these may block or be read: a FIFO without a writer would wait
// for one forever, and a device may never end.
TEST(HiveBytesTest, RefusesWhatIsNotARegularFile) {
  TempPrefix prefix;
  EXPECT_FALSE(Read(prefix.hive()));  // Missing.
  EXPECT_FALSE(Read(prefix.path()));  // A directory.
  EXPECT_FALSE(Read("/dev/null"));

  ASSERT_EQ(mkfifo(prefix.hive().c_str(), 0600), 0);
  EXPECT_FALSE(Read(prefix.hive()));
  fs::remove(prefix.hive());

  fs::create_symlink("/dev/zero", prefix.hive());
  EXPECT_FALSE(Read(prefix.hive()));
  fs::remove(prefix.hive());

  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  const std::string path = prefix.hive().string();
  ASSERT_LT(path.size(), sizeof address.sun_path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  ASSERT_EQ(
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_FALSE(Read(prefix.hive()));
  close(listener);
}

long PeakKilobytes() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A sparse file costs no disk; read, it would cost 5 GB of memory.
TEST(HiveBytesTest, RefusesAFileOf4GiBOrMoreBeforeReadingIt) {
  TempPrefix prefix;
  // Where size_t is 32 bits, 5 GiB narrowed to it is 1 GiB.
  for (const std::uintmax_t size :
       {std::uintmax_t{5} << 30, std::uintmax_t{0xFFFFFFFF}}) {
    prefix.WriteHive("WINE REGISTRY Version 2\n#arch=win64\n");
    fs::resize_file(prefix.hive(), size);
    const long before = PeakKilobytes();
    EXPECT_FALSE(Read(prefix.hive())) << size;
    EXPECT_LT(PeakKilobytes() - before, 64 * 1024) << size;
  }
}

// A size that rounding up to whole huge pages would wrap past the end of
// size_t is refused, not made small.  Nothing of the bytes is read.
TEST(HiveBytesTest, RefusesASizeWithNoRoomToRoundUp) {
  const char byte = 'x';
  for (const std::size_t size :
       {std::numeric_limits<std::size_t>::max(),
        std::numeric_limits<std::size_t>::max() - (std::size_t{2} << 20)}) {
    const registry::HiveBytes bytes(std::string_view(&byte, size));
    EXPECT_FALSE(bytes.ok()) << size;
  }
}

TEST(HiveBytesTest, TheCopyOutlivesChangesToTheFile) {
  TempPrefix prefix;
  const std::string original(100000, 'a');
  prefix.WriteHive(original);
  registry::HiveBytes bytes;
  ASSERT_TRUE(registry::HiveBytes::ReadFile(prefix.hive().c_str(), &bytes));
  prefix.WriteHive(std::string(original.size(), 'b'));  // In place.
  ASSERT_EQ(truncate(prefix.hive().c_str(), 10), 0);
  EXPECT_EQ(std::string(bytes.data(), bytes.size()), original);
}

}  // namespace
