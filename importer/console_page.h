// The console's output code page: UTF-8 while the import writes (names and
// folders are UTF-8 throughout), and given back as found when it ends,
// however it ends, so the console a person typed the command in is left as
// it was.

#ifndef SNAPFERRY_IMPORTER_CONSOLE_PAGE_H_
#define SNAPFERRY_IMPORTER_CONSOLE_PAGE_H_

namespace importer {

// Notes the code page in use, then switches the output to UTF-8.
void UseUtf8ConsoleOutput();
// Puts back the code page noted by UseUtf8ConsoleOutput (nothing if it was
// not called); safe from the console control handler's thread.
void RestoreConsoleOutput();

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_CONSOLE_PAGE_H_
