#include "platform/wpd/simulator/bulk_properties.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/wpd/simulator/call_log.h"

namespace wpd_sim {

// --- the threads -----------------------------------------------------------

bool SimState::RunBulk(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(bulk_mu);
  if (!bulk_open) return false;
  // Threads whose request ended are only returning: join them now, so that
  // the list stays as long as the requests running.
  for (auto it = bulk_threads.begin(); it != bulk_threads.end();) {
    if (it->done->load() && it->thread.get_id() != std::this_thread::get_id()) {
      it->thread.join();
      it = bulk_threads.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  bulk_threads.push_back(BulkThread{std::thread([work = std::move(work), done] {
                                      work();
                                      done->store(true);
                                    }),
                                    done});
  return true;
}

void SimState::StopBulkThreads() {
  std::vector<BulkThread> threads;
  {
    std::lock_guard<std::mutex> lock(bulk_mu);
    bulk_open = false;
    threads.swap(bulk_threads);
  }
  // `stopping` is set and announced: hung requests end, the others finish
  // the batch they are in.
  for (BulkThread& thread : threads) thread.thread.join();
}

// --- requests --------------------------------------------------------------

namespace {

struct Request {
  Request(std::shared_ptr<Session> session, std::vector<std::wstring> ids,
          std::vector<PROPERTYKEY> keys, bool all,
          IPortableDevicePropertiesBulkCallback* callback)
      : session(std::move(session)),
        ids(std::move(ids)),
        keys(std::move(keys)),
        all(all),
        callback(callback) {}
  // A request dropped before it started lets its callback go here; one
  // that ran did so after OnEnd.
  ~Request() {
    if (callback != nullptr) callback->Release();
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;

  GUID context{};
  const std::shared_ptr<Session> session;
  const std::vector<std::wstring> ids;
  const std::vector<PROPERTYKEY> keys;
  const bool all;  // no key collection was given: every property
  IPortableDevicePropertiesBulkCallback* callback;  // owned reference
  bool started = false;                              // under BulkRequests::mu
  std::atomic<bool> cancelled{false};
};

std::string ObjectsText(size_t count) {
  return std::to_string(count) + (count == 1 ? " object" : " objects");
}

}  // namespace

class BulkRequests {
 public:
  // Every request handed out, started or not; one that ran stays, so that a
  // late Cancel of it is no error.
  std::mutex mu;  // guards `requests` and each Request::started
  std::vector<std::shared_ptr<Request>> requests;

  // Under mu.
  std::shared_ptr<Request> Find(REFGUID context) {
    for (const auto& request : requests) {
      if (SameGuid(request->context, context)) return request;
    }
    return nullptr;
  }
};

std::shared_ptr<BulkRequests> NewBulkRequests() {
  return std::make_shared<BulkRequests>();
}

namespace {

// Why a request stops before its next batch (and a hung one wakes): a
// Cancel or the Simulator's end, the device object closed, the device gone.
// S_OK: it goes on.
HRESULT Interrupted(const SimState& sim, const Request& request) {
  if (request.cancelled.load() || sim.stopping.load()) {
    return kBulkCancelledHresult;
  }
  return Usable(*request.session);
}

enum class Read { kSent, kLeftOut, kEnd };

// Under the device's lock: one object's part of a batch, appended to
// `batch` unless its bulk fault leaves it out. kEnd, with *status or *hang
// set, when the device ends the request here.
Read ReadOne(const std::shared_ptr<SimState>& sim, const Request& request,
             const std::wstring& id, uint64_t sent, ValuesCollection* batch,
             HRESULT* status, bool* hang) {
  const std::shared_ptr<DeviceState>& device = request.session->device;
  sim->Count(Call::kBulkValues);
  if (HRESULT state = Usable(*request.session); FAILED(state)) {
    *status = state;
    return Read::kEnd;
  }
  const uint32_t node = device->Find(id);
  FaultTable* own = node != kNoNode ? device->nodes[node].faults.get() : nullptr;
  const Fault* fault = nullptr;
  if (own != nullptr && own->Find(Call::kBulkValues) != nullptr) {
    // The object's own: it is left out (or the device unplugged).
    fault = own->Strike(Call::kBulkValues);
    if (fault != nullptr && fault->action != Fault::Action::kUnplug) {
      return Read::kLeftOut;
    }
  } else {
    // The device's: the request ends, hangs or unplugs once `after` came.
    fault = device->faults.Find(Call::kBulkValues);
    if (fault != nullptr && sent < fault->after) fault = nullptr;
  }
  if (fault != nullptr) {
    if (fault->action == Fault::Action::kUnplug) {
      device->UnplugLocked();
      *status = device->setup.gone_hresult;
    } else if (fault->action == Fault::Action::kHang) {
      *hang = true;
    } else {
      *status = fault->hresult;
    }
    return Read::kEnd;
  }
  HRESULT hr;
  if (device->owner != nullptr &&
      device->owner->random.Strike(Call::kBulkValues, &hr)) {
    return Read::kLeftOut;
  }
  Values* values = nullptr;
  hr = ObjectValuesLocked(sim, device, node, request.keys, request.all, false,
                          &values);
  if (FAILED(hr)) {
    // As GetValues failed for it: its code in every property asked for.
    values = new Values(sim);
    for (const PROPERTYKEY& key : request.keys) {
      if (!SameKey(key, WPD_OBJECT_ID)) values->SetErrorValue(key, hr);
    }
  }
  PROPVARIANT object_id = EmptyValue();
  object_id.vt = VT_LPWSTR;
  object_id.pwszVal = DupString(id);
  values->Put(WPD_OBJECT_ID, object_id);
  batch->Append(values, call_log::Narrow(id.c_str()));
  return Read::kSent;
}

// The request, on its own thread: OnStart, a batch at a time while nothing
// interrupts it, OnEnd. No lock is held while the callback is told.
void Run(const std::shared_ptr<SimState>& sim,
         const std::shared_ptr<Request>& request) {
  IPortableDevicePropertiesBulkCallback* callback =
      std::exchange(request->callback, nullptr);
  const GUID context = request->context;
  DeviceState& device = *request->session->device;
  callback->OnStart(context);
  HRESULT status = S_OK;
  bool hang = false;
  bool ended = false;
  uint64_t sent = 0;
  for (size_t next = 0; next < request->ids.size() && !ended;) {
    status = Interrupted(*sim, *request);
    if (status != S_OK) break;
    const size_t end = std::min(next + kBulkBatchSize, request->ids.size());
    auto* batch = new ValuesCollection(sim);
    uint64_t in_batch = 0;
    {
      call_log::Internal internal;  // the simulator's own calls
      std::lock_guard<std::mutex> lock(device.mu);
      for (; next < end && !ended; ++next) {
        switch (ReadOne(sim, *request, request->ids[next], sent, batch,
                        &status, &hang)) {
          case Read::kSent:
            ++sent;
            ++in_batch;
            break;
          case Read::kLeftOut:
            break;
          case Read::kEnd:
            ended = true;
            break;
        }
      }
    }
    // The device's reply crosses the link before the client sees it.
    device.link.BulkBatch(in_batch);
    if (in_batch > 0) callback->OnProgress(context, batch);
    batch->Release();
  }
  if (hang) {
    std::unique_lock<std::mutex> lock(sim->wake_mu);
    sim->wake_cv.wait(lock, [&] {
      status = Interrupted(*sim, *request);
      return status != S_OK;
    });
  }
  callback->OnEnd(context, status);
  callback->Release();
}

// --- the bulk object -----------------------------------------------------

class BulkProperties final
    : public ComObject<BulkProperties, IPortableDevicePropertiesBulk,
                       ObjectKind::kBulkProperties> {
 public:
  BulkProperties(std::shared_ptr<SimState> sim,
                 std::shared_ptr<Session> session, IUnknown* owner,
                 std::shared_ptr<BulkRequests> requests)
      : ComObject(std::move(sim)),
        session_(std::move(session)),
        owner_(owner),
        requests_(std::move(requests)) {
    owner_->AddRef();
  }
  ~BulkProperties() { owner_->Release(); }
  static bool Answers(REFIID iid) {
    return SameGuid(iid, IID_IPortableDevicePropertiesBulk);
  }

  // One COM object with the properties object it came from.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (Answers(iid)) return ComObject::QueryInterface(iid, out);
    return owner_->QueryInterface(iid, out);
  }

  HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectList(
      IPortableDevicePropVariantCollection* object_ids,
      IPortableDeviceKeyCollection* keys,
      IPortableDevicePropertiesBulkCallback* callback,
      GUID* context) override {
    sim_->Count(Call::kQueueGetValuesByObjectList);
    if (context != nullptr) *context = GUID_NULL;
    if (object_ids == nullptr || callback == nullptr || context == nullptr) {
      return E_POINTER;
    }
    // The caller's collections are read first, and not recorded.
    std::vector<std::wstring> ids;
    std::vector<PROPERTYKEY> wanted;
    HRESULT hr;
    {
      call_log::Internal internal;
      hr = ReadIds(object_ids, &ids);
      if (SUCCEEDED(hr)) hr = ReadKeys(keys, &wanted);
    }
    if (auto struck = LogCall("Bulk.QueueGetValuesByObjectList",
                              [&] { return ObjectsText(ids.size()); })) {
      return *struck;  // a success code too: nothing queued
    }
    if (FAILED(hr)) return hr;
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    {
      std::lock_guard<std::mutex> lock(session_->device->mu);
      if (session_->device->Strike(kNoNode, Call::kQueueGetValuesByObjectList,
                                   &hr)) {
        return hr;
      }
    }
    auto request = std::make_shared<Request>(
        session_, std::move(ids), std::move(wanted), keys == nullptr, callback);
    callback->AddRef();
    // A context no other request of this Simulator has: counted, marked as
    // ours.
    request->context = {sim_->next_bulk_context.fetch_add(1) + 1, 0xB0C5, 0x4D17,
                        {0x9E, 0x5A, 'w', 'p', 'd', 's', 'i', 'm'}};
    std::lock_guard<std::mutex> lock(requests_->mu);
    requests_->requests.push_back(request);
    *context = request->context;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectFormat(
      REFGUID, LPCWSTR, const DWORD, IPortableDeviceKeyCollection*,
      IPortableDevicePropertiesBulkCallback*, GUID* context) override {
    if (context != nullptr) *context = GUID_NULL;
    if (auto struck = LogCall("Bulk.QueueGetValuesByObjectFormat"))
      return *struck;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE QueueSetValuesByObjectList(
      IPortableDeviceValuesCollection*, IPortableDevicePropertiesBulkCallback*,
      GUID* context) override {
    if (context != nullptr) *context = GUID_NULL;
    if (auto struck = LogCall("Bulk.QueueSetValuesByObjectList"))
      return *struck;
    return E_NOTIMPL;
  }

  HRESULT STDMETHODCALLTYPE Start(REFGUID context) override {
    sim_->Count(Call::kStart);
    std::shared_ptr<Request> request;
    {
      std::lock_guard<std::mutex> lock(requests_->mu);
      request = requests_->Find(context);
    }
    if (auto struck = LogCall("Bulk.Start", [&] {
          return request ? ObjectsText(request->ids.size()) : std::string();
        })) {
      return *struck;
    }
    if (HRESULT state = Usable(*session_); FAILED(state)) return state;
    {
      std::lock_guard<std::mutex> lock(session_->device->mu);
      HRESULT hr;
      if (session_->device->Strike(kNoNode, Call::kStart, &hr)) return hr;
    }
    {
      std::lock_guard<std::mutex> lock(requests_->mu);
      if (request == nullptr || request->started) return E_INVALIDARG;
      request->started = true;
    }
    std::shared_ptr<SimState> sim = sim_;
    if (!sim_->RunBulk([sim, request] { Run(sim, request); })) {
      return kBulkCancelledHresult;  // the Simulator is going
    }
    return S_OK;
  }

  // Stops a running request after the batch in progress (OnEnd then tells
  // kBulkCancelledHresult); drops one not started, whose callback hears
  // nothing. A request that ended already is left as it is.
  HRESULT STDMETHODCALLTYPE Cancel(REFGUID context) override {
    std::shared_ptr<Request> request;
    {
      std::lock_guard<std::mutex> lock(requests_->mu);
      request = requests_->Find(context);
    }
    if (auto struck = LogCall("Bulk.Cancel", [&] {
          return request ? ObjectsText(request->ids.size()) : std::string();
        })) {
      return *struck;
    }
    if (request == nullptr) return E_INVALIDARG;
    {
      std::lock_guard<std::mutex> lock(requests_->mu);
      if (!request->started) {
        auto& all = requests_->requests;
        all.erase(std::find(all.begin(), all.end(), request));
      }
    }
    request->cancelled.store(true);
    sim_->Wake();
    return S_OK;  // a dropped request lets its callback go outside the lock
  }

 private:
  static HRESULT ReadIds(IPortableDevicePropVariantCollection* object_ids,
                         std::vector<std::wstring>* ids) {
    DWORD count = 0;
    HRESULT hr = object_ids->GetCount(&count);
    if (FAILED(hr)) return hr;
    ids->reserve(count);
    for (DWORD i = 0; i < count; ++i) {
      PROPVARIANT id = EmptyValue();
      hr = object_ids->GetAt(i, &id);
      if (FAILED(hr)) return hr;
      const bool text = id.vt == VT_LPWSTR && id.pwszVal != nullptr;
      if (text) ids->push_back(id.pwszVal);
      PropVariantClear(&id);
      if (!text) return E_INVALIDARG;
    }
    return S_OK;
  }

  std::shared_ptr<Session> session_;
  IUnknown* owner_;  // owned reference
  std::shared_ptr<BulkRequests> requests_;
};

}  // namespace

IPortableDevicePropertiesBulk* NewBulkProperties(
    std::shared_ptr<SimState> sim, std::shared_ptr<Session> session,
    IUnknown* owner, std::shared_ptr<BulkRequests> requests) {
  return new BulkProperties(std::move(sim), std::move(session), owner,
                            std::move(requests));
}

}  // namespace wpd_sim
