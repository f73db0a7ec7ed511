// The program as a process: its exact output bytes and exit status.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/run_program.h"
#include "tests/temp_prefix.h"

namespace {

namespace fs = std::filesystem;

const std::string kCannotOpen =
    "Cannot open HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
    "Uninstall\r\n";

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

std::string Section(const std::string& subkey, const std::string& body) {
  return "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall" +
         (subkey.empty() ? "" : "\\\\" + subkey) + "] 1\n" + body + "\n";
}

const std::string kHeader = "WINE REGISTRY Version 2\n#arch=win64\n\n";

std::string AlphaBetaGamma() {
  return kHeader + Section("a", "\"DisplayName\"=\"Alpha\"\n") +
         Section("b", "\"DisplayName\"=\"Beta\"\n") +
         Section("c", "\"DisplayName\"=\"Gamma\"\n");
}

Outcome RunIn(const std::string& program, const TempPrefix& prefix,
              Stdout destination = Stdout::kCaptured,
              std::vector<std::string> args = {}, Limits limits = {}) {
  std::vector<std::string> command = Ours(program);
  command.insert(command.end(), args.begin(), args.end());
  return RunProgram(command, {{"WINEPREFIX", prefix.path().string()}},
                    destination, limits);
}

// Each hive in tests/hives against what the Windows build printed for it
// under Wine (NAME.expected: "status N", then the output bytes).
TEST(ProgramTest, ListsEveryRecordedHiveAsWineDoes) {
  int cases = 0;
  for (const auto& entry : fs::directory_iterator(LSINSTALLED_HIVES)) {
    if (entry.path().extension() != ".reg") continue;
    SCOPED_TRACE(entry.path().filename().string());
    TempPrefix prefix;
    fs::copy_file(entry.path(), prefix.hive());
    const fs::file_time_type written = fs::last_write_time(prefix.hive());
    const Outcome outcome = RunIn(LSINSTALLED_EXE, prefix);
    std::string expected =
        ReadAll(fs::path(entry.path()).replace_extension(".expected"));
    const std::size_t newline = expected.find('\n');
    ASSERT_NE(newline, std::string::npos);
    EXPECT_EQ("status " + std::to_string(outcome.status),
              expected.substr(0, newline));
    EXPECT_EQ(outcome.out, expected.substr(newline + 1));
    EXPECT_EQ(outcome.err, "");
    // The prefix's file is only ever read, whatever the outcome.
    EXPECT_EQ(ReadAll(prefix.hive()), ReadAll(entry.path()));
    EXPECT_EQ(fs::last_write_time(prefix.hive()), written);
    ++cases;
  }
  EXPECT_GE(cases, 30);
}

TEST(ProgramTest, IgnoresArgumentsAndNeverWritesTheHive) {
  TempPrefix prefix;
  prefix.WriteHive(kHeader + Section("b", "\"DisplayName\"=\"Beta\"\n") +
                   Section("a", "\"DisplayName\"=\"Alpha\"\n"));
  const fs::file_time_type written = fs::last_write_time(prefix.hive());
  const std::string bytes = ReadAll(prefix.hive());
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"--help"}, {"-v", "x", ""}}) {
    const Outcome outcome =
        RunIn(LSINSTALLED_EXE, prefix, Stdout::kCaptured, args);
    EXPECT_EQ(outcome.out, "Alpha\r\nBeta\r\n2 items\r\n");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
  }
  EXPECT_EQ(fs::last_write_time(prefix.hive()), written);
  EXPECT_EQ(ReadAll(prefix.hive()), bytes);
}

TEST(ProgramTest, ReportsARegistryItCannotOpen) {
  TempPrefix prefix;
  // No system.reg at all.
  Outcome outcome = RunIn(LSINSTALLED_EXE, prefix);
  EXPECT_EQ(outcome.out, kCannotOpen);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "");

  // A hive without the Uninstall key, and a directory in the file's place.
  prefix.WriteHive(kHeader + "[Software\\\\Other] 1\n\"A\"=\"B\"\n");
  EXPECT_EQ(RunIn(LSINSTALLED_EXE, prefix).out, kCannotOpen);
  fs::remove(prefix.hive());
  fs::create_directory(prefix.hive());
  EXPECT_EQ(RunIn(LSINSTALLED_EXE, prefix).out, kCannotOpen);

  // WINEPREFIX naming nothing.
  outcome = RunProgram(Ours(LSINSTALLED_EXE),
                       {{"WINEPREFIX", (prefix.path() / "none").string()}});
  EXPECT_EQ(outcome.out, kCannotOpen);
  EXPECT_EQ(outcome.status, 1);
}

TEST(ProgramTest, ReadsHomeWinePrefixWithoutWineprefix) {
  TempPrefix home;
  fs::create_directory(home.path() / ".wine");
  std::ofstream(home.path() / ".wine" / "system.reg")
      << kHeader + Section("", "");
  for (const char* empty_or_unset : {"", "unset"}) {
    std::map<std::string, std::optional<std::string>> env = {
        {"HOME", home.path().string()}, {"WINEPREFIX", std::nullopt}};
    if (*empty_or_unset == '\0') env["WINEPREFIX"] = "";
    const Outcome outcome = RunProgram(Ours(LSINSTALLED_EXE), env);
    EXPECT_EQ(outcome.out, "0 items\r\n") << empty_or_unset;
    EXPECT_EQ(outcome.status, 0);
  }
}

TEST(ProgramTest, ReportsAHiveItMayNotRead) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "needs root and setpriv to run as an unprivileged user";
  }
  TempPrefix prefix;
  prefix.WriteHive(kHeader + Section("", ""));
  // The unprivileged user runs a copy that it can reach wherever the build
  // folder is.
  const fs::path program = prefix.path() / "lsinstalled";
  fs::copy_file(LSINSTALLED_EXE, program);
  fs::permissions(prefix.path(), fs::perms::owner_all | fs::perms::others_exec);
  fs::permissions(prefix.hive(), fs::perms::owner_read);
  const std::map<std::string, std::optional<std::string>> env = {
      {"WINEPREFIX", prefix.path().string()}};
  EXPECT_EQ(RunProgram(Ours(program.string()), env).out, "0 items\r\n");
  std::vector<std::string> command = {"/usr/bin/setpriv", "--reuid=65534",
                                      "--regid=65534", "--clear-groups"};
  for (const std::string& word : Ours(program.string())) {
    command.push_back(word);
  }
  const Outcome outcome = RunProgram(command, env);
  EXPECT_EQ(outcome.out, kCannotOpen);
  EXPECT_EQ(outcome.status, 1);
}

TEST(ProgramTest, FailedOutputEndsWithStatusTwo) {
  TempPrefix prefix;
  prefix.WriteHive(kHeader + Section("a", "\"DisplayName\"=\"Alpha\"\n"));
  // A full device, a closed descriptor, and a reader that went away: no
  // crash and no signal, but a failure reported as one.
  for (Stdout destination :
       {Stdout::kFull, Stdout::kClosed, Stdout::kReaderGone}) {
    const Outcome outcome = RunIn(LSINSTALLED_EXE, prefix, destination);
    EXPECT_EQ(outcome.status, 2) << static_cast<int>(destination);
    EXPECT_EQ(outcome.err, "");
  }
}

// Names holding what a terminal acts on: a new window title, a cursor
// moved up to erase the line above, a bare CR, BS, BEL, DEL, TAB, a line
// break, and CSI as a C1 control.  A terminal is shown each as '?', and
// ordinary non-ASCII text as it is; a pipe gets the exact bytes (the
// recorded hive's expectation).  Either way both names that differ only in
// a control are listed and counted.
TEST(ProgramTest, ATerminalIsShownNoControlCharacterOfAName) {
  TempPrefix prefix;
  const fs::path hive = fs::path(LSINSTALLED_HIVES) / "control_characters.reg";
  fs::copy_file(hive, prefix.hive());
  const Outcome piped = RunIn(LSINSTALLED_EXE, prefix);
  EXPECT_EQ("status 0\n" + piped.out,
            ReadAll(fs::path(hive).replace_extension(".expected")));

  const Outcome shown = RunIn(LSINSTALLED_EXE, prefix, Stdout::kTerminal);
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.err, "");
  EXPECT_EQ(shown.out,
            "Bell?Back?Del?Tab?\r\n"
            "Caf\xC3\xA9\r\n"
            "Csi?2J\r\n"
            "Erase?[1A?[2K\r\n"
            "Over?write\r\n"
            "Same?\r\n"
            "Same?\r\n"
            "Title?]0;pwned?\r\n"
            "Two??lines\r\n"
            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\r\n"
            "10 items\r\n");

  // The start-up message a terminal gets is the same as a pipe's.
  prefix.WriteHive(kHeader);
  const Outcome refused = RunIn(LSINSTALLED_EXE, prefix, Stdout::kTerminal);
  EXPECT_EQ(refused.out, kCannotOpen);
}

// Builds of the program with a fault injected at start-up.
TEST(ProgramTest, ReportsComThatFailsToStart) {
  TempPrefix prefix;
  prefix.WriteHive(kHeader + Section("a", "\"DisplayName\"=\"Alpha\"\n"));
  // The test COM aborts if uninitialized after failing.
  const Outcome outcome = RunIn(LSINSTALLED_COM_FAILS_EXE, prefix);
  EXPECT_EQ(outcome.out, "Failed to initialize COM runtime\r\n");
  EXPECT_EQ(outcome.status, 1);
}

// COM is uninitialized on every way out once it was initialized.
TEST(ProgramTest, UninitializesComAfterEveryRun) {
  TempPrefix prefix;
  Outcome outcome = RunIn(LSINSTALLED_COM_COUNTED_EXE, prefix);
  EXPECT_EQ(outcome.out, kCannotOpen);
  EXPECT_EQ(outcome.status, 1);
  prefix.WriteHive(kHeader + Section("a", "\"DisplayName\"=\"Alpha\"\n"));
  outcome = RunIn(LSINSTALLED_COM_COUNTED_EXE, prefix);
  EXPECT_EQ(outcome.out, "Alpha\r\n1 items\r\n");
  EXPECT_EQ(outcome.status, 0);
}

TEST(ProgramTest, RunsNormallyWithComAlreadyInitialized) {
  TempPrefix prefix;
  prefix.WriteHive(kHeader + Section("a", "\"DisplayName\"=\"Alpha\"\n"));
  const Outcome outcome = RunIn(LSINSTALLED_COM_STARTED_EXE, prefix);
  EXPECT_EQ(outcome.out, "Alpha\r\n1 items\r\n");
  EXPECT_EQ(outcome.status, 0);
}

TEST(ProgramTest, AListingMissingANameEndsWithStatusTwo) {
  TempPrefix prefix;
  prefix.WriteHive(AlphaBetaGamma());
  // Memory runs out for the third name's copy.
  const Outcome outcome = RunIn(LSINSTALLED_NO_MEMORY_EXE, prefix);
  EXPECT_EQ(outcome.out, "Alpha\r\nBeta\r\n2 items\r\n");
  EXPECT_EQ(outcome.status, 2);
}

// Whatever the system.reg is, the program answers at once: a FIFO with no
// writer, a device that never ends, a sparse file too large to be a hive.
TEST(ProgramTest, RefusesAHiveThatIsNoFileWithoutWaitingOrReadingIt) {
  TempPrefix prefix;
  const auto expect_refused = [&](const char* what) {
    const Outcome outcome = RunIn(LSINSTALLED_EXE, prefix, Stdout::kCaptured,
                                  {}, Limits{.seconds = 10});
    EXPECT_EQ(outcome.out, kCannotOpen) << what;
    EXPECT_EQ(outcome.status, 1) << what;
    EXPECT_EQ(outcome.err, "") << what;
    // Reading the 5 GiB file would take as much memory.
    EXPECT_LT(outcome.peak_kilobytes, 64 * 1024) << what;
  };
  ASSERT_EQ(mkfifo(prefix.hive().c_str(), 0600), 0);
  expect_refused("FIFO");
  fs::remove(prefix.hive());
  fs::create_symlink("/dev/zero", prefix.hive());
  expect_refused("/dev/zero");
  fs::remove(prefix.hive());
  prefix.WriteHive(kHeader + Section("a", "\"DisplayName\"=\"Alpha\"\n"));
  fs::resize_file(prefix.hive(), std::uintmax_t{5} << 30);
  expect_refused("5 GiB");
}

TEST(ProgramTest, AWalkCutShortByTheRegistryEndsWithStatusTwo) {
  TempPrefix prefix;
  prefix.WriteHive(AlphaBetaGamma());
  // The second subkey's enumeration fails.
  const Outcome outcome = RunIn(LSINSTALLED_ENUMERATION_FAILS_EXE, prefix);
  EXPECT_EQ(outcome.out, "Alpha\r\n1 items\r\n");
  EXPECT_EQ(outcome.status, 2);
  EXPECT_EQ(outcome.err, "");
}

// A hive of `count` entries named "App 00000" on, and its listing.
std::string ManyEntries(int count, std::string* listing) {
  std::string hive = kHeader;
  listing->clear();
  for (int i = 0; i < count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "App %05d", i);
    hive += Section(std::string("{") + name + "}",
                    "\"DisplayName\"=\"" + std::string(name) +
                        "\"\n\"Publisher\"=\"Someone\"\n");
    *listing += std::string(name) + "\r\n";
  }
  *listing += std::to_string(count) + " items\r\n";
  return hive;
}

// Memory running out is never a crash, a message on stderr or a listing
// passed off as whole: status 0 with everything, 1 with "Cannot open", or
// 2 with some of the names and their count.  With too little memory even
// for text-mode output, nothing at all is written rather than other bytes.
void ExpectAnHonestEnd(const Outcome& outcome, const std::string& listing) {
  EXPECT_EQ(outcome.err, "");
  switch (outcome.status) {
    case 0:
      EXPECT_EQ(outcome.out, listing);
      break;
    case 1:
      if (!outcome.out.empty()) {
        EXPECT_EQ(outcome.out, kCannotOpen);
      }
      break;
    case 2: {
      if (outcome.out.empty()) break;
      std::istringstream lines(outcome.out);
      std::string line;
      long names = 0;
      while (std::getline(lines, line) && lines.peek() != EOF) {
        EXPECT_NE(listing.find(line + "\n"), std::string::npos) << line;
        ++names;
      }
      EXPECT_EQ(line, std::to_string(names) + " items\r");
      break;
    }
    default:
      ADD_FAILURE() << "status " << outcome.status << ": " << outcome.out;
  }
}

// Every allocation below the registry calls in turn fails, one run each.
TEST(ProgramTest, EveryAllocationThatFailsEndsTheRunHonestly) {
  TempPrefix prefix;
  std::string listing;
  prefix.WriteHive(ManyEntries(3, &listing));
  int incomplete = 0;
  for (int failing = 0;; ++failing) {
    ASSERT_LT(failing, 10000) << "the run never completed";
    const Outcome outcome = RunProgram(
        Ours(LSINSTALLED_ALLOCATIONS_FAIL_EXE),
        {{"WINEPREFIX", prefix.path().string()},
         {"LSINSTALLED_FAILING_ALLOCATION", std::to_string(failing)}});
    SCOPED_TRACE("allocation " + std::to_string(failing));
    ExpectAnHonestEnd(outcome, listing);
    if (outcome.status == 0 || HasFailure()) break;
    incomplete += outcome.status == 2;
  }
  // Some failures fall in the walk, not only in loading the hive.
  EXPECT_GT(incomplete, 0);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// As `ulimit -v` at every step from where the program cannot even start to
// where it lists everything.
TEST(ProgramTest, AnyAddressSpaceLimitEndsTheRunHonestly) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer needs an unlimited address space";
  }
  TempPrefix prefix;
  std::string listing;
  prefix.WriteHive(ManyEntries(5000, &listing));
  bool started = false;
  for (rlim_t kilobytes = 1024;; kilobytes += 256) {
    ASSERT_LT(kilobytes, 256u * 1024) << "the run never completed";
    SCOPED_TRACE(std::to_string(kilobytes) + " KiB");
    const Outcome outcome =
        RunIn(LSINSTALLED_EXE, prefix, Stdout::kCaptured, {},
              Limits{.address_space = kilobytes * 1024});
    // No program of ours runs whole in a mebibyte: a limit that lets it is
    // not enforced (qemu-user takes it and ignores it).
    if (kilobytes == 1024 && outcome.status == 0) {
      GTEST_SKIP() << "the address-space limit is not enforced here";
    }
    // Below some limit the loader cannot map the C library.
    if (outcome.status == 127 && outcome.out.empty()) {
      ASSERT_FALSE(started) << outcome.err;
      continue;
    }
    started = true;
    ExpectAnHonestEnd(outcome, listing);
    if (outcome.status == 0 || HasFailure()) break;
  }
}

}  // namespace
