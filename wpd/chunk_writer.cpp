#include "wpd/chunk_writer.h"

#include <algorithm>
#include <exception>

namespace snapferry {

namespace {
constexpr uint64_t kFlushChunks = 8;
constexpr uint64_t kMinFlushInterval = 2 << 20;  // 2 MiB
}  // namespace

ChunkWriter::ChunkWriter(StagingFile* file, DWORD buffer_size)
    : file_(file),
      flush_interval_(
          std::max(kMinFlushInterval, kFlushChunks * uint64_t{buffer_size})) {}

ChunkWriter::~ChunkWriter() {
  if (busy_) Finish();
  if (thread_.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();  // after a flush that is still running
  }
}

void ChunkWriter::Start(const uint8_t* data, DWORD size) {
  busy_ = true;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (const std::exception&) {
      // No thread: the copy goes on without the overlap, and its one flush
      // is the final one.
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
  finishing_ = true;
  changed_.wait(lock, [this] { return written_; });
  finishing_ = false;
  busy_ = false;
  written_ = false;
  return FAILED(flush_result_) ? flush_result_ : result_;
}

HRESULT ChunkWriter::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !pending_ && !flushing_; });
  return flush_result_;
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
    // The chunk is handed back before the flush, so the next one is read
    // meanwhile. A copy already waiting for this write has its next chunk
    // read: the disk is the slower side, and a flush now would only keep
    // the device waiting longer, so it comes at a later chunk. A failed
    // write is not flushed after.
    unflushed_ += size;
    flushing_ = SUCCEEDED(hr) && !finishing_ && unflushed_ >= flush_interval_;
    changed_.notify_all();
    if (!flushing_) continue;
    lock.unlock();
    const HRESULT flushed = file_->Flush();
    lock.lock();
    flushing_ = false;
    unflushed_ = 0;
    if (FAILED(flushed) && SUCCEEDED(flush_result_)) flush_result_ = flushed;
    changed_.notify_all();
  }
}

}  // namespace snapferry
