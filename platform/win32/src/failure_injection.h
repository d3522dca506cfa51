// A failure a test arranged for one stand-in call: the HRESULT (or error code)
// to answer with, for the next N calls or for every call.
#ifndef SNAPFERRY_PLATFORM_WIN32_SRC_FAILURE_INJECTION_H_
#define SNAPFERRY_PLATFORM_WIN32_SRC_FAILURE_INJECTION_H_

#include <cstdint>
#include <mutex>

namespace win32_standin::internal {

class InjectedFailure {
 public:
  // times < 0: every call fails until Clear().
  void Arm(int32_t code, int times) {
    std::lock_guard<std::mutex> lock(mutex_);
    code_ = code;
    remaining_ = times;
  }
  void Clear() { Arm(0, 0); }
  // True, with the code, when this call is to fail; counts the call.
  bool Take(int32_t* code) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (remaining_ == 0) return false;
    if (remaining_ > 0) --remaining_;
    *code = code_;
    return true;
  }

 private:
  std::mutex mutex_;
  int32_t code_ = 0;
  int remaining_ = 0;
};

}  // namespace win32_standin::internal

#endif  // SNAPFERRY_PLATFORM_WIN32_SRC_FAILURE_INJECTION_H_
