// Reset of the control surface between tests.
#include "win32_standin/control.h"

namespace win32_standin {
namespace internal {
void ResetApartmentFailures();
void ResetCreateFailures();
void ResetFileFailures();
void ResetTickCount();
}  // namespace internal

void Reset() {
  internal::ResetApartmentFailures();
  internal::ResetCreateFailures();
  internal::ResetFileFailures();
  internal::ResetTickCount();
}

}  // namespace win32_standin
