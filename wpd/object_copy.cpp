#include "wpd/object_copy.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <portabledevice.h>
#include <portabledeviceapi.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "wpd/chunk_writer.h"
#include "wpd/com_apartment_guard.h"
#include "wpd/com_ptr.h"
#include "wpd/device_connection.h"
#include "wpd/staging_file.h"

namespace snapferry {
namespace {

// Two buffers per copy, each the device's own optimal transfer size kept
// within bounds that are neither wasteful per call nor a burden on memory.
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

void Cancelled(ObjectOpResult& result) {
  result.status = ObjectOpStatus::kCancelled;
  result.hresult = S_OK;
  result.error = "Cancelled";
}

// A name with an embedded NUL would reach the device cut short, naming
// another object than the caller asked for.
bool HasEmbeddedNul(const std::wstring& text) {
  return text.find(L'\0') != std::wstring::npos;
}

// What the device says about the object before its data is read.
struct ObjectFacts {
  std::optional<ULONGLONG> size;  // empty when it cannot be read
  std::optional<FILETIME> created, modified;
};

// A device date as a file time. The phone's dates are its wall-clock time
// with no zone, so they are read as this PC's local time.
std::optional<FILETIME> DateAsFileTime(IPortableDeviceValues* values,
                                       const PROPERTYKEY& key) {
  ScopedPropVariant value;
  if (FAILED(values->GetValue(key, value.get())) ||
      value.value().vt != VT_DATE) {
    return std::nullopt;
  }
  SYSTEMTIME local = {}, utc = {};
  FILETIME time = {};
  if (!VariantTimeToSystemTime(value.value().date, &local) ||
      !TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !SystemTimeToFileTime(&utc, &time)) {
    return std::nullopt;
  }
  return time;
}

// One GetValues for the size and both dates; every failure here only
// leaves a fact out.
ObjectFacts ReadObjectFacts(IPortableDeviceContent* content,
                            const std::wstring& object) {
  ObjectFacts facts;
  ComPtr<IPortableDeviceProperties> properties;
  ComPtr<IPortableDeviceKeyCollection> keys;
  ComPtr<IPortableDeviceValues> values;
  if (FAILED(content->Properties(properties.Put())) || !properties ||
      FAILED(CoCreateInstance(
          CLSID_PortableDeviceKeyCollection, nullptr, CLSCTX_INPROC_SERVER,
          IID_IPortableDeviceKeyCollection, keys.PutVoid()))) {
    return facts;
  }
  keys->Add(WPD_OBJECT_SIZE);
  keys->Add(WPD_OBJECT_DATE_MODIFIED);
  keys->Add(WPD_OBJECT_DATE_CREATED);
  if (FAILED(properties->GetValues(object.c_str(), keys.get(), values.Put())) ||
      !values) {
    return facts;
  }
  ULONGLONG size = 0;
  if (SUCCEEDED(values->GetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, &size))) {
    facts.size = size;
  }
  facts.modified = DateAsFileTime(values.get(), WPD_OBJECT_DATE_MODIFIED);
  facts.created = DateAsFileTime(values.get(), WPD_OBJECT_DATE_CREATED);
  return facts;
}

// Everything between opening and closing the device.
void CopyFromOpenDevice(IPortableDevice* device, const std::wstring& object,
                        const std::string& staging_path,
                        const ProgressCallback& progress,
                        std::atomic<bool>& cancel, PendingCopies* pending,
                        ObjectOpResult& result) {
  ComPtr<IPortableDeviceContent> content;
  ComPtr<IPortableDeviceResources> resources;
  ComPtr<IStream> stream;

  HRESULT hr = device->Content(content.Put());
  if (SUCCEEDED(hr) && !content) hr = E_POINTER;
  ObjectFacts facts;
  if (SUCCEEDED(hr)) facts = ReadObjectFacts(content.get(), object);
  result.objectSize = facts.size;
  if (SUCCEEDED(hr)) hr = content->Transfer(resources.Put());
  if (SUCCEEDED(hr) && !resources) hr = E_POINTER;
  if (FAILED(hr)) return Fail(result, "Open transfer", hr);

  DWORD optimal_size = 0;
  hr = HasEmbeddedNul(object)
           ? E_INVALIDARG
           : resources->GetStream(object.c_str(), WPD_RESOURCE_DEFAULT,
                                  STGM_READ, &optimal_size, stream.Put());
  if (SUCCEEDED(hr) && !stream) hr = E_POINTER;
  if (FAILED(hr)) return Fail(result, "Open object stream", hr);
  // While the stream is read, a cancel also reaches a read that hangs.
  struct Pending {
    PendingCopies* copies;
    IStream* stream;
    ~Pending() {
      if (copies != nullptr) copies->Remove(stream);
    }
  } in_pending{pending, stream.get()};
  if (pending != nullptr) pending->Add(stream.get(), device);

  StagingFile file;
  hr = file.Create(staging_path);
  if (FAILED(hr)) return Fail(result, "Create staging file", hr);

  const DWORD buffer_size =
      std::clamp(optimal_size, kMinBufferSize, kMaxBufferSize);
  // Two buffers: one is written to the staging file while the next chunk is
  // read into the other.
  std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(buffer_size),
                                     std::vector<uint8_t>(buffer_size)};
  int next = 0;
  // Progress tells 0 for a size the device did not give.
  const int64_t total = static_cast<int64_t>(facts.size.value_or(0));
  ChunkWriter writer(&file, buffer_size);
  ULONG writing = 0;  // the size of the chunk being written

  // Starting from 0 makes the first chunk written always reported.
  ULONGLONG last_report = 0;
  // Waits for the chunk being written, then counts and reports it as the
  // copy did before reading the next one; false when the write failed.
  const auto finish_write = [&]() -> bool {
    if (!writer.busy()) return true;
    const HRESULT written = writer.Finish();
    if (FAILED(written)) {
      Fail(result, "Write staging file", written);
      return false;
    }
    result.bytesWritten += writing;
    const ULONGLONG now = GetTickCount64();
    if (now - last_report >= kProgressInterval) {
      if (progress) progress(result.bytesWritten, total);
      last_report = now;
    }
    return true;
  };

  for (;;) {
    if (cancel.load()) {
      if (finish_write()) Cancelled(result);
      return;
    }
    std::vector<uint8_t>& buffer = buffers[next];
    ULONG read = 0;
    hr = stream->Read(buffer.data(), buffer_size, &read);
    // The chunk before this one was written first, as far as the result
    // tells: its failure wins over this read's, and a cancel seen once it
    // was written and reported stops the copy as the check between the two
    // chunks would have (the chunk just read is not written).
    const bool after_write = writer.busy();
    if (!finish_write()) return;
    if (after_write && cancel.load()) return Cancelled(result);
    // A cancel aborts the device's read with a code of the device's
    // choosing, or cuts the data short: either way the copy was cancelled.
    if (cancel.load() && (FAILED(hr) || read == 0)) return Cancelled(result);
    if (FAILED(hr)) return Fail(result, "Read from device", hr);
    // A stream that claims more than fits the buffer is not believed.
    if (read > buffer_size) {
      return Fail(result, "Read from device", E_UNEXPECTED);
    }
    if (read == 0) break;  // the end of the object; S_FALSE may come earlier
    writing = read;
    writer.Start(buffer.data(), read);
    next ^= 1;
  }

  // The thread may still be flushing the file.
  hr = writer.Drain();
  if (FAILED(hr)) return Fail(result, "Write staging file", hr);
  file.SetTimes(facts.created ? &*facts.created : nullptr,
                facts.modified ? &*facts.modified : nullptr);
  hr = file.Keep();
  if (FAILED(hr)) return Fail(result, "Write staging file", hr);
  // The final report, however soon after the last one: the copy is whole.
  if (progress) progress(result.bytesWritten, total);
}

}  // namespace

ObjectOpResult CopyObjectToFile(const std::string& device_id,
                                const std::string& object_id,
                                const std::string& staging_path,
                                const ProgressCallback& progress,
                                std::atomic<bool>& cancel,
                                PendingCopies* pending,
                                DeviceSessions* sessions) {
  ComApartmentGuard apartment;
  if (!apartment.usable()) {
    ObjectOpResult result;
    Fail(result, "COM initialisation", E_FAIL);
    return result;
  }

  // Whether the caller has seen anything of this copy: after that it is
  // not started again.
  bool reported = false;
  const ProgressCallback report = [&](int64_t bytes, int64_t total) {
    reported = true;
    if (progress) progress(bytes, total);
  };
  for (int attempt = 0;; ++attempt) {
    ObjectOpResult result;
    SessionLease lease;
    const HRESULT hr =
        DeviceSessions::Open(sessions, {device_id, GENERIC_READ}, &lease);
    if (FAILED(hr)) {
      // A device object that did not open is released without Close.
      Fail(result, "Open device", hr);
      return result;
    }
    CopyFromOpenDevice(lease.device(), Utf8ToWide(object_id), staging_path,
                       report, cancel, pending, result);
    if (lease.CheckStale(result.hresult) && attempt == 0 && !reported) {
      continue;
    }
    return result;
  }
}

}  // namespace snapferry
