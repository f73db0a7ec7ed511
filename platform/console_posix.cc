// Stands in for the C runtime's text-mode standard output on Windows: every
// 0x0A written to stdout reaches file descriptor 1 as 0x0D 0x0A.  And for
// the console calls: a standard handle is a console when its descriptor is
// a terminal.
//
// The stream is installed by a static initializer, so this object must be
// linked into every executable directly (an object library, not an archive
// the linker could leave out).

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

namespace {

bool WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(STDOUT_FILENO, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// The cookie write function: returns `size` when everything reached the
// descriptor and 0 on failure, which sets the stream's error flag.
ssize_t WriteTranslated(void*, const char* buffer, std::size_t size) {
  char out[8192];
  std::size_t used = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (used + 2 > sizeof out) {
      if (!WriteAll(out, used)) return 0;
      used = 0;
    }
    if (buffer[i] == '\n') {
      out[used++] = '\r';
    }
    out[used++] = buffer[i];
  }
  if (used > 0 && !WriteAll(out, used)) return 0;
  return static_cast<ssize_t>(size);
}

struct TextModeStdout {
  TextModeStdout() {
    // A reader that went away makes writes fail with EPIPE, as on Windows,
    // instead of killing the process.
    signal(SIGPIPE, SIG_IGN);
    FILE* stream = fopencookie(
        nullptr, "w",
        cookie_io_functions_t{nullptr, WriteTranslated, nullptr, nullptr});
    if (stream == nullptr) {
      // No memory even for the stream: rather than LF line ends, no bytes.
      // Every write to a descriptor open for reading fails, which the
      // stream's error flag, and so the exit status, reports.
      const int unwritable = open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (unwritable >= 0) {
        dup2(unwritable, STDOUT_FILENO);
        close(unwritable);
      } else {
        close(STDOUT_FILENO);
      }
      return;
    }
    setvbuf(stream, nullptr, isatty(STDOUT_FILENO) ? _IOLBF : _IOFBF, 1 << 16);
    stdout = stream;
  }
};

const TextModeStdout text_mode_stdout;

// What the console mode of a Windows console holds by default: processed
// output, wrapped at the end of a line.
constexpr DWORD kTerminalMode = 0x0001 | 0x0002;

}  // namespace

// A standard handle is its descriptor, plus one so that none is null.
HANDLE GetStdHandle(DWORD std_handle) {
  const int descriptor = -10 - static_cast<int>(std_handle);
  if (descriptor < 0 || descriptor > 2) return nullptr;
  return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(descriptor + 1));
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  const auto handle = reinterpret_cast<std::uintptr_t>(console);
  if (handle < 1 || handle > 3 || !isatty(static_cast<int>(handle - 1))) {
    return 0;
  }
  *mode = kTerminalMode;
  return 1;
}

UINT GetConsoleOutputCP() { return CP_UTF8; }
