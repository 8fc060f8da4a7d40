// What a backend tells the user about its system, apart from the services
// it provides: the lines the log shows, and the program's end.
#pragma once

#include <string>
#include <vector>

namespace vesk {

class Diagnostics {
 public:
  // Lines the main window logs once at start-up (the kind of session, which
  // input paths work on it); none on a system without surprises.
  virtual std::vector<std::string> StartupNotes() = 0;
  // A line naming the input path that recording (playback false) or
  // playback (true) will use, and why; empty when there is only one.
  virtual std::string InputPathNote(bool playback) = 0;
  // Why the system last cancelled the journal hooks (WM_CANCELJOURNAL), as
  // a line for the log, then forgotten; empty when it cannot tell.
  virtual std::string TakeCancelReason() = 0;
  // A line the user should read now (the system dropped an input hook and it
  // was put back; a chosen path this system cannot hold), then forgotten;
  // the backend posts WM_VESK_NOTE to the program's thread when it has one.
  virtual std::string TakeNote() { return {}; }
  // A logged line that matters beyond the window's life (a recording
  // recovered, or not protected): shown where the system keeps such lines.
  virtual void Notice(const std::string& line) = 0;
  // The program has left its last modal run (lets a backend tidy up).
  virtual void ProgramEnded() = 0;

 protected:
  ~Diagnostics() = default;
};

}  // namespace vesk
