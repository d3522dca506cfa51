// A program that starts a copy and stays inside it until it is killed, for
// the test that kills a process mid-copy. Prints "copying N" once the first
// N bytes are in the staging file.
//
//   copy_kill_child <staging path>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "platform/wpd/simulator/simulator.h"
#include "wpd/object_copy.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: copy_kill_child <staging path>\n");
    return 2;
  }
  wpd_sim::Fixture fixture;
  auto& phone = fixture.AddDevice(L"phone").OptimalTransferSize(65536);
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddPatternFile(L"video", L"s1", L"IMG_0001.MOV",
                       wpd_sim::ContentType::kVideo, 64 << 20);
  wpd_sim::Simulator sim(std::move(fixture));
  if (!sim.ok()) {
    std::fprintf(stderr, "simulator: %s\n", sim.error().c_str());
    return 1;
  }
  std::atomic<bool> cancel{false};
  std::thread worker([&] {
    snapferry::CopyObjectToFile(
        "phone", "video", argv[1],
        [](int64_t bytes, int64_t) {
          std::printf("copying %lld\n", static_cast<long long>(bytes));
          std::fflush(stdout);
          for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
        },
        cancel);
  });
  worker.join();
  return 3;
}
