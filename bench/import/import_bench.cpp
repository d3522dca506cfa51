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
// The re-runs ("rerun 10k", "rerun 100k") time what a person's second
// import of the day costs: a roll of 10,000 or 100,000 small files (2 to
// 6 KB, 10,000 to a month folder) over the usb2 link, into a folder that
// already holds every file under the name and size an import places. Each
// runs three imports that find nothing new and prints the medians of their
// time, of the listing (up to the plan) and of the check of what is already
// in the folder (the plan); then three imports that find the roll's last
// ten files missing, for the check at the end (listing again, then the
// folder) after an import that copied files. The folder parts are also
// given in CPU time of the importer's thread, which a busy machine does not
// inflate. Each configuration runs with
// the phone's properties read in bulk and read one object at a time (the
// fixture's device field "bulk"); a simulator that does not know the field
// refuses it, and then both rows read one object at a time, as they say.
//
// The folder is made under $SNAPFERRY_BENCH_DIR (default /tmp) and removed
// after each configuration.
//
//   import_bench                   every configuration
//   import_bench usbc              those whose name contains "usbc"
//   import_bench "rerun 10k"       the re-runs of 10,000 files

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

constexpr int kRerunFilesPerFolder = 10000;
constexpr int kRerunMissing = 10;  // for the check at the end
constexpr int kRerunRuns = 3;

struct RerunConfiguration {
  std::string name;
  int files;
  bool bulk;  // the phone's properties read in bulk
};

std::vector<RerunConfiguration> RerunConfigurations() {
  std::vector<RerunConfiguration> all;
  for (int files : {10000, 100000}) {
    for (bool bulk : {true, false}) {
      all.push_back({"rerun " + std::to_string(files / 1000) + "k usb2 " +
                         (bulk ? "bulk" : "per-object"),
                     files, bulk});
    }
  }
  return all;
}

std::string RerunFolderName(int i) {
  char name[16];
  std::snprintf(name, sizeof(name), "2025%02d_a", 1 + i / kRerunFilesPerFolder);
  return name;
}
std::string RerunFileName(int i) {
  char name[32];
  std::snprintf(name, sizeof(name), "IMG_%06d.HEIC", i + 1);
  return name;
}
uint64_t RerunFileSize(int i) {
  return 2000 + static_cast<uint64_t>(i) * 7919 % 4000;
}

// The phone of a re-run. Its device is read from the fixture's JSON, which
// sets "bulk" as a fixture file would; the roll is added to it in code.
// `bulk_known` false: this simulator refused the field, and reads one
// object at a time.
bool RerunRoll(const RerunConfiguration& configuration,
               wpd_sim::Fixture* fixture, bool* bulk_known,
               std::string* error) {
  std::string id;
  for (const wchar_t* c = kPhoneId; *c != 0; ++c) {
    if (*c == L'\\') id += '\\';
    id += static_cast<char>(*c);
  }
  const std::string device =
      "{\"id\": \"" + id +
      "\", \"friendlyName\": \"Bench iPhone\", \"manufacturer\": \"Apple "
      "Inc.\", \"description\": \"Apple iPhone\"";
  const std::string bulk =
      std::string(", \"bulk\": ") + (configuration.bulk ? "true" : "false");
  *bulk_known = wpd_sim::ParseFixtureJson(
      "{\"devices\": [" + device + bulk + "}]}", fixture, error);
  if (!*bulk_known) {
    if (error->find("bulk: unknown key") == std::string::npos) return false;
    *fixture = wpd_sim::Fixture();
    if (!wpd_sim::ParseFixtureJson("{\"devices\": [" + device + "}]}",
                                   fixture, error)) {
      return false;
    }
  }
  wpd_sim::DeviceSpec& phone = fixture->devices.front();
  phone.OptimalTransferSize(262144).Link(*wpd_sim::LinkSpec::Profile("usb2"));
  phone.AddPhoneStorage(L"s1", L"Internal Storage");
  for (int i = 0; i < configuration.files; ++i) {
    const std::string folder = RerunFolderName(i);
    const std::wstring folder_id(folder.begin(), folder.end());
    if (i % kRerunFilesPerFolder == 0) {
      phone.AddPhoneFolder(folder_id, L"s1", folder_id);
    }
    const std::string name = RerunFileName(i);
    phone.AddPhoneFile(L"o" + std::to_wstring(i), folder_id,
                       std::wstring(name.begin(), name.end()),
                       wpd_sim::ContentType::kImage, RerunFileSize(i),
                       wpd_sim::DateProperty::At(2025, 1 + i % 12, 1 + i % 28,
                                                 12, i % 60, 0));
  }
  return true;
}

// Files `from` to `to` of the roll, as an import places them.
bool PlaceRerunFiles(const fs::path& folder, int from, int to) {
  for (int i = from; i < to; ++i) {
    const fs::path month = folder / RerunFolderName(i);
    if (i == from || i % kRerunFilesPerFolder == 0) {
      std::error_code ignored;
      fs::create_directories(month, ignored);
    }
    const fs::path path = month / RerunFileName(i);
    std::ofstream(path, std::ios::binary).flush();
    std::error_code error;
    fs::resize_file(path, RerunFileSize(i), error);
    if (error) {
      std::fprintf(stderr, "%s: %s\n", path.string().c_str(),
                   error.message().c_str());
      return false;
    }
  }
  return true;
}

// The calling thread's CPU time: the plan and the check run on it, so this
// holds when the machine is busy with other work.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// When a re-run said what, from its start.
struct Timeline {
  Clock::time_point start;
  Clock::time_point planning;   // "Checking what is already in ..."
  Clock::time_point planned;    // "On the device: ..."
  Clock::time_point last_imported;
  Clock::time_point checking;   // "Checking that every file ..."
  Clock::time_point checked;    // "Checked: all ..."
  double planning_cpu = 0;      // thread CPU seconds of the plan
  double checking_cpu = 0;      // ... and of the check's folder part
  int imported = 0;
  int exit_code = -1;
  std::vector<std::string> lines;

  double Seconds(Clock::time_point from, Clock::time_point to) const {
    return std::chrono::duration<double>(to - from).count();
  }
};

Timeline ImportInto(const fs::path& folder) {
  importer::Options options;
  options.folder = folder.u8string();
  options.wait_seconds = 30;
  Timeline timeline;
  importer::Output output;
  output.write_line = [&timeline](const std::string& line) {
    const Clock::time_point now = Clock::now();
    if (line.rfind("Imported:", 0) == 0) {
      ++timeline.imported;
      timeline.last_imported = now;
      return;
    }
    if (line.rfind("On the device:", 0) == 0) {
      timeline.planned = now;
      timeline.planning_cpu += ThreadCpuSeconds();
    }
    if (line.rfind("Checked: all", 0) == 0) {
      timeline.checked = now;
      timeline.checking_cpu += ThreadCpuSeconds();
    }
    timeline.lines.push_back(line);
  };
  output.show_status = [&timeline](const std::string& status) {
    if (status.rfind("Checking what is already", 0) == 0) {
      timeline.planning = Clock::now();
      timeline.planning_cpu = -ThreadCpuSeconds();
    } else if (status.rfind("Checking that every file", 0) == 0) {
      timeline.checking = Clock::now();
      timeline.checking_cpu = -ThreadCpuSeconds();
    }
  };
  timeline.start = Clock::now();
  timeline.exit_code = importer::RunImport(options, output);
  return timeline;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

bool Rerun(const RerunConfiguration& configuration, const fs::path& folder) {
  wpd_sim::Fixture fixture;
  bool bulk_known = false;
  std::string error;
  if (!RerunRoll(configuration, &fixture, &bulk_known, &error)) {
    std::fprintf(stderr, "fixture: %s\n", error.c_str());
    return false;
  }
  wpd_sim::Simulator simulator(std::move(fixture));
  if (!simulator.ok()) {
    std::fprintf(stderr, "simulator: %s\n", simulator.error().c_str());
    return false;
  }
  const int files = configuration.files;
  bool ok = PlaceRerunFiles(folder, 0, files);
  std::vector<double> total, listing, planning, planning_cpu;
  std::vector<double> check, check_folder, check_folder_cpu;
  auto failed = [&](const char* what, const Timeline& timeline) {
    std::printf("%-28s  FAILED (%s): exit code %d, %d files imported\n",
                configuration.name.c_str(), what, timeline.exit_code,
                timeline.imported);
    for (const std::string& line : timeline.lines) {
      std::printf("    %s\n", line.c_str());
    }
    return false;
  };
  for (int run = 0; ok && run < kRerunRuns; ++run) {
    const Timeline timeline = ImportInto(folder);
    if (timeline.exit_code != importer::kExitImported ||
        timeline.imported != 0 || timeline.planning == Clock::time_point() ||
        timeline.planned == Clock::time_point()) {
      ok = failed("nothing new", timeline);
      break;
    }
    total.push_back(timeline.Seconds(timeline.start, Clock::now()));
    listing.push_back(timeline.Seconds(timeline.start, timeline.planning));
    planning.push_back(timeline.Seconds(timeline.planning, timeline.planned));
    planning_cpu.push_back(timeline.planning_cpu);
  }
  for (int run = 0; ok && run < kRerunRuns; ++run) {
    std::error_code ignored;
    for (int i = files - kRerunMissing; i < files; ++i) {
      fs::remove(folder / RerunFolderName(i) / RerunFileName(i), ignored);
    }
    const Timeline timeline = ImportInto(folder);
    if (timeline.exit_code != importer::kExitImported ||
        timeline.imported != kRerunMissing ||
        timeline.checking == Clock::time_point() ||
        timeline.checked == Clock::time_point()) {
      ok = failed("ten new", timeline);
      break;
    }
    check.push_back(timeline.Seconds(timeline.last_imported, timeline.checked));
    check_folder.push_back(
        timeline.Seconds(timeline.checking, timeline.checked));
    check_folder_cpu.push_back(timeline.checking_cpu);
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  if (!ok) return false;
  std::printf(
      "%-28s  nothing new %6.2f s: listing %6.2f s, folder check %6.3f s "
      "(CPU %.3f s); %d new: check at the end %6.2f s (folder %6.3f s, CPU "
      "%.3f s)%s\n",
      configuration.name.c_str(), Median(total), Median(listing),
      Median(planning), Median(planning_cpu), kRerunMissing, Median(check),
      Median(check_folder), Median(check_folder_cpu),
      bulk_known ? "" : "  [\"bulk\" unknown here: per-object reads]");
  std::fflush(stdout);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string filter = argc > 1 ? argv[1] : "";
  const char* base = std::getenv("SNAPFERRY_BENCH_DIR");
  const fs::path root = fs::path(base != nullptr ? base : "/tmp");
  bool all_ok = true;
  int run = 0;
  auto next_folder = [&root, &run] {
    return root / ("snapferry-import-bench-" + std::to_string(getpid()) +
                   "-" + std::to_string(++run));
  };
  bool said = false;
  for (const Configuration& configuration : Configurations()) {
    if (configuration.name.find(filter) == std::string::npos) continue;
    if (!said) {
      said = true;
      std::printf(
          "roll: %d files, %.1f MB; link-limited = bytes / bandwidth\n",
          kFiles,
          (270 * kPhotoSize + 15 * kScreenshotSize + 15 * kVideoSize) / 1e6);
    }
    all_ok = Run(configuration, next_folder()) && all_ok;
  }
  said = false;
  for (const RerunConfiguration& configuration : RerunConfigurations()) {
    if (configuration.name.find(filter) == std::string::npos) continue;
    if (!said) {
      said = true;
      std::printf(
          "re-runs: small files, all already there; medians of %d runs\n",
          kRerunRuns);
    }
    all_ok = Rerun(configuration, next_folder()) && all_ok;
  }
  return all_ok ? 0 : 1;
}
