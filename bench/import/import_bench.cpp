// A whole import as a person runs it: the importer's own path (method calls
// through the handler, its workers and the reply queue, each file through a
// staging file moved into place) from a simulated phone into a fresh folder
// on the local disk.
//
// The roll is fixed and generated as it is read, never stored: 300 files in
// three month folders, 270 photos of 3 MB, 15 screenshots of 300 KB and 15
// videos of 60 MB (1.7 GB), the phone's optimal transfer size 256 KiB. Each
// configuration (link profile, session open time, copies in flight) imports
// it once and prints files per second, MB/s and the ratio of the
// link-limited time (the bytes at the link's bandwidth) to the time taken,
// with the time the link was busy (bandwidth plus every call's own cost:
// the best any import could do) and the sessions opened.
//
// The folder is made under $SNAPFERRY_BENCH_DIR (default /tmp) and removed
// after each configuration.
//
//   import_bench                   every configuration
//   import_bench usbc              those whose name contains "usbc"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "importer/import_session.h"
#include "importer/options.h"
#include "importer/run_import.h"
#include "platform/wpd/simulator/simulator.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr wchar_t kPhoneId[] =
    L"\\\\?\\usb#vid_05ac&pid_12a8&mi_00#bench#"
    L"{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
constexpr int kFiles = 300;
constexpr uint64_t kPhotoSize = 3000000;
constexpr uint64_t kScreenshotSize = 300000;
constexpr uint64_t kVideoSize = 60000000;

struct Roll {
  wpd_sim::Fixture fixture;
  uint64_t bytes = 0;
};

// One video and one screenshot in every twenty files, photos between them,
// a hundred files to a month folder, as a current iPhone lists its roll.
Roll MakeRoll(const std::optional<wpd_sim::LinkSpec>& link) {
  Roll roll;
  wpd_sim::DeviceSpec& phone = roll.fixture.AddDevice(kPhoneId)
                                   .FriendlyName(L"Bench iPhone")
                                   .Manufacturer(L"Apple Inc.")
                                   .Description(L"Apple iPhone")
                                   .OptimalTransferSize(262144);
  if (link) phone.Link(*link);
  phone.AddPhoneStorage(L"s1", L"Internal Storage");
  const wchar_t* months[] = {L"202609_a", L"202610_a", L"202611_a"};
  for (int month = 0; month < 3; ++month) {
    phone.AddPhoneFolder(L"m" + std::to_wstring(month), L"s1", months[month]);
  }
  for (int i = 0; i < kFiles; ++i) {
    const std::wstring number = std::to_wstring(1000 + i);
    std::wstring name = L"IMG_" + number + L".HEIC";
    wpd_sim::ContentType type = wpd_sim::ContentType::kImage;
    uint64_t size = kPhotoSize;
    if (i % 20 == 9) {
      name = L"IMG_" + number + L".MOV";
      type = wpd_sim::ContentType::kVideo;
      size = kVideoSize;
    } else if (i % 20 == 19) {
      name = L"IMG_" + number + L".PNG";
      size = kScreenshotSize;
    }
    phone.AddPhoneFile(L"o" + number, L"m" + std::to_wstring(i / 100), name,
                       type, size,
                       wpd_sim::DateProperty::At(2026, 9 + i / 100, 1 + i % 28,
                                                 12, i % 60, 0));
    roll.bytes += size;
  }
  return roll;
}

struct Configuration {
  std::string name;
  std::optional<wpd_sim::LinkSpec> link;
  int copies_in_flight;
};

std::vector<Configuration> Configurations() {
  std::vector<Configuration> all;
  for (int copies : {1, 2}) {
    for (const char* profile : {"usb2", "usbc"}) {
      for (double open_ms : {20.0, 0.0}) {
        wpd_sim::LinkSpec link = *wpd_sim::LinkSpec::Profile(profile);
        link.open_ms = open_ms;
        char name[64];
        std::snprintf(name, sizeof(name), "%s open %2.0f ms, %d in flight",
                      profile, open_ms, copies);
        all.push_back({name, link, copies});
      }
    }
    all.push_back({"no link, " + std::to_string(copies) + " in flight",
                   std::nullopt, copies});
  }
  return all;
}

// The import's lines, checked for what a whole import says.
struct Lines {
  int imported = 0;
  Clock::time_point first_imported;
  // The check at the end lists the roll again once the last file is in.
  Clock::time_point last_imported;
  Clock::time_point checked;
  std::vector<std::string> other;
};

bool Run(const Configuration& configuration, const fs::path& folder) {
  Roll roll = MakeRoll(configuration.link);
  wpd_sim::Simulator simulator(std::move(roll.fixture));
  if (!simulator.ok()) {
    std::fprintf(stderr, "simulator: %s\n", simulator.error().c_str());
    return false;
  }
  importer::Options options;
  options.folder = folder.u8string();
  options.wait_seconds = 5;
  options.copies_in_flight = configuration.copies_in_flight;
  Lines lines;
  importer::Output output;
  output.write_line = [&lines](const std::string& line) {
    if (line.rfind("Imported:", 0) == 0) {
      if (lines.imported++ == 0) lines.first_imported = Clock::now();
      lines.last_imported = Clock::now();
    } else {
      if (line.rfind("Checked: all", 0) == 0) lines.checked = Clock::now();
      lines.other.push_back(line);
    }
  };

  const Clock::time_point start = Clock::now();
  const int exit_code = importer::RunImport(options, output);
  const double seconds =
      std::chrono::duration<double>(Clock::now() - start).count();
  std::error_code ignored;
  fs::remove_all(folder, ignored);

  if (exit_code != importer::kExitImported || lines.imported != kFiles ||
      lines.checked == Clock::time_point()) {
    std::printf("%-28s  FAILED: exit code %d, %d files imported\n",
                configuration.name.c_str(), exit_code, lines.imported);
    for (const std::string& line : lines.other) {
      std::printf("    %s\n", line.c_str());
    }
    return false;
  }
  const double megabytes = static_cast<double>(roll.bytes) / 1e6;
  char ratio[32] = "-";
  if (configuration.link && configuration.link->megabytes_per_second > 0) {
    const double link_limited =
        megabytes / configuration.link->megabytes_per_second;
    std::snprintf(ratio, sizeof(ratio), "%.2f", link_limited / seconds);
  }
  const wpd_sim::LinkCounts use = simulator.LinkUse(kPhoneId);
  const double first =
      std::chrono::duration<double>(lines.first_imported - start).count();
  std::printf(
      "%-28s  %6.2f s  %7.1f files/s  %7.1f MB/s  %s of link-limited  "
      "(first file in %.2f s; link busy %.2f s, %llu opens, %llu round "
      "trips, %llu reads)\n",
      configuration.name.c_str(), seconds, kFiles / seconds,
      megabytes / seconds, ratio, first, use.modelled_ms / 1000,
      static_cast<unsigned long long>(use.opens),
      static_cast<unsigned long long>(use.round_trips),
      static_cast<unsigned long long>(use.reads));
  std::printf("%-28s  check at the end: %.3f s\n", "",
              std::chrono::duration<double>(lines.checked - lines.last_imported)
                  .count());
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string filter = argc > 1 ? argv[1] : "";
  const char* base = std::getenv("SNAPFERRY_BENCH_DIR");
  const fs::path root = fs::path(base != nullptr ? base : "/tmp");
  std::printf(
      "roll: %d files, %.1f MB; link-limited = bytes / bandwidth\n", kFiles,
      (270 * kPhotoSize + 15 * kScreenshotSize + 15 * kVideoSize) / 1e6);
  bool all_ok = true;
  int run = 0;
  for (const Configuration& configuration : Configurations()) {
    if (configuration.name.find(filter) == std::string::npos) continue;
    const fs::path folder =
        root / ("snapferry-import-bench-" + std::to_string(getpid()) + "-" +
                std::to_string(++run));
    all_ok = Run(configuration, folder) && all_ok;
  }
  return all_ok ? 0 : 1;
}
