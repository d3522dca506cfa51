#include "wpd/object_copy.h"

#include <windows.h>
#include <objbase.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"

namespace snapferry {
namespace {

// One buffer per copy: the device's own optimal transfer size, kept within
// bounds that are neither wasteful per call nor a burden on memory.
constexpr DWORD kMinBufferSize = 0x10000;   // 64 KiB
constexpr DWORD kMaxBufferSize = 0x400000;  // 4 MiB

// At most about ten progress events a second reach the UI thread, however
// small the chunks are.
constexpr ULONGLONG kProgressInterval = 100;  // ms

void Fail(ObjectOpResult& result, const char* step, HRESULT hr) {
  result.status = ObjectOpStatus::kError;
  result.hresult = hr;
  result.error = FormatHresultFailure(step, hr);
}

// The failure code of the file call that just failed. A failure is never
// reported with a success code, even if the system left none behind.
HRESULT LastErrorHresult() {
  HRESULT hr = HresultFromWin32(GetLastError());
  return FAILED(hr) ? hr : E_FAIL;
}

// A name with an embedded NUL would reach the device or the file system cut
// short, naming something other than what the caller asked for.
bool HasEmbeddedNul(const std::wstring& text) {
  return text.find(L'\0') != std::wstring::npos;
}

}  // namespace

ObjectOpResult CopyObjectToFile(const std::string& device_id,
                                const std::string& object_id,
                                const std::string& staging_path,
                                const ProgressCallback& progress,
                                std::atomic<bool>& cancel) {
  ObjectOpResult result;
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    Fail(result, "COM initialisation", E_FAIL);
    return result;
  }

  // Declared in the reverse of their release order; all go before the guard.
  ComPtr<IPortableDevice> device;
  ComPtr<IPortableDeviceContent> content;
  ComPtr<IPortableDeviceProperties> properties;
  ComPtr<IPortableDeviceKeyCollection> keys;
  ComPtr<IPortableDeviceValues> values;
  ComPtr<IPortableDeviceResources> resources;
  ComPtr<IStream> stream;

  HRESULT hr = OpenDevice(device_id, GENERIC_READ, device);
  if (FAILED(hr)) {
    // A device object that did not open is released without Close.
    Fail(result, "Open device", hr);
    return result;
  }

  const std::wstring object = Utf8ToWide(object_id);

  // The total is only reported, so a size that cannot be read is 0.
  ULONGLONG total = 0;
  HRESULT content_hr = device->Content(content.Put());
  if (SUCCEEDED(content_hr) && !content) content_hr = E_POINTER;
  if (SUCCEEDED(content_hr) &&
      SUCCEEDED(content->Properties(properties.Put())) && properties &&
      SUCCEEDED(CoCreateInstance(
          CLSID_PortableDeviceKeyCollection, nullptr, CLSCTX_INPROC_SERVER,
          IID_IPortableDeviceKeyCollection, keys.PutVoid()))) {
    keys->Add(WPD_OBJECT_SIZE);
    ULONGLONG size = 0;
    if (SUCCEEDED(
            properties->GetValues(object.c_str(), keys.get(), values.Put())) &&
        values &&
        SUCCEEDED(
            values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size))) {
      total = size;
    }
  }

  hr = content ? content->Transfer(resources.Put()) : content_hr;
  if (SUCCEEDED(hr) && !resources) hr = E_POINTER;
  if (FAILED(hr)) {
    device->Close();
    Fail(result, "Open transfer", hr);
    return result;
  }

  DWORD optimal_size = 0;
  hr = HasEmbeddedNul(object)
           ? E_INVALIDARG
           : resources->GetStream(object.c_str(), WPD_RESOURCE_DEFAULT,
                                  STGM_READ, &optimal_size, stream.Put());
  if (SUCCEEDED(hr) && !stream) hr = E_POINTER;
  if (FAILED(hr)) {
    device->Close();
    Fail(result, "Open object stream", hr);
    return result;
  }

  const std::wstring path = Utf8ToWide(staging_path);
  HANDLE file = INVALID_HANDLE_VALUE;
  if (HasEmbeddedNul(path)) {
    hr = HresultFromWin32(ERROR_INVALID_NAME);
  } else {
    // No sharing: nobody reads the staging file before it is complete.
    file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    // Taken before any other call can overwrite the thread's last error.
    if (file == INVALID_HANDLE_VALUE) hr = LastErrorHresult();
  }
  if (file == INVALID_HANDLE_VALUE) {
    // Nothing was created, so there is nothing to delete: the path may well
    // be someone else's file that could not be opened.
    device->Close();
    Fail(result, "Create staging file", hr);
    return result;
  }

  const DWORD buffer_size =
      std::clamp(optimal_size, kMinBufferSize, kMaxBufferSize);
  std::vector<uint8_t> buffer(buffer_size);

  // Starting from 0 makes the first chunk written always reported.
  ULONGLONG last_report = 0;
  for (;;) {
    if (cancel.load()) {
      result.status = ObjectOpStatus::kCancelled;
      result.error = "Cancelled";
      break;
    }
    ULONG read = 0;
    hr = stream->Read(buffer.data(), buffer_size, &read);
    if (FAILED(hr)) {
      Fail(result, "Read from device", hr);
      break;
    }
    // A stream that claims more than fits the buffer is not believed.
    if (read > buffer_size) {
      Fail(result, "Read from device", E_UNEXPECTED);
      break;
    }
    if (read == 0) break;  // the end of the object; S_FALSE may come earlier
    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), read, &written, nullptr) ||
        written != read) {
      Fail(result, "Write staging file", LastErrorHresult());
      break;
    }
    result.bytesWritten += written;
    const ULONGLONG now = GetTickCount64();
    if (now - last_report >= kProgressInterval) {
      if (progress) progress(result.bytesWritten, static_cast<int64_t>(total));
      last_report = now;
    }
  }

  // "ok" lets the user delete the phone's copy, so it needs the bytes on
  // disk: a flush or close that fails is a failed write.
  if (result.status == ObjectOpStatus::kOk && !FlushFileBuffers(file)) {
    Fail(result, "Write staging file", LastErrorHresult());
  }
  if (!CloseHandle(file) && result.status == ObjectOpStatus::kOk) {
    Fail(result, "Write staging file", LastErrorHresult());
  }
  if (result.status == ObjectOpStatus::kOk) {
    // The final report, however soon after the last one: the copy is whole.
    if (progress) progress(result.bytesWritten, static_cast<int64_t>(total));
  } else {
    DeleteFileW(path.c_str());
  }

  device->Close();
  return result;
}

}  // namespace snapferry
