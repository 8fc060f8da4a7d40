// The window half of the contract every backend keeps: windows built from
// the dialog templates, controls reached by identifier, modal runs that
// nest, and posted and registered messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "common/recording_sink.h"
#include "contract/desk.h"

namespace vesk::testing {
namespace {

class WindowContract : public ::testing::Test {
 protected:
  WindowContract() { InstallBackend(&b); }
  ~WindowContract() override { InstallBackend(nullptr); }

  WindowId Make(int templateId, RecordingSink& sink, WindowId parent = 0) {
    WindowId w = 0;
    desk->OnUi([&] { w = b.CreateDialogWindow(*FindDialogTemplate(templateId), parent, &sink); });
    EXPECT_NE(w, 0u);
    return w;
  }
  void Destroy(WindowId w) {
    desk->OnUi([&] { b.DestroyWindow(w); });
  }

  std::unique_ptr<Desk> desk = MakeDesk();
  Backend& b = desk->backend();
};

TEST_F(WindowContract, ATemplateBuildsEveryControlWithItsText) {
  RecordingSink sink;
  const WindowId w = Make(kSettingsDialogTemplate, sink);
  const DialogTemplate& t = *FindDialogTemplate(kSettingsDialogTemplate);
  EXPECT_EQ(b.GetWindowText(w), t.caption);
  for (const ControlTemplate& c : t.controls) {
    if (c.id == -1) continue;
    SCOPED_TRACE(c.id);
    EXPECT_TRUE(b.HasControl(w, c.id));
    const bool captioned = c.kind == ControlKind::PushButton || c.kind == ControlKind::CheckBox ||
                           c.kind == ControlKind::RadioButton || c.kind == ControlKind::StaticText;
    if (captioned) {
      EXPECT_EQ(b.GetControlText(w, c.id), c.text);
    }
  }
  EXPECT_FALSE(b.HasControl(w, 4242));
  int width = 0, height = 0;
  b.GetClientSize(w, &width, &height);
  EXPECT_GT(width, 0);
  EXPECT_GT(height, 0);
  b.SetWindowText(w, "Another title");
  EXPECT_EQ(b.GetWindowText(w), "Another title");
  Destroy(w);
}

TEST_F(WindowContract, ControlsAreReachedByIdentifier) {
  RecordingSink sink;
  const WindowId w = Make(kSettingsDialogTemplate, sink);
  b.SetCheck(w, IDC_PLAY_AT_STARTUP, true);
  EXPECT_TRUE(b.GetCheck(w, IDC_PLAY_AT_STARTUP));
  b.SetCheck(w, IDC_PLAY_AT_STARTUP, false);
  EXPECT_FALSE(b.GetCheck(w, IDC_PLAY_AT_STARTUP));
  b.EnableControl(w, IDC_APPLY, false);
  EXPECT_FALSE(b.IsControlEnabled(w, IDC_APPLY));
  b.EnableControl(w, IDC_APPLY, true);
  EXPECT_TRUE(b.IsControlEnabled(w, IDC_APPLY));
  b.SetControlText(w, IDC_BROWSE, "Find...");
  EXPECT_EQ(b.GetControlText(w, IDC_BROWSE), "Find...");
  // A program's edit text notifies at once.
  b.SetControlText(w, IDC_JOURNAL_PATH, "a.alg");
  EXPECT_EQ(b.GetControlText(w, IDC_JOURNAL_PATH), "a.alg");
  EXPECT_TRUE(sink.Has(WM_COMMAND, MakeCommandWParam(IDC_JOURNAL_PATH, EN_CHANGE)));

  // Identifiers the window does not have change nothing and read as empty.
  b.SetCheck(w, 4242, true);
  EXPECT_FALSE(b.GetCheck(w, 4242));
  EXPECT_EQ(b.GetControlText(w, 4242), "");
  EXPECT_EQ(b.ListAddString(w, 4242, "x"), -1);
  EXPECT_EQ(b.ListGetCount(w, 4242), 0);
  EXPECT_EQ(b.UpDownGetPos(w, 4242), 0);
  Destroy(w);
}

TEST_F(WindowContract, AnUpDownWritesItsBuddyWhichNotifiesAndKeepsToItsRange) {
  RecordingSink sink;
  const WindowId w = Make(kSettingsDialogTemplate, sink);
  b.UpDownSetRange(w, IDC_REPEAT_SPIN, 1, 999);
  b.UpDownSetPos(w, IDC_REPEAT_SPIN, 5);
  EXPECT_EQ(b.UpDownGetPos(w, IDC_REPEAT_SPIN), 5);
  EXPECT_EQ(b.GetControlText(w, IDC_REPEAT_COUNT), "5");
  EXPECT_TRUE(sink.Has(WM_COMMAND, MakeCommandWParam(IDC_REPEAT_COUNT, EN_CHANGE)));
  b.UpDownSetPos(w, IDC_REPEAT_SPIN, 5000);
  EXPECT_EQ(b.UpDownGetPos(w, IDC_REPEAT_SPIN), 999);
  EXPECT_EQ(b.GetControlText(w, IDC_REPEAT_COUNT), "999");
  Destroy(w);
}

TEST_F(WindowContract, AListKeepsLinesInOrderAndSelectsByIndex) {
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  EXPECT_EQ(b.ListAddString(w, IDC_LOG, "first"), 0);
  EXPECT_EQ(b.ListAddString(w, IDC_LOG, ""), 1);
  EXPECT_EQ(b.ListAddString(w, IDC_LOG, "third line"), 2);
  EXPECT_EQ(b.ListGetCount(w, IDC_LOG), 3);
  EXPECT_EQ(b.ListGetText(w, IDC_LOG, 2), "third line");
  EXPECT_EQ(b.ListGetText(w, IDC_LOG, 1), "");
  EXPECT_EQ(b.ListGetText(w, IDC_LOG, 3), "");
  EXPECT_EQ(b.ListGetText(w, IDC_LOG, -1), "");
  b.ListSetCurSel(w, IDC_LOG, 2);
  EXPECT_EQ(b.ListGetCurSel(w, IDC_LOG), 2);
  b.ListSetCurSel(w, IDC_LOG, -1);
  EXPECT_EQ(b.ListGetCurSel(w, IDC_LOG), -1);
  b.ListDeleteFirst(w, IDC_LOG, 2);
  EXPECT_EQ(b.ListGetCount(w, IDC_LOG), 1);
  EXPECT_EQ(b.ListGetText(w, IDC_LOG, 0), "third line");
  b.ListDeleteFirst(w, IDC_LOG, 5);
  EXPECT_EQ(b.ListGetCount(w, IDC_LOG), 0);
  Destroy(w);
}

TEST_F(WindowContract, TheExtendedStyleIsReadAndWrittenWithThePreviousValueReturned) {
  RecordingSink sink;
  const WindowId w = Make(kSettingsDialogTemplate, sink);
  const std::uint32_t before = b.GetWindowLong(w, GWL_EXSTYLE);
  EXPECT_EQ(before & WS_EX_LAYERED, 0u);
  EXPECT_EQ(b.SetWindowLong(w, GWL_EXSTYLE, before | WS_EX_LAYERED), before);
  EXPECT_NE(b.GetWindowLong(w, GWL_EXSTYLE) & WS_EX_LAYERED, 0u);
  Destroy(w);
}

TEST_F(WindowContract, ModalRunsNestAndEndInOrder) {
  RecordingSink outerSink;
  RecordingSink innerSink;
  const WindowId outer = Make(kProxyDialogTemplate, outerSink);
  const WindowId inner = Make(kProxyDialogTemplate, innerSink, outer);
  const std::uint32_t go = b.RegisterWindowMessage("vesk-contract-go");
  int innerResult = 0;
  outerSink.onMessage = [&](std::uint32_t message, WParam, LParam) -> LResult {
    if (message != go) return 0;
    b.PostMessage(inner, WM_CLOSE, 0, 0);
    innerResult = b.RunModalLoop(inner);
    b.EndModalLoop(outer, 7);
    return 0;
  };
  innerSink.onMessage = [&](std::uint32_t message, WParam, LParam) -> LResult {
    if (message == WM_CLOSE) b.EndModalLoop(inner, 3);
    return 0;
  };
  int outerResult = 0;
  desk->OnUi([&] {
    b.PostMessage(outer, go, 0, 0);
    outerResult = b.RunModalLoop(outer);
  });
  EXPECT_EQ(outerResult, 7);
  EXPECT_EQ(innerResult, 3);

  // Ended before its run starts: the run returns at once.
  int early = 0;
  desk->OnUi([&] {
    b.EndModalLoop(inner, 9);
    early = b.RunModalLoop(inner);
  });
  EXPECT_EQ(early, 9);
  Destroy(inner);
  Destroy(outer);
}

TEST_F(WindowContract, RegisteredMessagesArePostedInOrderAndNotToAWindowThatIsGone) {
  RecordingSink sink;
  const WindowId w = Make(kProxyDialogTemplate, sink);
  const std::uint32_t a = b.RegisterWindowMessage("vesk-contract-a");
  const std::uint32_t c = b.RegisterWindowMessage("vesk-contract-c");
  EXPECT_GE(a, WM_REGISTERED_FIRST);
  EXPECT_GE(c, WM_REGISTERED_FIRST);
  EXPECT_NE(a, c);
  EXPECT_EQ(b.RegisterWindowMessage("vesk-contract-a"), a);
  desk->OnUi([&] {
    EXPECT_TRUE(b.PostMessage(w, a, 1, 2));
    EXPECT_TRUE(b.PostMessage(w, c, 3, 4));
    EXPECT_TRUE(b.PostMessage(w, a, 5, 6));
  });
  ASSERT_TRUE(desk->WaitFor([&] { return sink.got.size() >= 3; }));
  EXPECT_EQ(sink.got, (std::vector<Message>{{a, 1, 2}, {c, 3, 4}, {a, 5, 6}}));
  Destroy(w);
  bool posted = true;
  desk->OnUi([&] { posted = b.PostMessage(w, a, 0, 0); });
  EXPECT_FALSE(posted);
}

}  // namespace
}  // namespace vesk::testing
