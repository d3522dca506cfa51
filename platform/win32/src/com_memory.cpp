// Task memory: the allocator COM callers and callees share.
#include <combaseapi.h>

#include <cstdlib>

LPVOID CoTaskMemAlloc(SIZE_T size) {
  // Windows hands out a valid block for a zero-byte request.
  return std::malloc(size == 0 ? 1 : size);
}

LPVOID CoTaskMemRealloc(LPVOID block, SIZE_T size) {
  return std::realloc(block, size == 0 ? 1 : size);
}

void CoTaskMemFree(LPVOID block) { std::free(block); }
