// Runs a program as a child process with its standard output and error
// captured, for the tests that run the whole program.

#ifndef SNAPFERRY_TESTS_HOST_PROCESS_RUNNER_H_
#define SNAPFERRY_TESTS_HOST_PROCESS_RUNNER_H_

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace host_test {

struct ProcessResult {
  bool started = false;
  bool timed_out = false;  // then killed
  int exit_code = -1;
  std::string out;
  std::string err;
};

struct ProcessOptions {
  std::string program;  // path of the executable (UTF-8)
  std::vector<std::string> arguments;
  // Set for the child only; an empty value removes the variable.
  std::vector<std::pair<std::string, std::string>> environment;
  std::string working_directory;  // empty: this process's
  std::chrono::seconds timeout{60};
  // POSIX only: SIGINT is sent once standard output holds this text, and
  // once more after that when it holds the second text too.
  std::string interrupt_after_output;
  std::string interrupt_again_after_output;
};

ProcessResult RunProcess(const ProcessOptions& options);

}  // namespace host_test

#endif  // SNAPFERRY_TESTS_HOST_PROCESS_RUNNER_H_
