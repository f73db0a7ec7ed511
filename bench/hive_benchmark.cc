// Throughput of the hive reader and of a whole listing pass over generated
// hives.  The hives come from bench/make_hive.py; bench/run.sh makes them
// and passes their folder in LSINSTALLED_BENCH_HIVES.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "listing/display_name_list.h"
#include "platform/hive_posix.h"
#include "platform/registry_testing.h"
#include "scan/uninstall_scan.h"

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// Loading alone: the one pass that builds the key tree.
void HiveLoad(benchmark::State& state, const std::string& text) {
  registry::Hive hive;
  for (auto _ : state) {
    state.PauseTiming();
    hive = registry::Hive();  // Freeing the last one is not loading.
    registry::HiveBytes copy(text);
    state.ResumeTiming();
    benchmark::DoNotOptimize(hive.Load(std::move(copy)));
    benchmark::DoNotOptimize(hive.key_count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

// Everything the program does but the output: load, walk the Uninstall key
// through the Win32 calls, fill and clear the list.
void ScanHive(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    LoadRegistryForTesting(text.data(), text.size());
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                      0, KEY_READ, &key) == ERROR_SUCCESS) {
      ScanUninstallKey(key);
      RegCloseKey(key);
    }
    DisplayNames.Clear();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
}

// Filling the list: each Add walks from the front, so the cost grows with
// the square of the count.
void FillList(benchmark::State& state) {
  // Names shaped like real ones: a few words and a version.
  static const char* const kWords[] = {
      "Adobe",     "audio",   "Backup",  "Cloud",    "Codec",   "Driver",
      "Engine",    "Filter",  "Font",    "Graphic",  "helper",  "Image",
      "Kernel",    "Media",   "Monitor", "Network",  "Office",  "Player",
      "Printer",   "Runtime", "Search",  "Security", "Service", "Studio",
      "Sync",      "Tools",   "Update",  "Video",    "Viewer",  "Web",
      "Microsoft", "Mozilla", "NVIDIA",  "Intel",    "7-Zip",   "Zoom"};
  const auto count = static_cast<int>(state.range(0));
  std::vector<std::string> names;
  std::uint64_t seed = 88172645463325252ull;
  const auto next = [&seed] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return seed;
  };
  for (int i = 0; i < count; ++i) {
    names.push_back(std::string(kWords[next() % std::size(kWords)]) + " " +
                    kWords[next() % std::size(kWords)] + " " +
                    std::to_string(next() % 30) + "." +
                    std::to_string(next() % 100));
  }
  DisplayNameList list;
  for (auto _ : state) {
    for (const std::string& name : names) list.Add(name.c_str());
    list.Clear();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          count);
}
BENCHMARK(FillList)->Arg(1000)->Arg(5000)->Arg(50000)->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const char* dir = std::getenv("LSINSTALLED_BENCH_HIVES");
  if (dir != nullptr) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.path().extension() != ".reg") continue;
      const std::string name = entry.path().stem().string();
      const std::string text = ReadAll(entry.path());
      benchmark::RegisterBenchmark(("HiveLoad/" + name).c_str(), HiveLoad, text)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("ScanHive/" + name).c_str(), ScanHive, text)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
