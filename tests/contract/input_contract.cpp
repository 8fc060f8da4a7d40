// The input half of the contract every backend keeps: hooks that go in,
// come out and chain, capture of what the user does, the journal-playback
// protocol, and input sent at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/recording_sink.h"
#include "common/scripted_playback.h"
#include "contract/desk.h"

namespace vesk::testing {
namespace {

constexpr WParam kRemoved = 1;  // PM_REMOVE: the message leaves the queue

// Hook procedures are plain functions: what they see goes here.
struct Seen {
  std::vector<EVENTMSG> recorded;
  std::vector<char> order;  // which get-message hook ran, in order
  HookHandle older = 0;
  HookHandle newer = 0;
  bool newerPassesOn = true;
  Backend* backend = nullptr;
};
Seen g_seen;

LResult Record(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g_seen.recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return 0;
}
LResult OlderWatch(int code, WParam wParam, LParam lParam) {
  if (code == HC_ACTION && wParam == kRemoved) g_seen.order.push_back('o');
  return g_seen.backend->CallNextHookEx(g_seen.older, code, wParam, lParam);
}
LResult NewerWatch(int code, WParam wParam, LParam lParam) {
  if (code == HC_ACTION && wParam == kRemoved) g_seen.order.push_back('n');
  if (!g_seen.newerPassesOn) return 0;
  return g_seen.backend->CallNextHookEx(g_seen.newer, code, wParam, lParam);
}

class InputContract : public ::testing::Test {
 protected:
  InputContract() {
    g_seen = {};
    g_seen.backend = &b;
    InstallBackend(&b);
  }
  ~InputContract() override { InstallBackend(nullptr); }

  // Waits for the pointer to be at (x, y); says where it is otherwise.
  ::testing::AssertionResult PointerReaches(int x, int y) {
    int atX = 0, atY = 0;
    if (desk->WaitFor([&] {
          desk->Pointer(&atX, &atY);
          return atX == x && atY == y;
        })) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the pointer is at " << atX << "," << atY;
  }

  std::unique_ptr<Desk> desk = MakeDesk();
  Backend& b = desk->backend();
};

bool Has(const std::vector<EVENTMSG>& events, std::uint32_t message, std::uint32_t paramL,
         std::uint32_t paramH) {
  return std::any_of(events.begin(), events.end(), [&](const EVENTMSG& e) {
    return e.message == message && e.paramL == paramL && e.paramH == paramH;
  });
}

TEST_F(InputContract, HooksGoInComeOutOnceAndTheNewestIsCalledFirst) {
  RecordingSink sink;
  WindowId w = 0;
  const std::uint32_t ping = b.RegisterWindowMessage("vesk-contract-ping");
  desk->OnUi([&] {
    w = b.CreateDialogWindow(*FindDialogTemplate(kProxyDialogTemplate), 0, &sink);
    g_seen.older = b.SetWindowsHookEx(WH_GETMESSAGE, &OlderWatch);
    g_seen.newer = b.SetWindowsHookEx(WH_GETMESSAGE, &NewerWatch);
    b.PostMessage(w, ping, 0, 0);
  });
  ASSERT_NE(g_seen.older, 0u);
  ASSERT_NE(g_seen.newer, 0u);
  EXPECT_NE(g_seen.older, g_seen.newer);
  ASSERT_TRUE(desk->WaitFor([] { return g_seen.order.size() >= 2; }));
  EXPECT_EQ(g_seen.order, (std::vector<char>{'n', 'o'})) << "the newest first, then the next";

  // A procedure that does not pass the message on ends the chain there.
  g_seen.order.clear();
  g_seen.newerPassesOn = false;
  desk->OnUi([&] { b.PostMessage(w, ping, 0, 0); });
  ASSERT_TRUE(desk->WaitFor([] { return !g_seen.order.empty(); }));
  desk->Idle();
  EXPECT_EQ(g_seen.order, (std::vector<char>{'n'}));

  bool first = false, again = true, none = true;
  LResult nextOfNone = -1;
  desk->OnUi([&] {
    first = b.UnhookWindowsHookEx(g_seen.newer);
    again = b.UnhookWindowsHookEx(g_seen.newer);
    none = b.UnhookWindowsHookEx(0);
    // The older procedure is the last of its kind now: nothing comes next.
    MSG msg{};
    nextOfNone =
        b.CallNextHookEx(g_seen.older, HC_ACTION, kRemoved, reinterpret_cast<LParam>(&msg));
    b.UnhookWindowsHookEx(g_seen.older);
    b.DestroyWindow(w);
  });
  EXPECT_TRUE(first);
  EXPECT_FALSE(again);
  EXPECT_FALSE(none);
  EXPECT_EQ(nextOfNone, 0);
}

TEST_F(InputContract, TheRecordHookSeesWhatTheUserDoesAsJournalRecords) {
  HookHandle hook = 0;
  desk->OnUi([&] { hook = b.SetWindowsHookEx(WH_JOURNALRECORD, &Record); });
  ASSERT_NE(hook, 0u);
  desk->UserMove(123, 145);
  desk->UserKeyA(true);
  desk->UserKeyA(false);
  ASSERT_TRUE(desk->WaitFor([] { return Has(g_seen.recorded, WM_KEYUP, 0x1E41, 1); }));
  EXPECT_TRUE(Has(g_seen.recorded, WM_MOUSEMOVE, 123, 145));
  EXPECT_TRUE(Has(g_seen.recorded, WM_KEYDOWN, 0x1E41, 1));
  bool removed = false;
  desk->OnUi([&] { removed = b.UnhookWindowsHookEx(hook); });
  EXPECT_TRUE(removed);
  const std::size_t seen = g_seen.recorded.size();
  desk->UserMove(150, 160);
  desk->Idle();
  EXPECT_EQ(g_seen.recorded.size(), seen) << "nothing after the hook came out";
}

TEST_F(InputContract, PlaybackAsksForEachRecordWaitsReplaysItAndSkipsOn) {
  ScriptedPlayback play;
  play.records = {{{WM_MOUSEMOVE, 300, 310, 0, 0}, 5},
                  {{WM_MOUSEMOVE, 320, 330, 0, 0}, 5},
                  {{WM_MOUSEMOVE, 340, 350, 0, 0}, 5}};
  std::vector<std::size_t> due;
  play.onDue = [&](std::size_t i) { due.push_back(i); };
  desk->OnUi([&] { play.Install(b); });
  ASSERT_NE(play.self, 0u);
  ASSERT_TRUE(desk->WaitFor([&] { return play.ended; }));
  EXPECT_EQ(due, (std::vector<std::size_t>{0, 1, 2})) << "each record due once, in order";
  // GETNEXT hands a record over and is asked again when it is due; HC_SKIP
  // follows each replay; the call after the last record ends the pass.
  EXPECT_EQ(std::count(play.calls.begin(), play.calls.end(), HC_SKIP), 3);
  ASSERT_GE(play.calls.size(), 7u);
  EXPECT_EQ(play.calls.front(), HC_GETNEXT);
  EXPECT_EQ(play.calls.back(), HC_GETNEXT);
  for (std::size_t i = 1; i < play.calls.size(); ++i) {
    if (play.calls[i] == HC_SKIP) {
      EXPECT_EQ(play.calls[i - 1], HC_GETNEXT) << i;
    }
  }
  EXPECT_TRUE(PointerReaches(340, 350));
}

TEST_F(InputContract, InputSentAtOnceIsCountedAndSkipsWhatIsNotInput) {
  // After a playback, as the program sends it (a remote input session is
  // only granted for a playback).
  ScriptedPlayback play;
  play.records = {{{WM_MOUSEMOVE, 190, 200, 0, 0}, 1}};
  desk->OnUi([&] { play.Install(b); });
  ASSERT_TRUE(desk->WaitFor([&] { return play.ended; }));
  std::uint32_t sent = 99, none = 99;
  desk->OnUi([&] {
    sent = b.SendInput({{WM_MOUSEMOVE, 200, 210, 0, 0}, {0x9999, 0, 0, 0, 0}});
    none = b.SendInput({});
  });
  EXPECT_EQ(sent, 1u) << "a message that is no input is neither sent nor counted";
  EXPECT_EQ(none, 0u);
  EXPECT_TRUE(PointerReaches(200, 210));
}

}  // namespace
}  // namespace vesk::testing
