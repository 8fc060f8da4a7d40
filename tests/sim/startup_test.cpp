// Start-up: settings read or made, the main window and its hooks, the
// automatic playback and the ways the program ends without saving.
#include "harness.h"

#include "platform/types.h"
#include "storage/settings.h"

namespace vesk::testing {
namespace {

const std::string kDefaultSettings("\x01\x00\x00\x00\x00\x01\x0FVeskJournal.alg", 22);
constexpr const char* kFailLine =
    "Failed to load settings from VeskSettings.auc, defaults loaded - creating.";

TEST(Startup, WithoutSettingsFileLogsFailureFirstAndCreatesDefaults) {
  SimProgram p;
  p.Start();
  ASSERT_NE(p.main, 0u);
  const auto log = p.Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), kFailLine);
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(ReadFile("VeskSettings.auc"), kDefaultSettings);
  EXPECT_EQ(p.Title(), "STOPPED - (Vesk)");
  // No automatic playback: nothing but the failure line, and no wait.
  p.sim.Settle();
  EXPECT_EQ(p.Log().size(), 1u);
}

TEST(Startup, MainWindowIsTopmostLayeredOpaqueAndOwnedByTheHiddenProxy) {
  SimProgram p;
  p.Start();
  auto& w = p.Main();
  EXPECT_TRUE(w.visible);
  EXPECT_NE(w.exStyle & WS_EX_TOPMOST, 0u);
  EXPECT_NE(w.exStyle & WS_EX_LAYERED, 0u);
  EXPECT_EQ(w.alpha, 255);
  EXPECT_EQ(w.bigIcon, kAppIcon);
  EXPECT_EQ(w.smallIcon, kAppIcon);
  const WindowId proxy = p.sim.FindWindow(kProxyDialogTemplate);
  ASSERT_NE(proxy, 0u);
  EXPECT_EQ(w.parent, proxy);
  EXPECT_FALSE(p.sim.Window(proxy)->visible);
  EXPECT_EQ(p.sim.Window(proxy)->title, "Proxy Dialog (Vesk) - Invisible");
}

TEST(Startup, WatchHooksAreInstalledForTheProgramsLife) {
  SimProgram p;
  p.Start();
  EXPECT_TRUE(p.sim.HookInstalled(WH_GETMESSAGE));
  EXPECT_TRUE(p.sim.HookInstalled(WH_KEYBOARD_LL));
  EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALRECORD));
  EXPECT_FALSE(p.sim.HookInstalled(WH_JOURNALPLAYBACK));
  p.sim.PressEscape();
  ASSERT_FALSE(p.Running());
  EXPECT_FALSE(p.sim.HookInstalled(WH_GETMESSAGE));
  EXPECT_FALSE(p.sim.HookInstalled(WH_KEYBOARD_LL));
}

TEST(Startup, EscapeCloseBoxAndExitEndTheProgramWithoutSaving) {
  for (int way = 0; way < 3; ++way) {
    SimProgram p;
    p.Start();
    ASSERT_TRUE(p.Running());
    std::filesystem::remove("VeskSettings.auc");
    if (way == 0) p.sim.PressEscape();
    if (way == 1) p.sim.CloseBox(p.main);
    if (way == 2) p.sim.Click(p.main, IDC_EXIT);
    EXPECT_FALSE(p.Running()) << way;
    EXPECT_EQ(p.exitCode, 0);
    EXPECT_FALSE(std::filesystem::exists("VeskSettings.auc")) << "nothing is saved on the way out";
  }
}

TEST(Startup, EnterActivatesSaveBasic) {
  SimProgram p;
  p.Start();
  p.sim.AnswerFileDialog(std::nullopt);
  p.sim.PressEnter();
  ASSERT_EQ(p.sim.FileDialogs().size(), 1u);
  EXPECT_EQ(p.sim.FileDialogs()[0].title, "Save script as:");
  EXPECT_TRUE(p.Running());
}

TEST(Startup, PlayAtStartupPostsExactlyOneAutomaticPlaybackAfterInitialisation) {
  SimProgram p;
  VeskSettings s;
  s.playAtStartup = 1;
  s.defaultJournalPath = "";  // the handler then stops after its notice
  ASSERT_TRUE(s.Save());
  p.Start();
  const auto log = p.Log();
  ASSERT_GE(log.size(), 10u);
  EXPECT_EQ(log[0], "             ATTENTION !!!");
  EXPECT_EQ(log[9], "Auto Playback Started");
  EXPECT_EQ(log.size(), 10u);
  // The message was handled after the window showed Stopped.
  EXPECT_EQ(p.Title(), "STOPPED - (Vesk)");
  p.sim.Settle();
  EXPECT_EQ(p.Log().size(), 10u);
  EXPECT_EQ(std::count(log.begin(), log.end(), "Auto Playback Started"), 1);
}

TEST(Startup, MinimisedWindowPaintsTheIconCentred) {
  SimProgram p;
  p.Start();
  p.sim.Minimise(p.main);
  int w = 0, h = 0;
  p.sim.GetClientSize(p.main, &w, &h);
  EXPECT_EQ(p.Main().iconX, (w - 32 + 1) / 2);
  EXPECT_EQ(p.Main().iconY, (h - 32 + 1) / 2);
}

TEST(Startup, ADamagedSettingsFileIsReportedAndRewritten) {
  SimProgram p;
  WriteFile("VeskSettings.auc", std::string("\x05\x00\x00", 3));
  p.Start();
  EXPECT_EQ(p.Log().front(),
            "Failed to load settings from VeskSettings.auc, defaults loaded - creating.");
  VeskSettings reread;
  ASSERT_TRUE(reread.Load()) << "the file was rewritten whole";
  EXPECT_EQ(reread.repeatCount, 1);
  EXPECT_EQ(reread.defaultJournalPath, "VeskJournal.alg");
}

}  // namespace
}  // namespace vesk::testing
