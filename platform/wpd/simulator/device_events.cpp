// Device events: WPD_EVENT_DEVICE_RESET and WPD_EVENT_DEVICE_REMOVED told to
// the callbacks of advised sessions on a thread of their own, and the
// system's WM_DEVICECHANGE broadcasts when a device is plugged in or out.
#include <utility>

#include "platform/wpd/simulator/call_log.h"
#include "platform/wpd/simulator/com_support.h"
#include "platform/wpd/simulator/device_broadcast.h"
#include "platform/wpd/simulator/values.h"

namespace wpd_sim {

std::wstring InterfacePath(const std::wstring& device_id) {
  // Windows names the interface in its own letter case: the device part in
  // capitals, the class GUID as WPD lists it.
  std::wstring path = device_id;
  size_t end = path.rfind(L"#{");
  if (end == std::wstring::npos) end = path.size();
  for (size_t i = 0; i < end; ++i) {
    if (path[i] >= L'a' && path[i] <= L'z') path[i] = path[i] - L'a' + L'A';
  }
  return path;
}

bool Simulator::BroadcastsDeviceChanges() {
  return internal::CanBroadcastDeviceChanges();
}

void DeviceState::RaiseLocked(const GUID& event, uint32_t connection) {
  if (owner == nullptr) return;
  for (const Advice& advice : advices) {
    if (advice.connection != connection) continue;
    advice.callback->AddRef();
    owner->QueueEvent({advice.callback, event, setup.id});
  }
}

void SimState::BroadcastDeviceChange(bool arrived,
                                     const std::wstring& device_id) {
  internal::BroadcastDeviceInterface(arrived, InterfacePath(device_id));
}

void SimState::QueueEvent(EventDelivery delivery) {
  {
    std::lock_guard<std::mutex> lock(events_mu);
    if (events_open) {
      events.push_back(std::move(delivery));
      events_cv.notify_all();
      return;
    }
  }
  delivery.callback->Release();
}

void SimState::StartEventThread(std::shared_ptr<SimState> self) {
  {
    std::lock_guard<std::mutex> lock(events_mu);
    events_open = true;
  }
  events_thread = std::thread([this, self = std::move(self)] {
    std::unique_lock<std::mutex> lock(events_mu);
    for (;;) {
      events_cv.wait(lock, [this] { return !events.empty() || !events_open; });
      if (events.empty()) return;
      EventDelivery delivery = std::move(events.front());
      events.pop_front();
      events_busy = true;
      lock.unlock();
      auto* values = new Values(self);
      {
        call_log::Internal internal;
        PROPVARIANT id;
        PropVariantInit(&id);
        id.vt = VT_CLSID;
        id.puuid = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
        if (id.puuid != nullptr) {
          *id.puuid = delivery.event;
          values->Put(WPD_EVENT_PARAMETER_EVENT_ID, id);
        }
        PROPVARIANT device;
        PropVariantInit(&device);
        device.vt = VT_LPWSTR;
        device.pwszVal = DupString(delivery.device_id);
        if (device.pwszVal != nullptr) {
          values->Put(WPD_EVENT_PARAMETER_PNP_DEVICE_ID, device);
        }
      }
      delivery.callback->OnEvent(values);
      values->Release();
      delivery.callback->Release();
      lock.lock();
      events_busy = false;
      events_cv.notify_all();
    }
  });
}

void SimState::StopEventThread() {
  std::deque<EventDelivery> dropped;
  {
    std::lock_guard<std::mutex> lock(events_mu);
    events_open = false;
    dropped.swap(events);
    events_cv.notify_all();
  }
  if (events_thread.joinable()) events_thread.join();
  for (EventDelivery& delivery : dropped) delivery.callback->Release();
}

void SimState::WaitForEventDelivery() {
  std::unique_lock<std::mutex> lock(events_mu);
  events_cv.wait(lock, [this] { return events.empty() && !events_busy; });
}

}  // namespace wpd_sim
