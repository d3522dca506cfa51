#include "wpd/chunk_writer.h"

#include <exception>

namespace snapferry {

ChunkWriter::~ChunkWriter() {
  if (busy_) Finish();
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
}

void ChunkWriter::Start(const uint8_t* data, DWORD size) {
  busy_ = true;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::exception&) {
      // No thread: the copy goes on without the overlap.
      std::lock_guard<std::mutex> lock(mutex_);
      result_ = file_->Write(data, size);
      written_ = true;
      return;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    data_ = data;
    size_ = size;
    pending_ = true;
    written_ = false;
  }
  changed_.notify_all();
}

HRESULT ChunkWriter::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return written_; });
  busy_ = false;
  written_ = false;
  return result_;
}

void ChunkWriter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ || stop_; });
    if (!pending_) return;
    pending_ = false;
    const uint8_t* data = data_;
    const DWORD size = size_;
    lock.unlock();
    const HRESULT hr = file_->Write(data, size);
    lock.lock();
    result_ = hr;
    written_ = true;
    changed_.notify_all();
  }
}

}  // namespace snapferry
