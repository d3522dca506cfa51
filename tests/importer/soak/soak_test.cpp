// The soak: the whole import, round after round into one folder, over a
// phone whose device calls fail at random (about 1 %, seeded) and with a few
// imports stopped as Ctrl+C stops them. After every round: each call over
// the channels answered exactly once, no simulated COM object alive and no
// device left open, no staging file, and every file in the folder
// byte-identical to its object. Rounds without faults then finish the roll,
// and the process's resident memory and thread count after the last round
// stay within a small constant of the first.
//
// The rounds run in this process (RunImport, as snapferry-import's main
// does), so that memory and threads are measured where the import ran; a
// second test runs snapferry-import as a child process for exit codes, the
// diagnostic line and, on POSIX, a real SIGINT mid-copy.
//
// Short by default (CI). SNAPFERRY_SOAK_OBJECTS, SNAPFERRY_SOAK_ROUNDS and
// SNAPFERRY_SOAK_SEED make it long (tools/soak.sh).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "importer/import_session.h"
#include "importer/run_import.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/host/process_runner.h"
#include "tests/importer/soak/process_stats.h"
#include "tests/importer/soak/roll.h"

namespace soak {
namespace {

namespace fs = std::filesystem;

constexpr double kFaultRate = 0.01;
// Rounds without faults that may be needed to finish the roll.
constexpr int kSettleRounds = 3;
// Growth allowed from the first round to the last.
constexpr int64_t kResidentSlack = 16 << 20;
constexpr int kThreadSlack = 1;
#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer holds freed memory back (its quarantine, 256 MB), so
// resident memory grows without a leak; its leak check covers leaks there.
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
  void Count(const std::string& line) {
    if (line.rfind("Imported:", 0) == 0) ++imported;
    if (line.rfind("FAILED:", 0) == 0) ++failed;
    if (line.rfind("Cancelled:", 0) == 0) ++cancelled;
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

class SoakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    directory_ = fs::temp_directory_path() /
                 (std::string("snapferry_soak_") + info->name());
    fs::remove_all(directory_);
    fs::create_directories(directory_);
    roll_ = MakeRoll(settings_.objects);
    std::printf("soak: %d objects, %d rounds, seed %llu\n", settings_.objects,
                settings_.rounds,
                static_cast<unsigned long long>(settings_.seed));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  // The round's interrupt: after this many files imported (0: none). Every
  // other fault round is interrupted, at a point drawn from the seed.
  int InterruptAfter(int round) const {
    if (round % 2 == 0 || round >= settings_.rounds) return 0;
    const uint64_t span = settings_.objects / (settings_.rounds + 1) + 1;
    return 1 + static_cast<int>((settings_.seed * 31 + round) % span);
  }

  // Checks the folder after a round; true when the roll is complete.
  bool CheckAfterRound(int round, const std::string& what) {
    const FolderCheck check = CheckFolder(directory_ / "photos", roll_);
    EXPECT_TRUE(check.staging.empty())
        << what << ": staging file left: " << check.staging.front();
    EXPECT_TRUE(check.wrong.empty()) << what << ": " << check.wrong.front();
    std::printf("  round %d: %d of %zu files in the folder\n", round,
                check.imported, roll_.files.size());
    return check.missing == 0;
  }

  Settings settings_;
  Roll roll_;
  fs::path directory_;
};

TEST_F(SoakTest, RoundsInOneProcessKeepEveryPhotoAndReturnToRest) {
  const fs::path photos = directory_ / "photos";
  ProcessStats first;
  ProcessStats last;
  bool complete = false;
  const int total = settings_.rounds + kSettleRounds;
  for (int round = 1; round <= total && !complete; ++round) {
    const bool faults = round <= settings_.rounds;
    const int interrupt_after = InterruptAfter(round);
    wpd_sim::Fixture fixture;
    std::string error;
    ASSERT_TRUE(wpd_sim::ParseFixtureJson(
        RollFixture(roll_, faults ? kFaultRate : 0, settings_.seed + round),
        &fixture, &error))
        << error;
    auto devices = std::make_unique<wpd_sim::Simulator>(std::move(fixture));
    ASSERT_TRUE(devices->ok()) << devices->error();

    importer::Options options;
    options.folder = photos.u8string();
    options.wait_seconds = 60;
    options.poll_milliseconds = 10;
    Said said;
    importer::Output output;
    output.write_line = [&said, interrupt_after](const std::string& line) {
      said.Count(line);
      if (line.rfind("Imported:", 0) == 0 && said.imported == interrupt_after) {
        importer::InterruptRunningImport();
      }
    };
    importer::CallCounts counts;
    const auto started = std::chrono::steady_clock::now();
    const int exit_code = importer::RunImport(options, output, &counts);
    const double seconds = std::chrono::duration<double>(
                               std::chrono::steady_clock::now() - started)
                               .count();
    const std::string what = "round " + std::to_string(round);
    const bool interrupted =
        interrupt_after > 0 && said.imported >= interrupt_after;
    EXPECT_EQ(ExitProblem(exit_code, said, interrupted, faults), "") << what;
    EXPECT_EQ(counts.answered, counts.sent) << what;
    EXPECT_EQ(counts.answered_again, 0) << what;
    EXPECT_EQ(devices->LiveObjects(), 0)
        << what << ": " << devices->LiveObjectsText();
    EXPECT_EQ(devices->OpenWithoutClose(), 0) << what;
    const uint64_t injected = devices->RandomFaultsInjected();
    devices.reset();

    last = SettledStats();
    if (round == 1) first = last;
    std::printf(
        "round %d%s: %.1f s, exit %d, imported %d, failed %d, cancelled %d, "
        "random faults %llu, calls %lld, resident %s, threads %d%s\n",
        round, faults ? "" : " (no faults)", seconds, exit_code, said.imported,
        said.failed, said.cancelled, static_cast<unsigned long long>(injected),
        static_cast<long long>(counts.sent),
        Megabytes(last.resident_bytes).c_str(), last.threads,
        exit_code == importer::kExitNotStarted ? ("; " + said.last).c_str()
                                               : "");
    std::fflush(stdout);
    complete = CheckAfterRound(round, what) && !faults;
  }
  EXPECT_TRUE(complete) << "rounds without faults did not finish the roll";
  EXPECT_LE(last.threads, first.threads + kThreadSlack);
  if (!kResidentMeaningful) return;
  EXPECT_LE(last.resident_bytes, first.resident_bytes + kResidentSlack)
      << "first " << Megabytes(first.resident_bytes) << ", last "
      << Megabytes(last.resident_bytes);
}

// What the importer's diagnostic line says.
struct Diagnostics {
  long long sent = -1, answered = -1, again = -1;
  long long live = -1, open = -1, faults = -1;
};

Diagnostics ReadDiagnostics(const std::string& err) {
  Diagnostics d;
  const size_t at = err.find("Diagnostics: ");
  if (at != std::string::npos) {
    std::sscanf(err.c_str() + at,
                "Diagnostics: calls %lld sent, %lld answered, %lld answered "
                "again; simulated objects live %lld, opened without close "
                "%lld, random faults %lld",
                &d.sent, &d.answered, &d.again, &d.live, &d.open, &d.faults);
  }
  return d;
}

// snapferry-import itself, run after run into one folder: what it answers
// and leaves, and on POSIX a SIGINT mid-copy in the first run.
TEST_F(SoakTest, RunsOfTheImporterFinishTheRollAndLeaveNothingBehind) {
  const int total = settings_.rounds + kSettleRounds;
  bool complete = false;
  int sigints = 0;
  for (int round = 1; round <= total && !complete; ++round) {
    const bool faults = round <= settings_.rounds;
    const fs::path fixture = directory_ / "devices.json";
    std::ofstream(fixture, std::ios::binary)
        << RollFixture(roll_, faults ? kFaultRate : 0, settings_.seed + round);
    host_test::ProcessOptions options;
    options.program = SNAPFERRY_IMPORTER;
    options.arguments = {"photos", "--wait", "60"};
    options.environment = {{"SNAPFERRY_DEVICES", fixture.u8string()},
                           {"SNAPFERRY_POLL_MS", "10"},
                           {"SNAPFERRY_IMPORT_DIAGNOSTICS", "1"}};
    options.working_directory = directory_.u8string();
    options.timeout = std::chrono::seconds(300);
    if (round == 1) options.interrupt_after_output = "Imported:";
    const host_test::ProcessResult result = host_test::RunProcess(options);
    const std::string what = "run " + std::to_string(round);
    ASSERT_TRUE(result.started) << what;
    ASSERT_FALSE(result.timed_out) << what << "\n" << result.out << result.err;

    Said said;
    std::string line;
    for (char c : result.out) {
      if (c == '\n') {
        said.Count(line);
        line.clear();
      } else if (c != '\r') {
        line += c;
      }
    }
    const bool interrupted = result.exit_code == importer::kExitInterrupted;
    sigints += interrupted;
    EXPECT_EQ(ExitProblem(result.exit_code, said, round == 1, faults), "")
        << what;
    const Diagnostics d = ReadDiagnostics(result.err);
    EXPECT_GE(d.sent, 3) << what << ": " << result.err;
    EXPECT_EQ(d.answered, d.sent) << what;
    EXPECT_EQ(d.again, 0) << what;
    EXPECT_EQ(d.live, 0) << what << ": " << result.err;
    EXPECT_EQ(d.open, 0) << what;
    std::printf(
        "run %d%s: exit %d, imported %d, failed %d, cancelled %d, random "
        "faults %lld, calls %lld\n",
        round, faults ? "" : " (no faults)", result.exit_code, said.imported,
        said.failed, said.cancelled, d.faults, d.sent);
    std::fflush(stdout);
    complete = CheckAfterRound(round, what) && !faults;
  }
  EXPECT_TRUE(complete) << "runs without faults did not finish the roll";
#ifndef _WIN32
  EXPECT_EQ(sigints, 1) << "the first run was not stopped by SIGINT";
#endif
}

}  // namespace
}  // namespace soak
