// The main window: construction, message map, start-up, the log and painting.
#include "app/recorder_dialog.h"

#include "app/command_line.h"
#include "app/recorder_app.h"
#include "engine/hook_set.h"

namespace vesk {

namespace {

using D = RecorderDialog;

const MessageMapEntry kEntries[] = {
    OnMessage(WM_PAINT, &CallMessage<D, &D::OnPaint>),
    OnMessage(WM_QUERYDRAGICON, &CallMessage<D, &D::OnQueryDragIcon>),
    OnRegistered(&g_autoPlaybackMessage, &CallMessage<D, &D::OnAutomaticPlayback>),
    OnRegistered(&g_playAgainMessage, &CallMessage<D, &D::OnPlayAgain>),
    OnCommand(IDC_RECORD, BN_CLICKED, &CallVoid<D, &D::OnRecord>),
    OnCommand(IDC_PLAY, BN_CLICKED, &CallVoid<D, &D::OnPlay>),
    OnCommand(IDC_STOP, BN_CLICKED, &CallVoid<D, &D::OnStop>),
    OnCommand(IDC_SETTINGS, BN_CLICKED, &CallVoid<D, &D::OnSettings>),
    OnCommand(IDC_SAVEBASIC, BN_CLICKED, &CallVoid<D, &D::SaveScript>),
};
const MessageMap kMap{nullptr, kEntries};

}  // namespace

RecorderDialog::RecorderDialog(Dialog* parent)
    : Dialog(kMainDialogTemplate, parent), commandRun(TheCommandRun()) {}

RecorderDialog::~RecorderDialog() = default;

const MessageMap* RecorderDialog::GetMessageMap() const { return &kMap; }

bool RecorderDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  SetIcon(icon, true);
  SetIcon(icon, false);
  recordButton = GetDlgItem(IDC_RECORD);
  playButton = GetDlgItem(IDC_PLAY);
  stopButton = GetDlgItem(IDC_STOP);
  logList = GetDlgItem(IDC_LOG);
  layeredHelper.MakeLayered(GetSafeHwnd());
  layeredHelper.SetOpacity(GetSafeHwnd(), 100);
  if (HookSet* hooks = TheHookSet()) hooks->Attach(this);
  autoPlayback = false;
  if (commandRun != nullptr) {
    SetRunningMainWindow(GetSafeHwnd());
    PrepareCommandRun();
  } else if (!settings.Load()) {
    AddLogLine("Failed to load settings from VeskSettings.auc, defaults loaded - creating.");
    settings.Save();
  }
  for (const std::string& note : Sys().Notes().StartupNotes()) AddLogLine(note);
  // Recordings a crash, a kill or Exit left behind, reported where a person
  // reads them: a command-line run leaves them for the next start.
  if (commandRun == nullptr) {
    for (const std::string& line : RecoverOrphans(Sys().Files())) AddNotice(line);
  }
  // A command-line run replaces the automatic one and takes its message.
  if (commandRun != nullptr || settings.playAtStartup != 0) {
    PostMessage(g_autoPlaybackMessage, 0, 0);
  }
  state = Stopped;
  UpdateStatus();
  return true;
}

void RecorderDialog::OnDestroy() {
  // The window may close while a journal hook runs; from here on no hook
  // call may reach it.
  if (HookSet* hooks = TheHookSet(); hooks != nullptr && hooks->owner == this) hooks->Detach();
  // Closing in the middle of a playback must not leave keys held down.
  ReleaseHeldInput(false);
  heldAtPause.Clear();
  // A task scheduler learns from the exit status that the run did not end.
  if (commandRun != nullptr) SetRunningMainWindow(0);
  if (autoRunUnfinished) SetExitStatus(unfinishedExit);
  if (commandRun != nullptr && !SignalNoted()) {
    CommandReport(autoRunUnfinished ? "the run did not finish (exit status " +
                                          std::to_string(unfinishedExit) + ")"
                                    : "played " + std::to_string(passesPlayed) + " passes");
  }
}

void RecorderDialog::AddLogLine(const std::string& text) {
  // A run of hours logs millions of lines; the oldest go, so memory stays
  // bounded and the list stays quick.
  if (logList.GetCount() >= kLogLineLimit) logList.DeleteFirst(kLogLinesTrimmed);
  logList.AddString(text);
  logList.SetCurSel(logList.GetCount() - 1);
}

void RecorderDialog::AddNotice(const std::string& text) {
  AddLogLine(text);
  Sys().Notes().Notice(text);
}

void RecorderDialog::AddComposedLine() { AddLogLine(std::string(textStream.End())); }

LResult RecorderDialog::OnPaint(WParam, LParam) {
  const WindowId w = GetSafeHwnd();
  if (!Sys().IsIconic(w)) return 0;
  int width = 0;
  int height = 0;
  Sys().GetClientSize(w, &width, &height);
  const int cxIcon = Sys().GetSystemMetrics(SM_CXICON);
  const int cyIcon = Sys().GetSystemMetrics(SM_CYICON);
  const int x = (width - cxIcon + 1) / 2;
  const int y = (height - cyIcon + 1) / 2;
  Sys().PaintIconic(w, icon, x, y);
  return 0;
}

LResult RecorderDialog::OnQueryDragIcon(WParam, LParam) { return icon; }

}  // namespace vesk
