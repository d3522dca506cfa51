#ifndef SNAPFERRY_WPD_CHUNK_WRITER_H_
#define SNAPFERRY_WPD_CHUNK_WRITER_H_

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "wpd/staging_file.h"

namespace snapferry {

// Writes one chunk of a copy to its staging file on a thread of its own,
// while the copy reads the next chunk from the device: the device need not
// wait for the disk, nor the disk for the device. One chunk at a time; the
// caller keeps the chunk's bytes and the file alive until Finish.
//
// The file is also flushed as it grows: once eight buffers' worth (and at
// least 2 MiB) was written since the last flush, the thread flushes it after
// handing the chunk back, while the next chunk is still being read (unless the
// copy already waits for the disk, which then needs no more work). The flush
// that completes a copy then has little left to write, so the copy's answer
// follows its last byte closely, and two copies that end together do not
// wait on each other's whole files.
class ChunkWriter {
 public:
  ChunkWriter(StagingFile* file, DWORD buffer_size);
  // Waits for a write or flush still in progress.
  ~ChunkWriter();
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  // Starts writing `size` bytes at `data`; the previous write must be
  // finished. When no thread can be started the chunk is written at once.
  void Start(const uint8_t* data, DWORD size);
  // Whether a write was started and not yet finished.
  bool busy() const { return busy_; }
  // Waits for the write started last. Its result (StagingFile::Write), or
  // the failure of a flush made since an earlier chunk, which comes first.
  HRESULT Finish();
  // Waits until the thread is done with the file (a flush may still run
  // after Finish); S_OK, or the failure of a flush. Call after Finish,
  // before the file is used on the caller's thread.
  HRESULT Drain();

 private:
  void Run();

  StagingFile* file_;
  const uint64_t flush_interval_;
  bool busy_ = false;  // the caller's side only

  std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  const uint8_t* data_ = nullptr;
  DWORD size_ = 0;
  bool pending_ = false;         // a chunk waits for the thread
  bool written_ = false;         // the thread is done with it
  bool flushing_ = false;        // the thread is flushing the file
  bool finishing_ = false;       // the caller waits in Finish
  HRESULT result_ = S_OK;        // of the last write
  HRESULT flush_result_ = S_OK;  // of the first flush that failed
  uint64_t unflushed_ = 0;       // bytes written since the last flush
  bool stop_ = false;

  std::thread thread_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_CHUNK_WRITER_H_
