#include "wpd/property_reader.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "wpd/com_callback.h"

namespace snapferry {
namespace {

std::atomic<int64_t> patience_ms{60000};
// HRESULT_FROM_WIN32(ERROR_TIMEOUT): a bulk request the walk gave up on.
constexpr HRESULT kTimedOut = static_cast<HRESULT>(0x800705B4);

// One bulk request's results, handed over by WPD on a thread of its own.
// The walk waits on it without holding anything the callback needs; once
// the walk gave up on the request, whatever still comes is dropped.
class BulkResults final
    : public ComCallback<IPortableDevicePropertiesBulkCallback,
                         IID_IPortableDevicePropertiesBulkCallback> {
 public:
  HRESULT STDMETHODCALLTYPE OnStart(REFGUID) override {
    Heard();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE
  OnProgress(REFGUID, IPortableDeviceValuesCollection* results) override {
    std::vector<ComPtr<IPortableDeviceValues>> batch;
    DWORD count = 0;
    if (results != nullptr && SUCCEEDED(results->GetCount(&count))) {
      batch.reserve(count);
      for (DWORD i = 0; i < count; ++i) {
        ComPtr<IPortableDeviceValues> values;
        if (SUCCEEDED(results->GetAt(i, values.Put())) && values) {
          batch.push_back(std::move(values));
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!abandoned_) {
        for (auto& values : batch) results_.push_back(std::move(values));
      }
    }
    Heard();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE OnEnd(REFGUID, HRESULT status) override {
    // A failed status needs nothing more: whatever did not come is read one
    // by one.
    {
      std::lock_guard<std::mutex> lock(mu_);
      ended_ = true;
      status_ = status;
    }
    changed_.notify_all();
    return S_OK;
  }

  // Waits for the end of the request: true when it came, false when the
  // device said nothing for `patience`, after which nothing more is kept.
  bool WaitForEnd(std::chrono::milliseconds patience) {
    std::unique_lock<std::mutex> lock(mu_);
    while (!ended_) {
      const auto deadline = last_heard_ + patience;
      if (changed_.wait_until(lock, deadline) == std::cv_status::timeout &&
          !ended_ && Clock::now() >= last_heard_ + patience) {
        abandoned_ = true;
        return false;
      }
    }
    return true;
  }

  // The status the request ended with; S_OK before its end.
  HRESULT status() {
    std::lock_guard<std::mutex> lock(mu_);
    return status_;
  }

  std::vector<ComPtr<IPortableDeviceValues>> TakeResults() {
    std::lock_guard<std::mutex> lock(mu_);
    return std::move(results_);
  }

 private:
  using Clock = std::chrono::steady_clock;

  ~BulkResults() override = default;

  void Heard() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      last_heard_ = Clock::now();
    }
    changed_.notify_all();
  }

  std::mutex mu_;  // guards what follows
  std::condition_variable changed_;
  Clock::time_point last_heard_ = Clock::now();
  bool ended_ = false;
  bool abandoned_ = false;
  HRESULT status_ = S_OK;
  std::vector<ComPtr<IPortableDeviceValues>> results_;
};

// The ids as the VT_LPWSTR collection a bulk request takes.
HRESULT IdCollection(const LPWSTR* ids, size_t count,
                     ComPtr<IPortableDevicePropVariantCollection>* out) {
  HRESULT hr = CoCreateInstance(CLSID_PortableDevicePropVariantCollection,
                                nullptr, CLSCTX_INPROC_SERVER,
                                IID_IPortableDevicePropVariantCollection,
                                out->PutVoid());
  if (SUCCEEDED(hr) && !*out) hr = E_POINTER;
  for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
    if (ids[i] == nullptr) continue;
    PROPVARIANT id;
    PropVariantInit(&id);
    id.vt = VT_LPWSTR;
    id.pwszVal = ids[i];  // Add copies it
    hr = (*out)->Add(&id);
  }
  return hr;
}

// `keys` and WPD_OBJECT_ID, by which the results are matched to objects.
HRESULT KeysWithId(IPortableDeviceKeyCollection* keys,
                   ComPtr<IPortableDeviceKeyCollection>* out) {
  HRESULT hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, nullptr,
                                CLSCTX_INPROC_SERVER,
                                IID_IPortableDeviceKeyCollection,
                                out->PutVoid());
  if (SUCCEEDED(hr) && !*out) hr = E_POINTER;
  DWORD count = 0;
  if (SUCCEEDED(hr)) hr = keys->GetCount(&count);
  for (DWORD i = 0; i < count && SUCCEEDED(hr); ++i) {
    PROPERTYKEY key;
    hr = keys->GetAt(i, &key);
    if (SUCCEEDED(hr) && !IsEqualPropertyKey(key, WPD_OBJECT_ID)) {
      hr = (*out)->Add(key);
    }
  }
  if (SUCCEEDED(hr)) hr = (*out)->Add(WPD_OBJECT_ID);
  return hr;
}

}  // namespace

void SetBulkReadPatience(std::chrono::milliseconds patience) {
  patience_ms.store(patience.count(), std::memory_order_relaxed);
}

std::chrono::milliseconds BulkReadPatience() {
  return std::chrono::milliseconds(patience_ms.load(std::memory_order_relaxed));
}

PropertyReader::PropertyReader(IPortableDeviceProperties* properties,
                               IPortableDeviceKeyCollection* keys,
                               WalkCalls* calls)
    : properties_(properties), keys_(keys), calls_(calls) {
  if (FAILED(properties->QueryInterface(IID_IPortableDevicePropertiesBulk,
                                        bulk_.PutVoid())) ||
      !bulk_ || FAILED(KeysWithId(keys, &bulk_keys_))) {
    bulk_.Reset();
  }
}

PropertyReader::~PropertyReader() = default;

void PropertyReader::Prefetch(const LPWSTR* ids, size_t count) {
  fetched_.clear();
  if (!bulk_ || count == 0) return;
  ComPtr<IPortableDevicePropVariantCollection> objects;
  if (FAILED(IdCollection(ids, count, &objects))) return;
  ComPtr<BulkResults> results;
  *results.Put() = new BulkResults();
  GUID context = GUID_NULL;
  HRESULT hr = bulk_->QueueGetValuesByObjectList(
      objects.get(), bulk_keys_.get(), results.get(), &context);
  Count(WalkCalls::kQueueGetValuesByObjectList, hr);
  if (FAILED(hr)) return;
  hr = bulk_->Start(context);
  Count(WalkCalls::kStart, hr);
  if (FAILED(hr)) {
    Count(WalkCalls::kCancel, bulk_->Cancel(context));  // drops the request
    return;
  }
  if (!results->WaitForEnd(BulkReadPatience())) {
    // A device that leaves a request hanging would leave the next one so
    // too: what is left of the walk reads one by one.
    if (calls_ != nullptr) calls_->Failed(WalkCalls::kStart, kTimedOut);
    Count(WalkCalls::kCancel, bulk_->Cancel(context));
    bulk_.Reset();
  } else if (calls_ != nullptr && FAILED(results->status())) {
    calls_->Failed(WalkCalls::kStart, results->status());
  }
  for (ComPtr<IPortableDeviceValues>& values : results->TakeResults()) {
    CoTaskMemString id;
    if (SUCCEEDED(values->GetStringValue(WPD_OBJECT_ID, id.Put())) &&
        id.get() != nullptr) {
      fetched_.emplace(id.get(), std::move(values));
    }
  }
}

HRESULT PropertyReader::Read(LPCWSTR id,
                             ComPtr<IPortableDeviceValues>* values) {
  if (id == nullptr) return E_POINTER;
  if (!fetched_.empty()) {
    auto found = fetched_.find(id);
    if (found != fetched_.end()) {
      *values = std::move(found->second);
      fetched_.erase(found);
      return S_OK;
    }
  }
  const HRESULT hr = properties_->GetValues(id, keys_, values->Put());
  if (calls_ != nullptr) calls_->Made(WalkCalls::kGetValues, hr, id);
  return hr;
}

void PropertyReader::Count(WalkCalls::Call call, HRESULT hr) {
  if (calls_ != nullptr) calls_->Made(call, hr);
}

}  // namespace snapferry
