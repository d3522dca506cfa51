// Copies a 1 GiB object from a simulated device into a staging file on the
// local disk and compares the throughput with cp of a 1 GiB file on the same
// disk, measured in the same run. The copy flushes its file before it says
// "ok", so cp is also measured followed by an fsync of its copy: that is the
// like-for-like figure. Also reports the copy's peak resident memory beyond
// what the process held before it, and its progress reports per second.
//
// The files go to a fresh folder under $SNAPFERRY_BENCH_DIR (default /tmp)
// and are deleted afterwards.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "wpd/object_copy.h"

namespace {

constexpr uint64_t kObjectSize = uint64_t{1} << 30;
constexpr DWORD kOptimalSizes[] = {262144, 4194304};

std::string g_folder;
std::string g_source;       // the 1 GiB file cp copies
std::string g_destination;  // where every run writes, deleted after each

std::string Join(const std::string& folder, const char* name) {
  return folder + "/" + name;
}

// Byte i of the object is i mod 251, in the file and on the device alike.
std::string MakeObjectBytes() {
  std::string bytes(kObjectSize, '\0');
  unsigned value = 0;
  for (uint64_t i = 0; i < kObjectSize; ++i) {
    bytes[i] = static_cast<char>(value);
    if (++value == 251) value = 0;
  }
  return bytes;
}

// Through stdio: <fcntl.h> would clash with the COM headers' LOCK_* names.
bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
            std::fflush(file) == 0 && fsync(fileno(file)) == 0;
  return std::fclose(file) == 0 && ok;
}

const char* FilesystemName(const std::string& path) {
  struct statfs info;
  if (statfs(path.c_str(), &info) != 0) return "unknown";
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:
      return "ext2/3/4";
    case 0x01021994:
      return "tmpfs";
    case 0x794C7630:
      return "overlayfs";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    case 0x2FC12FC1:
      return "zfs";
    default:
      return "other";
  }
}

// One line of /proc/self/status in KiB ("VmRSS", "VmHWM").
long StatusKib(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(key);
  while (std::getline(status, line)) {
    if (line.compare(0, length, key) == 0 && line[length] == ':') {
      return std::atol(line.c_str() + length + 1);
    }
  }
  return -1;
}

// Starts a new peak-RSS measurement (Linux 4.0 and later).
bool ResetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// CPU seconds: of the children waited for so far (cp), and of this thread
// (the copy runs on it). Under a loaded machine these hold steadier than
// wall time.
double ChildrenCpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

bool RunCp() {
  pid_t child = fork();
  if (child == 0) {
    execlp("cp", "cp", g_source.c_str(), g_destination.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child &&
         WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// dd moves the bytes the way the copy does, through one user-space buffer of
// the given size, and flushes the file at the end.
bool RunDd(int64_t buffer_size) {
  const std::string in = "if=" + g_source;
  const std::string out = "of=" + g_destination;
  const std::string bs = "bs=" + std::to_string(buffer_size);
  pid_t child = fork();
  if (child == 0) {
    execlp("dd", "dd", in.c_str(), out.c_str(), bs.c_str(), "conv=fsync",
           "status=none", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child &&
         WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool FsyncFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) return false;
  bool ok = fsync(fileno(file)) == 0;
  return std::fclose(file) == 0 && ok;
}

void RemoveDestination(benchmark::State& state) {
  state.PauseTiming();
  unlink(g_destination.c_str());
  state.ResumeTiming();
}

void BM_Cp(benchmark::State& state) {
  double cpu = 0;
  for (auto _ : state) {
    const double start = ChildrenCpuSeconds();
    if (!RunCp()) state.SkipWithError("cp failed");
    cpu += ChildrenCpuSeconds() - start;
    RemoveDestination(state);
  }
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * kObjectSize));
}

void BM_CpThenFsync(benchmark::State& state) {
  double cpu = 0;
  for (auto _ : state) {
    const double start = ChildrenCpuSeconds() + ThreadCpuSeconds();
    if (!RunCp() || !FsyncFile(g_destination)) {
      state.SkipWithError("cp or fsync failed");
    }
    cpu += ChildrenCpuSeconds() + ThreadCpuSeconds() - start;
    RemoveDestination(state);
  }
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * kObjectSize));
}

// Argument: the buffer size.
void BM_DdFsync(benchmark::State& state) {
  double cpu = 0;
  for (auto _ : state) {
    const double start = ChildrenCpuSeconds();
    if (!RunDd(state.range(0))) state.SkipWithError("dd failed");
    cpu += ChildrenCpuSeconds() - start;
    RemoveDestination(state);
  }
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * kObjectSize));
}

// Argument: the device's optimal transfer size, which picks the buffer.
void BM_CopyObjectToFile(benchmark::State& state) {
  const std::string device_id = "bench-" + std::to_string(state.range(0));
  int64_t reports = 0;
  double seconds = 0;
  double cpu = 0;
  long peak_extra_kib = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ResetPeakRss();
    const long before = StatusKib("VmRSS");
    std::atomic<bool> cancel{false};
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    const double cpu_start = ThreadCpuSeconds();
    snapferry::ObjectOpResult result = snapferry::CopyObjectToFile(
        device_id, "video", g_destination, [&](int64_t, int64_t) { ++reports; },
        cancel);
    seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
            .count();
    cpu += ThreadCpuSeconds() - cpu_start;
    state.PauseTiming();
    peak_extra_kib = std::max(peak_extra_kib, StatusKib("VmHWM") - before);
    if (result.status != snapferry::ObjectOpStatus::kOk ||
        result.bytesWritten != static_cast<int64_t>(kObjectSize)) {
      state.SkipWithError(("copy failed: " + result.error).c_str());
    }
    state.ResumeTiming();
    RemoveDestination(state);
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * kObjectSize));
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.counters["reports_per_s"] = seconds > 0 ? reports / seconds : 0;
  state.counters["peak_rss_extra_KiB"] = static_cast<double>(peak_extra_kib);
}

// One 1 GiB copy per run, five runs each, interleaved at random (see main)
// so that the disk's moods fall on all of them alike; medians compared.
BENCHMARK(BM_Cp)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(BM_CpThenFsync)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(BM_DdFsync)
    ->Arg(262144)
    ->Arg(4194304)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(BM_CopyObjectToFile)
    ->Arg(262144)   // a typical device: a 256 KiB buffer
    ->Arg(4194304)  // the largest buffer
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(5);

// Prints the console table as usual and keeps each run's figures.
class FigureReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, std::map<std::string, double>> figures;

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") {
        continue;
      }
      for (const auto& [name, counter] : run.counters) {
        figures[run.run_name.str()][name] = counter.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  argc = static_cast<int>(args.size());
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  // A fixed threshold (unlike glibc's sliding one) hands every copy buffer
  // its own mapping and returns it on free, so each run's peak shows its own
  // buffer rather than one the previous run left resident.
  mallopt(M_MMAP_THRESHOLD, 64 * 1024);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const char* base = std::getenv("SNAPFERRY_BENCH_DIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") +
                        "/snapferry_copy_bench_XXXXXX";
  std::vector<char> folder(pattern.begin(), pattern.end());
  folder.push_back('\0');
  if (mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  g_folder = folder.data();
  g_source = Join(g_folder, "source.bin");
  g_destination = Join(g_folder, "staging.bin");

  int rc = 0;
  {
    // The devices share one copy of the object's bytes.
    auto bytes = std::make_shared<const std::string>(MakeObjectBytes());
    if (!WriteWholeFile(g_source, *bytes)) {
      std::perror("writing the source file");
      rc = 1;
    }
    wpd_sim::Fixture fixture;
    for (DWORD optimal : kOptimalSizes) {
      auto& phone = fixture.AddDevice(L"bench-" + std::to_wstring(optimal))
                        .OptimalTransferSize(optimal);
      phone.AddStorage(L"s1", L"Internal Storage");
      auto& video = phone.Add(L"video", L"s1", wpd_sim::ContentType::kVideo)
                        .Name(L"IMG_0001.MOV")
                        .Size(kObjectSize);
      video.data_kind = wpd_sim::ObjectSpec::DataKind::kBytes;
      video.bytes = bytes;
    }
    wpd_sim::Simulator sim(std::move(fixture));
    if (!sim.ok()) {
      std::fprintf(stderr, "simulator: %s\n", sim.error().c_str());
      rc = 1;
    }
    if (rc == 0) {
      FigureReporter reporter;
      benchmark::RunSpecifiedBenchmarks(&reporter);
      benchmark::Shutdown();
      const std::string suffix = "/iterations:1/repeats:5/real_time";
      auto& cp = reporter.figures["BM_Cp" + suffix];
      auto& cp_fsync = reporter.figures["BM_CpThenFsync" + suffix];
      auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
      std::printf("\nfiles in %s (%s), object %llu bytes; medians of 5\n",
                  g_folder.c_str(), FilesystemName(g_folder),
                  static_cast<unsigned long long>(kObjectSize));
      std::printf("cp:          %5.0f MB/s, %.2f CPU s\n",
                  cp["bytes_per_second"] / 1e6, cp["cpu_s"]);
      std::printf("cp + fsync:  %5.0f MB/s, %.2f CPU s\n",
                  cp_fsync["bytes_per_second"] / 1e6, cp_fsync["cpu_s"]);
      for (DWORD optimal : kOptimalSizes) {
        auto& copy = reporter.figures["BM_CopyObjectToFile/" +
                                      std::to_string(optimal) + suffix];
        auto& dd =
            reporter.figures["BM_DdFsync/" + std::to_string(optimal) + suffix];
        std::printf("dd bs=%u conv=fsync: %5.0f MB/s, %.2f CPU s\n",
                    static_cast<unsigned>(optimal),
                    dd["bytes_per_second"] / 1e6, dd["cpu_s"]);
        std::printf(
            "copy, %u-byte optimal size: %5.0f MB/s, %.2f CPU s\n"
            "  throughput %.2f x cp + fsync, %.2f x cp, %.2f x dd; "
            "CPU cost %.2f x cp + fsync, %.2f x cp, %.2f x dd\n"
            "  peak RSS +%.0f KiB beyond the process before the copy; "
            "%.1f progress reports/s\n",
            static_cast<unsigned>(optimal), copy["bytes_per_second"] / 1e6,
            copy["cpu_s"],
            ratio(copy["bytes_per_second"], cp_fsync["bytes_per_second"]),
            ratio(copy["bytes_per_second"], cp["bytes_per_second"]),
            ratio(copy["bytes_per_second"], dd["bytes_per_second"]),
            ratio(copy["cpu_s"], cp_fsync["cpu_s"]),
            ratio(copy["cpu_s"], cp["cpu_s"]),
            ratio(copy["cpu_s"], dd["cpu_s"]), copy["peak_rss_extra_KiB"],
            copy["reports_per_s"]);
      }
    }
  }
  unlink(g_source.c_str());
  unlink(g_destination.c_str());
  rmdir(g_folder.c_str());
  return rc;
}
