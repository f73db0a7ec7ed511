// Captures the bytes a test writes to standard output, after the platform's
// text-mode translation, by pointing file descriptor 1 at a temporary file.

#ifndef TESTS_STDOUT_CAPTURE_H_
#define TESTS_STDOUT_CAPTURE_H_

#include <unistd.h>

#include <cstdio>
#include <string>

class StdoutCapture {
 public:
  StdoutCapture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
  }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;
  ~StdoutCapture() { Finish(); }

  // Restores standard output and returns every byte written meanwhile.
  std::string Finish() {
    if (file_ == nullptr) return bytes_;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    std::rewind(file_);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
      bytes_.append(buffer, n);
    }
    std::fclose(file_);
    file_ = nullptr;
    return bytes_;
  }

 private:
  std::FILE* file_;
  int saved_ = -1;
  std::string bytes_;
};

#endif  // TESTS_STDOUT_CAPTURE_H_
