#include "wpd/device_sessions.h"

#include <algorithm>
#include <utility>

#include "wpd/device_connection.h"

namespace snapferry {

struct SessionLease::Session {
  SessionKey key;
  ComPtr<IPortableDevice> device;
  // The rest is guarded by the cache's mutex (a request's own session has
  // no cache and is never shared).
  int users = 0;
  bool opening = false;  // being opened; others wait for it
  bool ended = false;    // out of the table: closed when the last user goes
  std::chrono::steady_clock::time_point idle_since;
};

namespace {


HRESULT OpenSession(const SessionKey& key, ComPtr<IPortableDevice>& device,
                    OpenStep* failed_step) {
  ComPtr<IPortableDeviceValues> client_info;
  HRESULT hr = CreateClientInformation(key.client_minor_version,
                                       key.desired_access, client_info);
  if (FAILED(hr)) {
    *failed_step = OpenStep::kClientInformation;
    return hr;
  }
  hr = CoCreateInstance(CLSID_PortableDeviceFTM, nullptr, CLSCTX_INPROC_SERVER,
                        IID_IPortableDevice, device.PutVoid());
  if (FAILED(hr)) {
    *failed_step = OpenStep::kCreateDevice;
    return hr;
  }
  *failed_step = OpenStep::kOpen;
  return device->Open(Utf8ToWide(key.device_id).c_str(), client_info.get());
}

}  // namespace

SessionLease::SessionLease(SessionLease&& other) noexcept
    : session_(std::move(other.session_)),
      owner_(other.owner_),
      reused_(other.reused_),
      unopened_(std::move(other.unopened_)) {
  other.owner_ = nullptr;
}

SessionLease& SessionLease::operator=(SessionLease&& other) noexcept {
  if (this != &other) {
    Reset();
    session_ = std::move(other.session_);
    owner_ = other.owner_;
    reused_ = other.reused_;
    unopened_ = std::move(other.unopened_);
    other.owner_ = nullptr;
  }
  return *this;
}

IPortableDevice* SessionLease::device() const {
  return session_ ? session_->device.get() : nullptr;
}

void SessionLease::Check(HRESULT hr) {
  if (session_ && owner_ != nullptr && IsDeviceGone(hr)) {
    owner_->Ended(session_);
  }
}

void SessionLease::Reset() {
  unopened_.Reset();
  if (!session_) return;
  std::shared_ptr<Session> session = std::move(session_);
  DeviceSessions* owner = owner_;
  owner_ = nullptr;
  reused_ = false;
  if (owner != nullptr) {
    owner->GiveBack(session);
  } else {
    session->device->Close();
    session->device.Reset();
  }
}

DeviceSessions::DeviceSessions(std::chrono::milliseconds idle_close)
    : idle_close_(idle_close) {
  closer_ = std::thread([this] { RunCloser(); });
  // Until the thread is in the apartment nothing may be kept; waiting here
  // keeps the first request from finding an empty cache by chance.
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return closer_started_; });
}

DeviceSessions::~DeviceSessions() { Shutdown(); }

void DeviceSessions::SetIdleClose(std::chrono::milliseconds idle_close) {
  std::lock_guard<std::mutex> lock(mutex_);
  idle_close_ = idle_close;
  changed_.notify_all();
}

void DeviceSessions::SetUnplugNoticePause(std::chrono::milliseconds pause) {
  unplug_probe_.SetPause(pause);
}

bool DeviceSessions::DeviceGone(DeviceSessions* cache,
                                const std::string& device_id) {
  if (cache != nullptr) return cache->unplug_probe_.DeviceGone(device_id);
  bool present = false;
  return FAILED(ProbeDevicePresent(device_id, &present)) || !present;
}

void DeviceSessions::SetSessionHooks(SessionHook opened, SessionHook closing) {
  opened_hook_ = std::move(opened);
  closing_hook_ = std::move(closing);
}

HRESULT DeviceSessions::Open(DeviceSessions* cache, const SessionKey& key,
                             SessionLease* lease, OpenStep* failed_step) {
  lease->Reset();
  OpenStep step = OpenStep::kOpen;
  if (failed_step == nullptr) failed_step = &step;
  auto session = std::make_shared<Session>();
  session->key = key;
  session->users = 1;
  bool kept = false;
  if (cache != nullptr) {
    std::unique_lock<std::mutex> lock(cache->mutex_);
    while (cache->apartment_ready_ && !cache->shut_down_) {
      auto found = cache->sessions_.find(key);
      if (found == cache->sessions_.end()) {
        session->opening = true;
        cache->sessions_.emplace(key, session);
        kept = true;
        break;
      }
      Session& existing = *found->second;
      if (existing.opening) {
        cache->changed_.wait(lock);
        continue;
      }
      ++existing.users;
      lease->session_ = found->second;
      lease->owner_ = cache;
      lease->reused_ = true;
      return S_OK;
    }
  }

  const HRESULT hr = OpenSession(key, session->device, failed_step);
  if (FAILED(hr)) {
    lease->unopened_ = std::move(session->device);
    if (kept) {
      std::lock_guard<std::mutex> lock(cache->mutex_);
      auto found = cache->sessions_.find(key);
      if (found != cache->sessions_.end() && found->second == session) {
        cache->sessions_.erase(found);
      }
      cache->changed_.notify_all();
    }
    return hr;
  }
  lease->session_ = session;
  if (!kept) return S_OK;

  if (cache->opened_hook_) cache->opened_hook_(key, session->device.get());
  lease->owner_ = cache;
  std::lock_guard<std::mutex> lock(cache->mutex_);
  session->opening = false;
  cache->changed_.notify_all();
  return S_OK;
}

void DeviceSessions::Drop(const SessionKey& key) {
  std::shared_ptr<Session> idle;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(key);
    if (found == sessions_.end() || found->second->opening) return;
    found->second->ended = true;
    if (found->second->users == 0) idle = found->second;
    sessions_.erase(found);
  }
  if (idle) CloseSession(idle);
}

void DeviceSessions::Ended(const std::shared_ptr<Session>& session) {
  // The device may have been unplugged and plugged in since: its next probe
  // waits for Windows to notice again.
  unplug_probe_.Forget(session->key.device_id);
  std::lock_guard<std::mutex> lock(mutex_);
  if (session->ended) return;
  session->ended = true;
  auto found = sessions_.find(session->key);
  if (found != sessions_.end() && found->second == session) {
    sessions_.erase(found);
  }
}

void DeviceSessions::ForEachOpen(const SessionHook& visit) {
  std::vector<std::shared_ptr<Session>> open;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    // A session being opened may have run its hook before `visit`'s work
    // began: it is waited for, so that it is visited too.
    changed_.wait(lock, [this] {
      return std::none_of(sessions_.begin(), sessions_.end(),
                          [](const auto& kept) { return kept.second->opening; });
    });
    for (const auto& kept : sessions_) {
      if (kept.second->ended) continue;
      ++kept.second->users;
      open.push_back(kept.second);
    }
  }
  for (const auto& session : open) {
    visit(session->key, session->device.get());
    GiveBack(session, /*used=*/false);
  }
}

void DeviceSessions::GiveBack(const std::shared_ptr<Session>& session,
                              bool used) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--session->users > 0) return;
    if (!session->ended) {
      if (used) session->idle_since = std::chrono::steady_clock::now();
      changed_.notify_all();  // the closer's next deadline
      return;
    }
  }
  CloseSession(session);
}

void DeviceSessions::CloseSession(const std::shared_ptr<Session>& session) {
  if (closing_hook_) closing_hook_(session->key, session->device.get());
  session->device->Close();
  session->device.Reset();
}

void DeviceSessions::RunCloser() {
  // A thread of the cache's own holds the multithreaded apartment open for
  // as long as the cache may keep device objects.
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  std::unique_lock<std::mutex> lock(mutex_);
  apartment_ready_ = SUCCEEDED(joined);
  closer_started_ = true;
  changed_.notify_all();
  while (apartment_ready_) {
    std::vector<std::shared_ptr<Session>> to_close;
    const auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::steady_clock::time_point::max();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      Session& session = *it->second;
      if (shut_down_ || (session.users == 0 && !session.opening &&
                         now - session.idle_since >= idle_close_)) {
        session.ended = true;
        if (session.users == 0 && !session.opening) {
          to_close.push_back(it->second);
        }
        it = sessions_.erase(it);
        continue;
      }
      if (session.users == 0 && !session.opening) {
        next = std::min(next, session.idle_since + idle_close_);
      }
      ++it;
    }
    if (!to_close.empty()) {
      lock.unlock();
      for (const auto& session : to_close) CloseSession(session);
      lock.lock();
      continue;
    }
    if (shut_down_) break;
    if (next == std::chrono::steady_clock::time_point::max()) {
      changed_.wait(lock);
    } else {
      changed_.wait_until(lock, next);
    }
  }
  apartment_ready_ = false;
  lock.unlock();
  if (SUCCEEDED(joined)) CoUninitialize();
}

void DeviceSessions::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shut_down_ = true;
    changed_.notify_all();
  }
  if (closer_.joinable() && closer_.get_id() != std::this_thread::get_id()) {
    closer_.join();
  }
}

size_t DeviceSessions::Kept() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

}  // namespace snapferry
