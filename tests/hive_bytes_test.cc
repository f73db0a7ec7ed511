// Reading a hive file into memory: what counts as one, and the snapshot it
// gives.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// A file's size is only where reading starts: one that grew after it was
// looked at, or whose file system says 0 as /proc's does, is read to its
// end, through a symlink too.  A child's command line is such a file, with
// bytes of the test's choosing.
TEST(HiveBytesTest, ReadsAFileToItsEndWhateverItsSizeSaid) {
  std::string first = "WINE REGISTRY Version 2\n" + std::string(20000, 'x');
  char seconds[] = "60";
  char* argv[] = {first.data(), seconds, nullptr};
  pid_t child;
  ASSERT_EQ(posix_spawn(&child, "/bin/sleep", nullptr, nullptr, argv, environ),
            0);
  const fs::path command_line = "/proc/" + std::to_string(child) + "/cmdline";
  const std::string expected = first + '\0' + seconds + '\0';
  // posix_spawn may return while the child is still inside execve, before
  // its new command line is in place.
  std::string text;
  for (int tries = 0; tries < 500 && text != expected; ++tries) {
    usleep(10000);
    std::ifstream file(command_line, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(file), {});
  }
  ASSERT_EQ(text, expected);
  text.clear();
  EXPECT_EQ(fs::file_size(command_line), 0u);
  EXPECT_TRUE(Read(command_line, &text));
  EXPECT_EQ(text, expected);

  TempPrefix prefix;
  fs::create_symlink(command_line, prefix.hive());
  text.clear();
  EXPECT_TRUE(Read(prefix.hive(), &text));
  EXPECT_EQ(text, expected);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
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
