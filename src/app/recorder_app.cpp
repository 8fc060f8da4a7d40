// The application object: the owner window, the main window's run and the exit status.
#include "app/recorder_app.h"

#include "app/command_line.h"
#include "app/recorder_dialog.h"
#include "engine/hook_set.h"
#include "engine/recording_step.h"
#include "script/key_names.h"
#include "script/script_export.h"

namespace vesk {

std::uint32_t g_autoPlaybackMessage = 0;
std::uint32_t g_playAgainMessage = 0;

namespace {
int g_exitStatus = 0;

const MessageMapEntry kProxyEntries[] = {
    OnMessage(WM_PAINT, [](Dialog&, WParam, LParam) -> LResult { return 0; }),
};
const MessageMap kProxyMap{nullptr, kProxyEntries};
}  // namespace

ProxyDialog::ProxyDialog() : Dialog(kProxyDialogTemplate, nullptr) {}

const MessageMap* ProxyDialog::GetMessageMap() const { return &kProxyMap; }

bool ProxyDialog::OnInitDialog() {
  SetIcon(icon, true);
  SetIcon(icon, false);
  {
    RecorderDialog visible_window(this);
    visible_window.DoModal();
    PostMessage(WM_CLOSE, 0, 0);
  }
  return true;
}

bool RecorderApp::InitInstance() {
  ProxyDialog dlg;
  dlg.DoModal();
  return false;
}

void SetExitStatus(int status) { g_exitStatus = status; }

int RunProgram() {
  g_exitStatus = 0;
  // Process-wide objects, created in this order and destroyed in reverse.
  TheKeyboardState() = {};
  TheRecordingStepState() = {};
  struct Objects {
    HookSet hookSet;
    Objects() {
      SetTheHookSet(&hookSet);
      g_autoPlaybackMessage = Sys().RegisterWindowMessage("Automatic Playback");
      g_playAgainMessage = Sys().RegisterWindowMessage("Play Again");
      ScriptText().clear();
    }
    ~Objects() {
      ScriptText().clear();
      g_playAgainMessage = 0;
      g_autoPlaybackMessage = 0;
      CloseKeyNameLock();
    }
  };
  {
    Objects objects;
    RecorderApp theApp;
    theApp.InitInstance();
    Sys().Notes().ProgramEnded();
    // objects.hookSet is destroyed here: every hook still installed goes.
    struct ClearPointer {
      ~ClearPointer() { SetTheHookSet(nullptr); }
    } clear;
  }
  if (SignalNoted()) {
    g_exitStatus = kExitSignal;
    ClearSignal();
  }
  return g_exitStatus;
}

int RunProgramOn(Backend& backend, const Invocation& invocation, std::ostream& report) {
  InstallBackend(&backend);
  SetCommandRun(invocation.play ? &*invocation.play : nullptr);
  SetCommandReport(invocation.play ? &report : nullptr);
  const int code = RunProgram();
  SetCommandReport(nullptr);
  SetCommandRun(nullptr);
  InstallBackend(nullptr);
  return code;
}

}  // namespace vesk
