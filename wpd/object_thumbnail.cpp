#include "wpd/object_thumbnail.h"

#include <windows.h>
#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <algorithm>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/device_sessions.h"
#include "wpd/object_op_result.h"
#include "wpd/pending_copies.h"

namespace snapferry {
namespace {

// Reads of at least 64 KiB, so that a phone's thumbnail comes in one; the
// read never asks past the limit's first byte.
constexpr DWORD kMinBufferSize = 0x10000;
constexpr size_t kLimit = kMaxThumbnailBytes + 1;

// The answers by which a device says the object has no thumbnail.
bool MeansNoThumbnail(HRESULT hr) {
  return hr == HresultFromWin32(ERROR_NOT_FOUND) || hr == E_NOTIMPL ||
         hr == HresultFromWin32(ERROR_NOT_SUPPORTED) || hr == E_INVALIDARG;
}

void Fail(ThumbnailResult& result, const char* step, HRESULT hr) {
  result.present = false;
  result.bytes.clear();
  result.hresult = static_cast<int32_t>(hr);
  result.message = FormatHresultFailure(step, hr);
}

bool Requested(const ThumbnailCancel& cancel) {
  return cancel.requested && cancel.requested();
}

void Cancelled(ThumbnailResult& result) {
  result = ThumbnailResult();
  result.cancelled = true;
}

// Everything between opening and closing the device.
void ReadFromOpenDevice(IPortableDevice* device, const std::wstring& object,
                        const ThumbnailCancel& cancel,
                        ThumbnailResult& result) {
  ComPtr<IPortableDeviceContent> content;
  ComPtr<IPortableDeviceResources> resources;
  ComPtr<IStream> stream;
  // Out of the cancel's reach before the stream goes.
  struct Registration {
    PendingCopies* streams = nullptr;
    IStream* stream = nullptr;
    ~Registration() {
      if (streams != nullptr) streams->Remove(stream);
    }
  } registration;

  HRESULT hr = device->Content(content.Put());
  if (SUCCEEDED(hr) && !content) hr = E_POINTER;
  if (SUCCEEDED(hr)) hr = content->Transfer(resources.Put());
  if (SUCCEEDED(hr) && !resources) hr = E_POINTER;
  if (FAILED(hr)) return Fail(result, "Open transfer", hr);

  // An id with an embedded NUL would reach the device cut short, naming
  // another object: it names none, so it has no thumbnail.
  if (object.find(L'\0') != std::wstring::npos) return;
  if (Requested(cancel)) return Cancelled(result);
  DWORD optimal_size = 0;
  hr = resources->GetStream(object.c_str(), WPD_RESOURCE_THUMBNAIL, STGM_READ,
                            &optimal_size, stream.Put());
  if (SUCCEEDED(hr) && !stream) hr = E_POINTER;
  if (MeansNoThumbnail(hr)) return;
  if (FAILED(hr)) return Fail(result, "Open thumbnail stream", hr);
  if (cancel.streams != nullptr) {
    cancel.streams->Add(stream.get(), device);
    registration.streams = cancel.streams;
    registration.stream = stream.get();
  }

  const size_t buffer_size =
      std::clamp<size_t>(optimal_size, kMinBufferSize, kLimit);
  std::vector<uint8_t> buffer(buffer_size);
  std::vector<uint8_t>& bytes = result.bytes;
  for (;;) {
    // One byte past the limit tells an oversized resource; nothing more is
    // asked for.
    const ULONG wanted =
        static_cast<ULONG>(std::min(buffer_size, kLimit - bytes.size()));
    // Asked after the stream was added, so a cancel that came before the
    // set held it is seen here.
    if (Requested(cancel)) return Cancelled(result);
    ULONG read = 0;
    hr = stream->Read(buffer.data(), wanted, &read);
    if (FAILED(hr) && Requested(cancel)) return Cancelled(result);
    if (FAILED(hr)) return Fail(result, "Read from device", hr);
    // A stream that claims more than it was asked for is not believed.
    if (read > wanted) return Fail(result, "Read from device", E_UNEXPECTED);
    if (read == 0 && Requested(cancel)) return Cancelled(result);
    if (read == 0) break;  // the end; S_FALSE may come earlier
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + read);
    if (bytes.size() > kMaxThumbnailBytes) {
      bytes.clear();
      bytes.shrink_to_fit();
      return;
    }
  }
  // An empty resource is no picture.
  result.present = !bytes.empty();
}

}  // namespace

ThumbnailResult ReadThumbnail(const std::string& device_id,
                              const std::string& object_id,
                              DeviceSessions* sessions,
                              const ThumbnailCancel& cancel) {
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    ThumbnailResult result;
    result.message = kComInitialisationFailed;
    return result;
  }
  const std::wstring object = Utf8ToWide(object_id);
  for (int attempt = 0;; ++attempt) {
    ThumbnailResult result;
    SessionLease lease;
    const HRESULT hr =
        DeviceSessions::Open(sessions, {device_id, GENERIC_READ}, &lease);
    if (FAILED(hr)) {
      // A device object that did not open is released without Close.
      Fail(result, "Open device", hr);
      return result;
    }
    ReadFromOpenDevice(lease.device(), object, cancel, result);
    // Nothing is delivered before the read is over.
    if (lease.CheckStale(result.hresult) && attempt == 0 && !Requested(cancel))
      continue;
    return result;
  }
}

}  // namespace snapferry
