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
class ChunkWriter {
 public:
  explicit ChunkWriter(StagingFile* file) : file_(file) {}
  // Waits for a write still in progress.
  ~ChunkWriter();
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  // Starts writing `size` bytes at `data`; the previous write must be
  // finished. When no thread can be started the chunk is written at once.
  void Start(const uint8_t* data, DWORD size);
  // Whether a write was started and not yet finished.
  bool busy() const { return busy_; }
  // Waits for the write started last; its result (StagingFile::Write).
  HRESULT Finish();

 private:
  void Run();

  StagingFile* file_;
  bool busy_ = false;  // the caller's side only

  std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  const uint8_t* data_ = nullptr;
  DWORD size_ = 0;
  bool pending_ = false;  // a chunk waits for the thread
  bool written_ = false;  // the thread is done with it
  HRESULT result_ = S_OK;
  bool stop_ = false;

  std::thread thread_;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_CHUNK_WRITER_H_
