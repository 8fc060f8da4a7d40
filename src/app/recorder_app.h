// The application object, the invisible owner window and the program's
// process-wide objects.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "platform/dialog.h"

namespace vesk {

class Backend;
struct Invocation;

class ProxyDialog : public Dialog {
 public:
  ProxyDialog();
  int icon = kAppIcon;

 protected:
  bool OnInitDialog() override;
  const MessageMap* GetMessageMap() const override;
};

class RecorderApp {
 public:
  virtual ~RecorderApp() = default;
  // Runs the whole program; returns false: there is no message pump to enter.
  virtual bool InitInstance();
};

// The identifiers of the two registered messages (0 before start-up).
extern std::uint32_t g_autoPlaybackMessage;
extern std::uint32_t g_playAgainMessage;

// Exit statuses: 0 when no automatic run was started or it ended after its
// last pass; kExitRunUnfinished when the program ends after an automatic
// run that did not (cancelled, paused, journal missing).
inline constexpr int kExitRunUnfinished = 1;
void SetExitStatus(int status);

// Creates the process-wide objects in order, runs the application's
// start-up step and destroys them in reverse order. Returns the exit code.
int RunProgram();

// The platform main's whole run: installs the backend, hands the program the
// command line's `play` run (null: none) and where it reports (report), runs
// it and takes everything back. Returns the exit code.
int RunProgramOn(Backend& backend, const Invocation& invocation, std::ostream& report);

}  // namespace vesk
