// Runs a program as a child process and collects its exact output bytes.

#ifndef TESTS_RUN_PROGRAM_H_
#define TESTS_RUN_PROGRAM_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct Outcome {
  int status = -1;  // The exit status, or 128 + the signal that ended it.
  std::string out;
  std::string err;
  long peak_kilobytes = 0;  // The child's peak resident set.
};

// Where the child's standard output goes.  kTerminal is a pseudo-terminal
// in raw mode, so that its bytes are read as the program wrote them.
enum class Stdout { kCaptured, kFull, kClosed, kReaderGone, kTerminal };

struct Limits {
  // A child still running after this long is ended by SIGALRM (status 142),
  // so a program that hangs fails its test instead of stalling the suite.
  unsigned seconds = 60;
  rlim_t address_space = RLIM_INFINITY;  // As `ulimit -v`, in bytes.
};

// The command line that runs one of the project's own programs: through
// the emulator, its words separated by spaces, when the build is for
// another architecture.
inline std::vector<std::string> Ours(const std::string& program) {
  std::vector<std::string> command;
#ifdef LSINSTALLED_EMULATOR
  std::istringstream words(LSINSTALLED_EMULATOR);
  for (std::string word; words >> word;) command.push_back(word);
#endif
  command.push_back(program);
  return command;
}

// Runs `argv` with the environment changed by `env` (a missing value unsets
// the variable).
inline Outcome RunProgram(
    const std::vector<std::string>& argv,
    const std::map<std::string, std::optional<std::string>>& env = {},
    Stdout destination = Stdout::kCaptured, Limits limits = {}) {
  std::vector<std::string> environment;
  for (char** var = environ; *var != nullptr; ++var) {
    const std::string entry = *var;
    if (!env.count(entry.substr(0, entry.find('=')))) {
      environment.push_back(entry);
    }
  }
  for (const auto& [name, value] : env) {
    if (value) environment.push_back(name + "=" + *value);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : environment) {
    envp.push_back(const_cast<char*>(e.c_str()));
  }
  args.push_back(nullptr);
  envp.push_back(nullptr);

  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  if (destination == Stdout::kReaderGone) close(out[0]);
  if (destination == Stdout::kTerminal) {
    // The terminal's side stands where the pipe's reading end stood, and
    // its program side where the writing end did.
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    termios raw;
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
      return {};
    }
    const int program_side = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    if (program_side < 0 || tcgetattr(program_side, &raw) != 0) return {};
    cfmakeraw(&raw);
    tcsetattr(program_side, TCSANOW, &raw);
    dup2(terminal, out[0]);
    dup2(program_side, out[1]);
    close(terminal);
    close(program_side);
  }
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    switch (destination) {
      case Stdout::kCaptured:
      case Stdout::kReaderGone:
      case Stdout::kTerminal:
        dup2(out[1], STDOUT_FILENO);
        break;
      case Stdout::kFull:
        dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
        break;
      case Stdout::kClosed:
        close(STDOUT_FILENO);
        break;
    }
    dup2(err[1], STDERR_FILENO);
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    if (limits.address_space != RLIM_INFINITY) {
      const rlimit space = {limits.address_space, limits.address_space};
      setrlimit(RLIMIT_AS, &space);
    }
    alarm(limits.seconds);  // Kept across execve.
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  Outcome outcome;
  std::vector<pollfd> fds;
  if (destination != Stdout::kReaderGone) fds.push_back({out[0], POLLIN, 0});
  fds.push_back({err[0], POLLIN, 0});
  while (!fds.empty()) {
    poll(fds.data(), fds.size(), -1);
    for (auto it = fds.begin(); it != fds.end();) {
      char buffer[65536];
      const ssize_t n =
          (it->revents != 0) ? read(it->fd, buffer, sizeof buffer) : -2;
      if (n > 0) {
        (it->fd == out[0] ? outcome.out : outcome.err).append(buffer, n);
      }
      if (n == 0 || n == -1) {
        close(it->fd);
        it = fds.erase(it);
      } else {
        ++it;
      }
    }
  }
  int status = 0;
  rusage usage = {};
  wait4(pid, &status, 0, &usage);
  outcome.peak_kilobytes = usage.ru_maxrss;
  outcome.status =
      WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

#endif  // TESTS_RUN_PROGRAM_H_
