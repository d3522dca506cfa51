// The C runtime calls behind <io.h>, on POSIX descriptors.
#include <io.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

errno_t freopen_s(FILE** stream, const char* filename, const char* mode,
                  FILE* old_stream) {
  if (stream == nullptr || filename == nullptr || mode == nullptr ||
      old_stream == nullptr) {
    return EINVAL;
  }
  if (std::strcmp(filename, "CONOUT$") == 0) {
    *stream = old_stream;
    return 0;
  }
  *stream = std::freopen(filename, mode, old_stream);
  return *stream != nullptr ? 0 : errno;
}

int _fileno(FILE* stream) { return fileno(stream); }

int _isatty(int descriptor) { return isatty(descriptor); }

int _dup2(int old_descriptor, int new_descriptor) {
  return dup2(old_descriptor, new_descriptor) < 0 ? -1 : 0;
}
