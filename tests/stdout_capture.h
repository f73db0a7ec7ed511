// Captures the bytes a test writes to standard output, after the platform's
// text-mode translation, by pointing file descriptor 1 at a temporary file.

#ifndef TESTS_STDOUT_CAPTURE_H_
#define TESTS_STDOUT_CAPTURE_H_

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

class StdoutCapture {
 public:
  // The file is opened in text mode, so that on Windows descriptor 1 keeps
  // the C runtime's text mode while it points there.
  StdoutCapture()
      : path_(std::filesystem::temp_directory_path() /
              ("lsinstalled-capture-" + std::to_string(getpid()) + ".txt")),
        file_(std::fopen(path_.string().c_str(), "w")) {
    std::fflush(stdout);
    saved_ = dup(1);
    dup2(fileno(file_), 1);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  ~StdoutCapture() { Finish(); }

  // Restores standard output and returns every byte written meanwhile.
  std::string Finish() {
    if (file_ == nullptr) return bytes_;
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    std::fclose(file_);
    file_ = nullptr;
    std::FILE* written = std::fopen(path_.string().c_str(), "rb");
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, written)) > 0) {
      bytes_.append(buffer, n);
    }
    std::fclose(written);
    std::filesystem::remove(path_);
    return bytes_;
  }

 private:
  std::filesystem::path path_;
  std::FILE* file_;
  int saved_ = -1;
  std::string bytes_;
};

#endif  // TESTS_STDOUT_CAPTURE_H_
