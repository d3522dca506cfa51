// Task memory: the allocator COM callers and callees share. The stand-in
// counts the blocks it has handed out and not yet had back, so a test can
// tell that every CoTaskMemAlloc'd block reached CoTaskMemFree.
#include <combaseapi.h>

#include <atomic>
#include <cstdlib>

#include "win32_standin/control.h"

namespace {

std::atomic<long> outstanding_blocks{0};

}  // namespace

long win32_standin::OutstandingTaskMemoryBlocks() {
  return outstanding_blocks.load();
}

LPVOID CoTaskMemAlloc(SIZE_T size) {
  // Windows hands out a valid block for a zero-byte request.
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) ++outstanding_blocks;
  return block;
}

LPVOID CoTaskMemRealloc(LPVOID block, SIZE_T size) {
  if (block == nullptr) return CoTaskMemAlloc(size);
  // A size of zero frees the block.
  if (size == 0) {
    CoTaskMemFree(block);
    return nullptr;
  }
  // On failure the old block stays allocated, and counted.
  return std::realloc(block, size);
}

void CoTaskMemFree(LPVOID block) {
  if (block == nullptr) return;
  --outstanding_blocks;
  std::free(block);
}
