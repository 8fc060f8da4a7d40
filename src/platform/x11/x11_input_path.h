// The X server's input as an input path: capture through RECORD, the
// Ctrl+Break grab and replay through XTEST.
#pragma once

#include "platform/input_path.h"
#include "platform/x11/x11_input.h"

namespace vesk::x11 {

class X11InputPath : public InputPath {
 public:
  // Connects to the X server at once.
  X11InputPath();

  void SetCallbacks(Callbacks callbacks) override;
  bool StartCapture() override { return input_.StartRecording(); }
  void StopCapture() override { input_.StopRecording(); }
  bool GrabBreak() override { return input_.GrabBreak(); }
  void UngrabBreak() override { input_.UngrabBreak(); }
  void Suspend(bool suspend) override { input_.Suspend(suspend); }
  std::int64_t ClockOffsetMs() const override { return input_.ServerTimeOffset(); }
  Injector& Replay() override { return input_; }
  void PrepareReplay(std::function<void()> ready) override { ready(); }
  std::vector<std::string> StartupNotes() override { return {}; }
  std::string InputPathNote(bool) override { return {}; }

  X11Input& Server() { return input_; }

 private:
  X11Input input_;
};

}  // namespace vesk::x11
