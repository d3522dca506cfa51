// A process killed in the middle of a copy leaves no staging file: the file
// is marked for deletion until it is complete, and the file system keeps
// that promise when the process is gone.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/host/process_runner.h"
#include "tests/wpd/object_copy_test_util.h"

namespace snapferry {
namespace {

TEST(ObjectCopyKill, ProcessKilledMidCopyLeavesNoStagingFile) {
  test::StagingFolder folder;
  host_test::ProcessOptions options;
  options.program = SNAPFERRY_COPY_KILL_CHILD;
  options.arguments = {folder.File("IMG_0001.MOV")};
  // The child never ends on its own: the runner kills it at the timeout
  // (SIGKILL, or TerminateProcess), long after its first chunk.
#ifdef _WIN32
  options.timeout = std::chrono::seconds(10);
#else
  options.timeout = std::chrono::seconds(3);
#endif
  host_test::ProcessResult result = host_test::RunProcess(options);
  ASSERT_TRUE(result.started);
  EXPECT_TRUE(result.timed_out);
  ASSERT_NE(result.out.find("copying 65536"), std::string::npos)
      << "out: " << result.out << "\nerr: " << result.err;
  EXPECT_EQ(folder.Entries(), 0u);
}

}  // namespace
}  // namespace snapferry
