// A Wine prefix in a fresh temporary folder, for tests that need a real
// system.reg on disk.  Removed with everything in it when destroyed.

#ifndef TESTS_TEMP_PREFIX_H_
#define TESTS_TEMP_PREFIX_H_

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

class TempPrefix {
 public:
  TempPrefix() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lsinstalled.XXXXXX")
            .string();
    path_ = mkdtemp(pattern.data());
  }
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;
  ~TempPrefix() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 ignored);
    std::filesystem::remove_all(path_, ignored);
  }

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path hive() const { return path_ / "system.reg"; }

  void WriteHive(std::string_view bytes) const {
    std::ofstream(hive(), std::ios::binary).write(bytes.data(), bytes.size());
  }

 private:
  std::filesystem::path path_;
};

#endif  // TESTS_TEMP_PREFIX_H_
