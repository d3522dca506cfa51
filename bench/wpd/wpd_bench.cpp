// The media scan and the media enumeration over a simulated current iPhone
// (month folders of up to 1,000 items right below its storage), in two
// parts:
//  - without a link, against a bare walk of the same tree that only lists
//    and fetches properties (what the simulated device itself costs); the
//    summary after the benchmark table gives the ratios, the growth of the
//    per-object cost from 10,000 to 100,000 objects, and memory;
//  - on the "usb2" link, unscaled, with properties read one by one and in
//    bulk: wall time, what crossed the link (round trips, bulk batches
//    among them), when the walk told its first entry (when the channel
//    sends the first streamed batch) against the whole reply, and the
//    ratios of the bulk path to the other;
//  - the memory of what the channel handler keeps of a 100,000-object
//    listing to check deletes against (ListedObjects), counted by the heap
//    blocks it holds (every operator new of this program is counted).
//
//   wpd_bench [--no-link | --link-only] [google benchmark flags]
//   wpd_bench --only <scan|enumerate|bare-scan|bare-enumerate> <months> <runs>
//     runs one operation alone, for a profiler (callgrind, perf)
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/wpd/simulator/simulator.h"
#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/listed_objects.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/media_walk.h"

// The bytes of the heap blocks operator new hands out and has not taken
// back: each block's usable size and glibc's 8-byte header, what the
// process really pays for it.
namespace {
std::atomic<int64_t> live_heap_bytes{0};

void* CountedNew(size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  live_heap_bytes.fetch_add(
      static_cast<int64_t>(malloc_usable_size(block) + sizeof(size_t)),
      std::memory_order_relaxed);
  return block;
}

void CountedDelete(void* block) {
  if (block == nullptr) return;
  live_heap_bytes.fetch_sub(
      static_cast<int64_t>(malloc_usable_size(block) + sizeof(size_t)),
      std::memory_order_relaxed);
  std::free(block);
}
}  // namespace

void* operator new(size_t size) { return CountedNew(size); }
void* operator new[](size_t size) { return CountedNew(size); }
void operator delete(void* block) noexcept { CountedDelete(block); }
void operator delete[](void* block) noexcept { CountedDelete(block); }
void operator delete(void* block, size_t) noexcept { CountedDelete(block); }
void operator delete[](void* block, size_t) noexcept { CountedDelete(block); }

namespace snapferry {
namespace {

constexpr int kPerMonth = 1000;
const char kPhone[] = "phone";
const wchar_t kPhoneId[] = L"phone";

// A current iPhone's roll of `months` * 1,000 files: one read-only "DCF"
// storage and month folders right below it, newest first, named as the
// phone names them (202610_a), holding HEIC photos with their Live Photo
// motion, JPG and PNG, and edits' sidecars, with the phone's properties.
wpd_sim::Fixture PhoneRoll(int months, bool usb2, bool bulk = false) {
  wpd_sim::Fixture fixture;
  wpd_sim::DeviceSpec& phone = fixture.AddDevice(kPhoneId).Bulk(bulk);
  if (usb2) phone.Link(wpd_sim::LinkSpec::Usb2());
  phone.AddPhoneStorage(L"s", L"Internal Storage");
  struct Kind {
    const wchar_t* extension;
    wpd_sim::ContentType type;
    uint64_t size;
  };
  static const Kind kKinds[] = {
      {L".HEIC", wpd_sim::ContentType::kImage, 2400000},
      {L".MOV", wpd_sim::ContentType::kUnspecified, 3100000},
      {L".JPG", wpd_sim::ContentType::kImage, 1900000},
      {L".PNG", wpd_sim::ContentType::kImage, 700000},
      {L".AAE", wpd_sim::ContentType::kUnspecified, 1400},
  };
  for (int m = 0; m < months; ++m) {
    int year = 2026 - m / 12;
    int month = 10 - m % 12;
    if (month <= 0) {
      month += 12;
      --year;
    }
    wchar_t name[16];
    std::swprintf(name, 16, L"%04d%02d_a", year, month);
    std::wstring folder = L"m" + std::to_wstring(m);
    phone.AddPhoneFolder(folder, L"s", name);
    for (int i = 0; i < kPerMonth; ++i) {
      int n = m * kPerMonth + i;
      const Kind& kind = kKinds[i % 5];
      std::wstring number = std::to_wstring(10000 + n);
      phone.AddPhoneFile(L"o" + number, folder,
                         L"IMG_" + number + kind.extension, kind.type,
                         kind.size + i,
                         wpd_sim::DateProperty::At(year, month, 1 + i % 28,
                                                   i % 24, i % 60, 3));
    }
  }
  return fixture;
}

void ReadValues(IPortableDeviceValues* values) {
  GUID type;
  values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &type);
  LPWSTR name = nullptr;
  values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name);
  CoTaskMemFree(name);
  ULONGLONG size;
  values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size);
  PROPVARIANT date;
  PropVariantInit(&date);
  values->GetValue(WPD_OBJECT_DATE_CREATED, &date);
  PropVariantClear(&date);
  LPWSTR persistent_id = nullptr;
  values->GetStringValue(WPD_OBJECT_PERSISTENT_UNIQUE_ID, &persistent_id);
  CoTaskMemFree(persistent_id);
}

// Lists every container and fetches each object's properties with the
// given keys, reading nothing from them. Containers are known by their ids
// here ("s" and "m..."), so the walk makes no other call.
// With `read_values`, each file's values are also read as the enumeration
// reads them (content type, name, size, date, persistent id), so that what
// the simulated value objects cost is on the walk's side too.
uint64_t BareWalk(const std::vector<PROPERTYKEY>& key_list,
                  bool read_values = false) {
  ComApartmentGuard apartment;
  ComPtr<IPortableDevice> device;
  if (FAILED(OpenDevice(kPhone, GENERIC_READ, device))) return 0;
  uint64_t objects = 0;
  {
    ContentAccess access;
    if (FAILED(access.Prepare(device.get()))) return 0;
    for (const PROPERTYKEY& key : key_list) access.keys->Add(key);
    std::vector<std::wstring> stack{WPD_DEVICE_OBJECT_ID};
    while (!stack.empty()) {
      std::wstring parent = std::move(stack.back());
      stack.pop_back();
      ComPtr<IEnumPortableDeviceObjectIDs> enumerator;
      if (FAILED(access.content->EnumObjects(0, parent.c_str(), nullptr,
                                             enumerator.Put()))) {
        continue;
      }
      ObjectIdBatch batch(enumerator.get());
      for (size_t n; (n = batch.Fetch()) > 0;) {
        for (size_t i = 0; i < n; ++i) {
          ComPtr<IPortableDeviceValues> values;
          access.properties->GetValues(batch.at(i), access.keys.get(),
                                       values.Put());
          wchar_t first = batch.at(i)[0];
          if (first == L's' || first == L'm') stack.push_back(batch.at(i));
          if (read_values && first == L'o' && values) ReadValues(values.get());
          ++objects;
          batch.Free(i);
        }
      }
    }
  }
  device->Close();
  return objects;
}

const std::vector<PROPERTYKEY>& ScanKeys() {
  static const std::vector<PROPERTYKEY> keys = {
      WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE,
      WPD_OBJECT_SIZE};
  return keys;
}

const std::vector<PROPERTYKEY>& EnumerationKeys() {
  static const std::vector<PROPERTYKEY> keys = {
      WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE,
      WPD_OBJECT_SIZE, WPD_OBJECT_DATE_CREATED,       WPD_OBJECT_DATE_MODIFIED,
      WPD_OBJECT_PERSISTENT_UNIQUE_ID};
  return keys;
}

uint64_t TotalObjects(int months) {
  return static_cast<uint64_t>(months) * kPerMonth + months + 1;
}

// The simulator for one tree size without a link, kept while benchmarks of
// that size run; ReleaseSimulator makes room for another.
std::unique_ptr<wpd_sim::Simulator> shared_sim;
int shared_months = -1;

wpd_sim::Simulator& SimulatorFor(int months) {
  if (shared_months != months) {
    shared_sim.reset();
    shared_sim = std::make_unique<wpd_sim::Simulator>(PhoneRoll(months, false));
    shared_months = months;
    if (!shared_sim->ok()) {
      std::fprintf(stderr, "%s\n", shared_sim->error().c_str());
    }
  }
  return *shared_sim;
}

void ReleaseSimulator() {
  shared_sim.reset();
  shared_months = -1;
}

void BM_Scan(benchmark::State& state) {
  int months = static_cast<int>(state.range(0));
  SimulatorFor(months);
  for (auto _ : state) {
    ScanResult result = ScanMedia(kPhone);
    if (result.counts.photos == 0) state.SkipWithError("nothing counted");
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * TotalObjects(months));
}

void BM_Enumerate(benchmark::State& state) {
  int months = static_cast<int>(state.range(0));
  SimulatorFor(months);
  for (auto _ : state) {
    EnumerationResult result = EnumerateMedia(kPhone);
    if (result.entries.empty()) state.SkipWithError("nothing listed");
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * TotalObjects(months));
}

void BM_BareWalkScanKeys(benchmark::State& state) {
  int months = static_cast<int>(state.range(0));
  SimulatorFor(months);
  for (auto _ : state) benchmark::DoNotOptimize(BareWalk(ScanKeys()));
  state.SetItemsProcessed(state.iterations() * TotalObjects(months));
}

void BM_BareWalkEnumerationKeys(benchmark::State& state) {
  int months = static_cast<int>(state.range(0));
  SimulatorFor(months);
  for (auto _ : state) benchmark::DoNotOptimize(BareWalk(EnumerationKeys()));
  state.SetItemsProcessed(state.iterations() * TotalObjects(months));
}

// 10,000 and 100,000 files; each size's benchmarks run together.
BENCHMARK(BM_BareWalkScanKeys)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareWalkEnumerationKeys)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Enumerate)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareWalkScanKeys)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareWalkEnumerationKeys)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Enumerate)->Arg(100)->Unit(benchmark::kMillisecond);

// --- summary ---------------------------------------------------------------

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle]
                                : (values[middle - 1] + values[middle]) / 2;
}

// Medians of a number of rounds, in CPU seconds of this thread, which runs
// the whole operation: the machine is shared, so wall-clock time says less.
// Each round runs every operation once, so that a stretch of load on the
// machine weighs on all of them alike rather than on the one that ran then.
// A round at 10,000 objects is short, so it gets more of them.
constexpr int kSmallRounds = 31;
constexpr int kLargeRounds = 11;

struct SizeFigures {
  uint64_t objects;
  double scan, bare_scan, enumerate, bare_enumerate;  // seconds
  double bare_enumerate_reads;  // the bare walk reading the values too
};

SizeFigures Measure(int months, int rounds) {
  SimulatorFor(months);
  std::vector<double> scan, bare_scan, enumerate, bare_enumerate,
      bare_enumerate_reads;
  auto time = [](std::vector<double>& into, auto body) {
    const double start = ThreadCpuSeconds();
    body();
    into.push_back(ThreadCpuSeconds() - start);
  };
  for (int round = 0; round < rounds; ++round) {
    time(bare_scan, [] { BareWalk(ScanKeys()); });
    time(scan, [] { ScanMedia(kPhone); });
    time(bare_enumerate, [] { BareWalk(EnumerationKeys()); });
    time(enumerate, [] { EnumerateMedia(kPhone); });
    time(bare_enumerate_reads, [] { BareWalk(EnumerationKeys(), true); });
  }
  return {TotalObjects(months),   Median(scan),
          Median(bare_scan),      Median(enumerate),
          Median(bare_enumerate), Median(bare_enumerate_reads)};
}

void PrintSummary() {
  std::printf(
      "\n=== summary (medians of %d interleaved rounds at 10k, %d at 100k; "
      "thread CPU time)\n",
      kSmallRounds, kLargeRounds);
  SizeFigures small = Measure(10, kSmallRounds);
  SizeFigures large = Measure(100, kLargeRounds);
  for (const SizeFigures* f : {&small, &large}) {
    std::printf(
        "%7llu objects: scan %.0f obj/s (%.2fx bare walk), "
        "enumerate %.0f obj/s (%.2fx bare walk, %.2fx one that reads the "
        "values too)\n",
        static_cast<unsigned long long>(f->objects), f->objects / f->scan,
        f->scan / f->bare_scan, f->objects / f->enumerate,
        f->enumerate / f->bare_enumerate,
        f->enumerate / f->bare_enumerate_reads);
  }
  auto growth = [&](double small_seconds, double large_seconds) {
    return (large_seconds / large.objects) / (small_seconds / small.objects);
  };
  std::printf(
      "per-object cost at 100k / at 10k: scan %.2f, enumerate %.2f, "
      "bare walk %.2f (1.00 is linear)\n",
      growth(small.scan, large.scan), growth(small.enumerate, large.enumerate),
      growth(small.bare_enumerate, large.bare_enumerate));
  // What the device layer adds on top of the simulated device's own cost.
  std::printf(
      "own share (operation minus bare walk) per object at 100k / at 10k: "
      "scan %.2f, enumerate %.2f\n",
      growth(small.scan - small.bare_scan, large.scan - large.bare_scan),
      growth(small.enumerate - small.bare_enumerate,
             large.enumerate - large.bare_enumerate));
}

// Memory, measured first, on a fresh 100k tree: the process's peak after
// the model is built and walked bare, then after one scan and after one
// enumeration (whose entries are still held).
struct MemoryFigures {
  long model_kib, scan_kib, enumerate_kib;
  size_t entries;
  size_t entry_bytes;
  // What the handler keeps of the listing for deletes, as it keeps it.
  size_t listed_objects;
  int64_t listed_bytes;
};

MemoryFigures MeasureMemory() {
  SimulatorFor(100);
  BareWalk(EnumerationKeys());
  MemoryFigures figures{};
  long base = PeakRssKb();
  figures.model_kib = base;
  ScanMedia(kPhone);
  long after_scan = PeakRssKb();
  figures.scan_kib = after_scan - base;
  EnumerationResult listing = EnumerateMedia(kPhone);
  figures.enumerate_kib = PeakRssKb() - after_scan;
  figures.entries = listing.entries.size();
  figures.entry_bytes = listing.entries.capacity() * sizeof(MediaEntry);
  for (const MediaEntry& e : listing.entries) {
    // The date lives inside the entry; short texts inside the string
    // object itself.
    for (const std::string* text :
         {&e.objectId, &e.name, &e.parentPath, &e.persistentId}) {
      if (text->capacity() > 15) figures.entry_bytes += text->capacity() + 1;
    }
  }
  const int64_t before = live_heap_bytes.load();
  {
    std::map<std::string, ListedObjects> kept;
    kept[kPhone] = ListedObjects(listing.entries);
    figures.listed_objects = kept[kPhone].size();
    figures.listed_bytes = live_heap_bytes.load() - before;
  }
  return figures;
}

void PrintMemory(const MemoryFigures& m) {
  std::printf(
      "memory (100k tree): peak RSS %ld KiB with the model built; a scan "
      "raised the peak by %ld KiB, an enumeration by %ld KiB while holding "
      "%zu entries of about %zu KiB\n",
      m.model_kib, m.scan_kib, m.enumerate_kib, m.entries,
      m.entry_bytes / 1024);
  // At most 20 MB at 100,000 objects.
  std::printf(
      "listed objects kept for delete checks: %zu objects in %.2f MB of heap "
      "blocks (%.0f bytes each; at most 20 MB)\n",
      m.listed_objects, m.listed_bytes / 1e6,
      static_cast<double>(m.listed_bytes) /
          static_cast<double>(std::max<size_t>(m.listed_objects, 1)));
}

// --- on the usb2 link ----------------------------------------------------

double WallSeconds() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

wpd_sim::LinkCounts Minus(const wpd_sim::LinkCounts& after,
                          const wpd_sim::LinkCounts& before) {
  wpd_sim::LinkCounts d;
  d.opens = after.opens - before.opens;
  d.round_trips = after.round_trips - before.round_trips;
  d.reads = after.reads - before.reads;
  d.bytes_read = after.bytes_read - before.bytes_read;
  d.bulk_batches = after.bulk_batches - before.bulk_batches;
  d.bulk_bytes = after.bulk_bytes - before.bulk_bytes;
  d.modelled_ms = after.modelled_ms - before.modelled_ms;
  return d;
}

// Round trips, bulk batches among them: each batch of a bulk read is one.
uint64_t RoundTrips(const wpd_sim::LinkCounts& used) {
  return used.round_trips + used.bulk_batches;
}

void PrintLinkLine(const char* what, uint64_t objects, double seconds,
                   const wpd_sim::LinkCounts& used) {
  std::printf(
      "%7llu objects: %-14s %7.2f s wall, %llu round trips (%llu of them "
      "bulk batches) + %llu open (%.2f s modelled, %.3f round trips per "
      "object)\n",
      static_cast<unsigned long long>(objects), what, seconds,
      static_cast<unsigned long long>(RoundTrips(used)),
      static_cast<unsigned long long>(used.bulk_batches),
      static_cast<unsigned long long>(used.opens), used.modelled_ms / 1000,
      static_cast<double>(RoundTrips(used)) / static_cast<double>(objects));
}

struct LinkRun {
  double scan_seconds, enumerate_seconds;
  wpd_sim::LinkCounts scan, enumerate;
};

// One scan and one enumeration of a phone behind the "usb2" link, its
// properties read in bulk or one by one.
LinkRun RunOnLink(int months, bool bulk) {
  LinkRun run{};
  wpd_sim::Simulator sim(PhoneRoll(months, true, bulk));
  if (!sim.ok()) {
    std::fprintf(stderr, "%s\n", sim.error().c_str());
    return run;
  }
  const uint64_t objects = TotalObjects(months);
  const char* path = bulk ? "bulk" : "one by one";
  wpd_sim::LinkCounts before = sim.LinkUse(kPhoneId);
  double start = WallSeconds();
  ScanResult scan = ScanMedia(kPhone);
  run.scan_seconds = WallSeconds() - start;
  wpd_sim::LinkCounts after_scan = sim.LinkUse(kPhoneId);
  run.scan = Minus(after_scan, before);
  if (scan.counts.photos == 0) std::printf("scan counted nothing\n");
  PrintLinkLine((std::string("scan, ") + path).c_str(), objects,
                run.scan_seconds, run.scan);

  // The first entry the walk tells is when the channel sends the first
  // streamed batch (it goes at once); the reply waits for the whole walk.
  double first_entry = -1;
  start = WallSeconds();
  EnumerationResult listing = EnumerateMedia(kPhone, [&](const MediaEntry&) {
    if (first_entry < 0) first_entry = WallSeconds() - start;
  });
  run.enumerate_seconds = WallSeconds() - start;
  run.enumerate = Minus(sim.LinkUse(kPhoneId), after_scan);
  if (listing.entries.empty()) std::printf("enumeration listed nothing\n");
  PrintLinkLine((std::string("enumerate, ") + path).c_str(), objects,
                run.enumerate_seconds, run.enumerate);
  std::printf(
      "%7llu objects: first entry told after %.1f ms, the reply after "
      "%.2f s: %.3f %% of it\n",
      static_cast<unsigned long long>(objects), first_entry * 1000,
      run.enumerate_seconds, 100 * first_entry / run.enumerate_seconds);
  return run;
}

// Each size on a phone behind the "usb2" profile, unscaled (0.4 ms a round
// trip, 20 ms to open), its properties read one by one and in bulk.
void PrintLinkFigures() {
  std::printf(
      "\n=== on the \"usb2\" link, unscaled (one run each; %.1f ms a round "
      "trip, %.0f ms to open)\n",
      wpd_sim::LinkSpec::Usb2().round_trip_ms,
      wpd_sim::LinkSpec::Usb2().open_ms);
  ReleaseSimulator();
  for (int months : {10, 100}) {
    const LinkRun one_by_one = RunOnLink(months, false);
    const LinkRun bulk = RunOnLink(months, true);
    std::printf(
        "%7llu objects: bulk / one by one: enumeration time %.3f, round "
        "trips %.3f; scan time %.3f, round trips %.3f\n",
        static_cast<unsigned long long>(TotalObjects(months)),
        bulk.enumerate_seconds / one_by_one.enumerate_seconds,
        static_cast<double>(RoundTrips(bulk.enumerate)) /
            static_cast<double>(RoundTrips(one_by_one.enumerate)),
        bulk.scan_seconds / one_by_one.scan_seconds,
        static_cast<double>(RoundTrips(bulk.scan)) /
            static_cast<double>(RoundTrips(one_by_one.scan)));
  }
}

}  // namespace

// One operation `runs` times over a tree of `months` * 1,000 files, and
// nothing else, so that a profiler sees only it (and building the tree).
int RunOnly(const std::string& what, int months, int runs) {
  SimulatorFor(months);
  for (int i = 0; i < runs; ++i) {
    if (what == "scan") {
      ScanMedia(kPhone);
    } else if (what == "enumerate") {
      EnumerateMedia(kPhone);
    } else if (what == "bare-scan") {
      BareWalk(ScanKeys());
    } else if (what == "bare-enumerate") {
      BareWalk(EnumerationKeys());
    } else {
      std::fprintf(stderr, "unknown operation %s\n", what.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace snapferry

// Own flags: --no-link leaves out the runs on the link (a few minutes at
// 100,000 objects), --link-only runs only those.
int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--only") == 0) {
    return snapferry::RunOnly(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  }
  bool link = true;
  bool others = true;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-link") == 0) {
      link = false;
    } else if (std::strcmp(argv[i], "--link-only") == 0) {
      others = false;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  if (others) {
    snapferry::MemoryFigures memory = snapferry::MeasureMemory();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    snapferry::PrintSummary();
    snapferry::PrintMemory(memory);
  }
  if (link) snapferry::PrintLinkFigures();
  return 0;
}
