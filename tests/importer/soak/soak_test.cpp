// The soak: the whole import, round after round into one folder, over a
// phone whose device calls fail at random (about 1 %, seeded) and with a few
// imports stopped as Ctrl+C stops them. After every round: each call over
// the channels answered exactly once, no simulated COM object alive and no
// device left open, no staging file, and every file in the folder
// byte-identical to its object. Rounds without faults then finish the roll,
// and the process's resident memory and thread count after the last round
// stay within a small constant of the first.
//
// The same rounds run two ways (kWays): in this process (RunImport, as
// snapferry-import's main does), where memory and threads are measured and
// Ctrl+C is raised mid-roll; and as snapferry-import child processes run
// after run into one folder, read through their diagnostic line, with a
// real SIGINT mid-copy on POSIX.
//
// Short by default (CI). SNAPFERRY_SOAK_OBJECTS, SNAPFERRY_SOAK_ROUNDS and
// SNAPFERRY_SOAK_SEED make it long (tools/soak.sh).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "importer/import_session.h"
#include "importer/run_import.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/host/process_runner.h"
#include "tests/importer/run_importer.h"
#include "tests/importer/soak/process_stats.h"
#include "tests/importer/soak/roll.h"

namespace soak {
namespace {

namespace fs = std::filesystem;

constexpr double kFaultRate = 0.01;
// Rounds without faults that may be needed to finish the roll.
constexpr int kSettleRounds = 3;
// Growth allowed from the first round to the last: the allocator keeps
// what the largest round freed (the listing of the whole roll) for reuse.
int64_t ResidentSlack(int objects) {
  return (int64_t{8} << 20) + int64_t{2560} * objects;
}
constexpr int kThreadSlack = 1;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// AddressSanitizer holds freed memory back (its quarantine, 256 MB) and
// ThreadSanitizer keeps shadow memory for every address once used, so
// resident memory grows without a leak; the leak check covers leaks there.
constexpr bool kResidentMeaningful = false;
#else
constexpr bool kResidentMeaningful = true;
#endif

uint64_t Setting(const char* name, uint64_t fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10)
                                            : fallback;
}

struct Settings {
  int objects = static_cast<int>(Setting("SNAPFERRY_SOAK_OBJECTS", 400));
  int rounds = static_cast<int>(Setting("SNAPFERRY_SOAK_ROUNDS", 3));
  uint64_t seed = Setting("SNAPFERRY_SOAK_SEED", 20261207);
};

// What one round said, from its lines.
struct Said {
  int imported = 0;
  int failed = 0;
  int cancelled = 0;
  std::string last;
  std::string odd_failure;  // a failure no injected fault explains
  void Count(const std::string& line) {
    if (line.rfind("Imported:", 0) == 0) ++imported;
    if (line.rfind("Cancelled:", 0) == 0) ++cancelled;
    if (line.rfind("FAILED:", 0) == 0) {
      ++failed;
      if (line.find("(HRESULT 0x80004005)") == std::string::npos &&
          line.find("(HRESULT 0x80070005)") == std::string::npos &&
          line.find("(HRESULT 0x800700AA)") == std::string::npos) {
        odd_failure = line;
      }
    }
    last = line;
  }
};

// Whether the exit code fits what the round said and did.
std::string ExitProblem(int exit_code, const Said& said, bool interrupted,
                        bool faults) {
  switch (exit_code) {
    case importer::kExitImported:
      if (said.failed == 0) return "";
      break;
    case importer::kExitSomeFailed:
      if (said.failed > 0 && faults) return "";
      break;
    case importer::kExitNotStarted:
      if (faults) return "";  // a device listing or reading that failed
      break;
    case importer::kExitInterrupted:
      if (interrupted) return "";
      break;
  }
  return "exit code " + std::to_string(exit_code) + " after " +
         std::to_string(said.failed) + " failures" +
         (interrupted ? ", interrupted" : "") + "; last line: " + said.last;
}

std::string Megabytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f MB", bytes / 1048576.0);
  return text;
}

// Threads of finished requests end shortly after their answer: the count
// once it has stopped changing for 100 ms (at most 2 s).
ProcessStats SettledStats() {
  ProcessStats stats = CurrentProcessStats();
  for (int steady = 0, i = 0; steady < 10 && i < 200; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const ProcessStats now = CurrentProcessStats();
    steady = now.threads == stats.threads ? steady + 1 : 0;
    stats = now;
  }
  return stats;
}

// What one round did and left.
struct Round {
  int exit_code = -1;
  Said said;
  bool interrupted = false;  // Ctrl+C was raised
  importer::CallCounts counts;
  int64_t live = -1;  // simulated COM objects still alive
  int64_t open = -1;  // devices opened and not closed
  long long faults = -1;
  std::string trouble;  // why the round could not be read, if it could not
};

// Runs one import into `directory`/photos over the fixture's devices,
// raising Ctrl+C once `interrupt_after` files are imported (0: never).
using RunRound = Round (*)(const fs::path& directory,
                           const std::string& fixture, int interrupt_after);

Round RunInProcess(const fs::path& directory, const std::string& text,
                   int interrupt_after) {
  Round round;
  wpd_sim::Fixture fixture;
  if (!wpd_sim::ParseFixtureJson(text, &fixture, &round.trouble)) return round;
  wpd_sim::Simulator devices(std::move(fixture));
  if (!devices.ok()) {
    round.trouble = devices.error();
    return round;
  }
  importer::Options options;
  options.folder = (directory / "photos").u8string();
  options.wait_seconds = 60;
  options.poll_milliseconds = 10;
  importer::Output output;
  output.write_line = [&round, interrupt_after](const std::string& line) {
    round.said.Count(line);
    if (line.rfind("Imported:", 0) == 0 &&
        round.said.imported == interrupt_after) {
      round.interrupted = true;
      importer::InterruptRunningImport();
    }
  };
  round.exit_code = importer::RunImport(options, output, &round.counts);
  round.live = devices.LiveObjects();
  round.open = devices.OpenWithoutClose();
  round.faults = static_cast<long long>(devices.RandomFaultsInjected());
  return round;
}

// snapferry-import as a child process; SIGINT (POSIX only) comes with the
// first file imported.
Round RunChild(const fs::path& directory, const std::string& text,
               int interrupt_after) {
  Round round;
  host_test::ProcessOptions options;
  options.arguments = {"photos", "--wait", "60"};
  options.environment = {{"SNAPFERRY_POLL_MS", "10"},
                         {"SNAPFERRY_IMPORT_DIAGNOSTICS", "1"}};
  options.timeout = std::chrono::seconds(300);
  if (interrupt_after > 0) options.interrupt_after_output = "Imported:";
  const host_test::ProcessResult result =
      importer::import_test::RunImporter(directory, &text, std::move(options));
  if (!result.started || result.timed_out) {
    round.trouble = result.started ? "timed out" : "did not start";
    round.trouble += "\n" + result.out + result.err;
    return round;
  }
  round.exit_code = result.exit_code;
  std::string line;
  for (char c : result.out) {
    if (c == '\n') {
      round.said.Count(line);
      line.clear();
    } else if (c != '\r') {
      line += c;
    }
  }
#ifndef _WIN32
  round.interrupted = interrupt_after > 0 && round.said.imported > 0;
#endif
  long long sent, answered, again, live, open, faults;
  const size_t at = result.err.find("Diagnostics: ");
  if (at == std::string::npos ||
      std::sscanf(result.err.c_str() + at,
                  "Diagnostics: calls %lld sent, %lld answered, %lld answered "
                  "again; simulated objects live %lld, opened without close "
                  "%lld, random faults %lld",
                  &sent, &answered, &again, &live, &open, &faults) != 6) {
    round.trouble = "no diagnostic line: " + result.err;
    return round;
  }
  round.counts.sent = sent;
  round.counts.answered = answered;
  round.counts.answered_again = again;
  round.live = live;
  round.open = open;
  round.faults = faults;
  return round;
}

const struct Way {
  const char* name;
  RunRound run;
  bool measured;  // memory and threads are this process's own
} kWays[] = {
    {"in process", RunInProcess, true},
    {"snapferry-import", RunChild, false},
};

class SoakTest : public ::testing::TestWithParam<Way> {
 protected:
  void SetUp() override {
    roll_ = MakeRoll(settings_.objects);
    std::printf("soak %s: %d objects, %d rounds, seed %llu\n", GetParam().name,
                settings_.objects, settings_.rounds,
                static_cast<unsigned long long>(settings_.seed));
  }
  // The round's Ctrl+C: after this many files imported (0: none). Every
  // other fault round is interrupted, at a point drawn from the seed early
  // enough that later rounds, with less left to import, still reach it.
  int InterruptAfter(int round) const {
    if (round % 2 == 0 || round >= settings_.rounds) return 0;
    const uint64_t span = settings_.objects / (4 * settings_.rounds) + 1;
    return 1 + static_cast<int>((settings_.seed * 31 + round) % span);
  }

  // Checks the folder after a round; true when the roll is complete.
  bool CheckFolderAfter(const std::string& what) {
    const FolderCheck check = CheckFolder(directory_ / "photos", roll_);
    EXPECT_TRUE(check.staging.empty())
        << what << ": staging file left: " << check.staging.front();
    EXPECT_TRUE(check.wrong.empty()) << what << ": " << check.wrong.front();
    std::printf("  %d of %zu files in the folder\n", check.imported,
                roll_.files.size());
    return check.missing == 0;
  }

  Settings settings_;
  Roll roll_;
  // A folder of its own, so that soaks of several builds can run at once.
  importer::import_test::TestFolder folder_{"snapferry_soak_"};
  fs::path directory_ = folder_.path();
};

// Rounds with faults, then rounds without until the roll is complete.
TEST_P(SoakTest, RoundsIntoOneFolderKeepEveryPhotoAndReturnToRest) {
  const Way& way = GetParam();
  ProcessStats first;
  ProcessStats last;
  bool complete = false;
  int stops = 0;
  const int total = settings_.rounds + kSettleRounds;
  for (int number = 1; number <= total && !complete; ++number) {
    const bool faults = number <= settings_.rounds;
    const std::string what = "round " + std::to_string(number);
    const auto started = std::chrono::steady_clock::now();
    const Round round = way.run(
        directory_,
        RollFixture(roll_, faults ? kFaultRate : 0, settings_.seed + number),
        InterruptAfter(number));
    const double seconds = std::chrono::duration<double>(
                               std::chrono::steady_clock::now() - started)
                               .count();
    ASSERT_EQ(round.trouble, "") << what;
    EXPECT_EQ(
        ExitProblem(round.exit_code, round.said, round.interrupted, faults), "")
        << what;
    EXPECT_EQ(round.said.odd_failure, "") << what;
    stops += round.exit_code == importer::kExitInterrupted;
    EXPECT_GE(round.counts.sent, 3) << what;
    EXPECT_EQ(round.counts.answered, round.counts.sent) << what;
    EXPECT_EQ(round.counts.answered_again, 0) << what;
    EXPECT_EQ(round.live, 0) << what;
    EXPECT_EQ(round.open, 0) << what;

    std::string stats;
    if (way.measured) {
      last = SettledStats();
      if (number == 1) first = last;
      stats = ", resident " + Megabytes(last.resident_bytes) + ", threads " +
              std::to_string(last.threads);
    }
    std::printf(
        "%s%s: %.1f s, exit %d, imported %d, failed %d, cancelled %d%s, "
        "random faults %lld, calls %lld%s%s\n",
        what.c_str(), faults ? "" : " (no faults)", seconds, round.exit_code,
        round.said.imported, round.said.failed, round.said.cancelled,
        round.interrupted ? ", Ctrl+C" : "", round.faults,
        static_cast<long long>(round.counts.sent), stats.c_str(),
        round.exit_code == importer::kExitNotStarted
            ? ("; " + round.said.last).c_str()
            : "");
    std::fflush(stdout);
    const bool whole = CheckFolderAfter(what);
    // A person clears the phone on exit 0: the folder must then hold every
    // file of the roll, byte for byte.
    if (round.exit_code == importer::kExitImported) {
      EXPECT_TRUE(whole) << what << ": exit 0 with files missing";
    }
    complete = whole && !faults;
  }
  EXPECT_TRUE(complete) << "rounds without faults did not finish the roll";
#ifndef _WIN32
  // A SIGINT needs POSIX; Ctrl+C in process is raised everywhere.
  const bool stoppable = true;
#else
  const bool stoppable = way.measured;
#endif
  if (stoppable && InterruptAfter(1) > 0) {
    EXPECT_GT(stops, 0) << "no round was stopped by Ctrl+C";
  }
  if (!way.measured) return;
  EXPECT_LE(last.threads, first.threads + kThreadSlack);
  if (!kResidentMeaningful) return;
  EXPECT_LE(last.resident_bytes,
            first.resident_bytes + ResidentSlack(settings_.objects))
      << "first " << Megabytes(first.resident_bytes) << ", last "
      << Megabytes(last.resident_bytes);
}

INSTANTIATE_TEST_SUITE_P(Ways, SoakTest, ::testing::ValuesIn(kWays),
                         [](const ::testing::TestParamInfo<Way>& info) {
                           return std::string(info.param.measured
                                                  ? "InProcess"
                                                  : "SnapferryImport");
                         });

}  // namespace
}  // namespace soak
