// Where the import stands. Every part may ask; only the session changes it.

#ifndef SNAPFERRY_IMPORTER_SESSION_STATE_H_
#define SNAPFERRY_IMPORTER_SESSION_STATE_H_

namespace importer {

struct SessionState {
  bool interrupted = false;  // Ctrl+C, or the console closing
  bool copying = false;      // the copy phase began
  bool over = false;         // the import ended: nothing more is started
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_SESSION_STATE_H_
