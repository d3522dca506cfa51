#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/host/process_runner.h"

namespace host_test {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

ProcessResult RunProcess(const ProcessOptions& options) {
  ProcessResult result;
  char out_path[] = "/tmp/snapferry_process_out_XXXXXX";
  char err_path[] = "/tmp/snapferry_process_err_XXXXXX";
  const int out_fd = mkstemp(out_path);
  const int err_fd = mkstemp(err_path);
  if (out_fd < 0 || err_fd < 0) return result;

  std::vector<std::string> argv_text = {options.program};
  argv_text.insert(argv_text.end(), options.arguments.begin(),
                   options.arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argv_text) argv.push_back(&text[0]);
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe work in the child until exec (the parent may
    // have threads); setenv is fine in practice for a test child.
    if (!options.working_directory.empty() &&
        chdir(options.working_directory.c_str()) != 0) {
      _exit(126);
    }
    for (const auto& [name, value] : options.environment) {
      if (value.empty()) {
        unsetenv(name.c_str());
      } else {
        setenv(name.c_str(), value.c_str(), 1);
      }
    }
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_fd);
  close(err_fd);
  if (pid < 0) return result;
  result.started = true;

  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  int status = 0;
  size_t interrupts = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    const std::string* after[] = {&options.interrupt_after_output,
                                  &options.interrupt_again_after_output};
    if (interrupts < 2 && !after[interrupts]->empty() &&
        ReadAll(out_path).find(*after[interrupts]) != std::string::npos) {
      kill(pid, SIGINT);
      ++interrupts;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.exit_code = 128 + WTERMSIG(status);
  result.out = ReadAll(out_path);
  result.err = ReadAll(err_path);
  unlink(out_path);
  unlink(err_path);
  return result;
}

}  // namespace host_test
