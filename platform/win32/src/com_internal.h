// Shared between the COM runtime's source files; not part of the stand-in's
// interface.
#ifndef SNAPFERRY_PLATFORM_WIN32_SRC_COM_INTERNAL_H_
#define SNAPFERRY_PLATFORM_WIN32_SRC_COM_INTERNAL_H_

#include <cstdint>

namespace win32_standin::internal {

// The apartment the calling thread works in: its own, or the multithreaded
// apartment it joins implicitly while some other thread keeps that alive.
// 0 when there is none.
uint64_t CurrentApartmentId();

// What the COM call hook answers (S_OK when there is none); see
// SetComCallHook.
int32_t ComCallHook(const char* call, const void* clsid);

// Called when an apartment ends: its class registrations go with it.
void RevokeApartmentRegistrations(uint64_t apartment_id);

}  // namespace win32_standin::internal

#endif  // SNAPFERRY_PLATFORM_WIN32_SRC_COM_INTERNAL_H_
