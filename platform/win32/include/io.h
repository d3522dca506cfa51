// The C runtime's low-level I/O names the program uses to point its
// standard streams at a console. freopen_s belongs to <stdio.h> on Windows;
// here it is declared with the rest, since <stdio.h> is the system's own.
#ifndef SNAPFERRY_WIN32_IO_H_
#define SNAPFERRY_WIN32_IO_H_

#include <stdio.h>

typedef int errno_t;

// The stand-in's console is the process's own terminal: reopening a stream
// on "CONOUT$" keeps the stream as it is and succeeds. Any other name is
// opened as a file. Returns 0 or an errno value.
errno_t freopen_s(FILE** stream, const char* filename, const char* mode,
                  FILE* old_stream);
int _fileno(FILE* stream);
int _dup2(int old_descriptor, int new_descriptor);  // 0 or -1
int _isatty(int descriptor);  // non-zero for a terminal

#endif  // SNAPFERRY_WIN32_IO_H_
