// Reset of the control surface between tests.
#include "win32_standin/control.h"

namespace win32_standin {
namespace internal {
void ResetApartmentFailures();
void ResetCreateFailures();
void ResetFileFailures();
void ResetFileHolds();
void ResetTickCount();
void ResetEnvironment();
void ResetWindowFailures();
void ResetWindowObservations();
}  // namespace internal

void Reset() {
  internal::ResetApartmentFailures();
  internal::ResetCreateFailures();
  internal::ResetFileFailures();
  internal::ResetFileHolds();
  internal::ResetTickCount();
  internal::ResetEnvironment();
  internal::ResetWindowFailures();
  internal::ResetWindowObservations();
}

}  // namespace win32_standin
