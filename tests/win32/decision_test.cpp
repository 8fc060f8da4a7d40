// What Wine cannot show — Windows 10 without administrator rights, an
// elevated window in front, a locked session, the secure desktop — decided
// from the facts alone.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/win32/system_checks.h"

#include <wtsapi32.h>

namespace vesk::testing {
namespace {

using win32::CancelCause;
using win32::ChooseInputPath;
using win32::JournalMode;
using win32::SystemFacts;

SystemFacts Windows(DWORD build, bool elevated, bool uiAccess = false) {
  SystemFacts f;
  f.major = 10;
  f.build = build;
  f.elevated = elevated;
  f.uiAccess = uiAccess;
  return f;
}

TEST(Decision, JournalHooksOnlyWhereWindowsStillGivesThemToThisProgram) {
  // Windows 10 as most people run it: no administrator rights.
  const auto plain = ChooseInputPath(JournalMode::Automatic, Windows(19045, false));
  EXPECT_TRUE(plain.lowLevel);
  EXPECT_EQ(plain.note, "Input: low-level hooks (journal hooks need administrator rights).");
  const auto admin = ChooseInputPath(JournalMode::Automatic, Windows(19045, true));
  EXPECT_FALSE(admin.lowLevel);
  EXPECT_EQ(admin.note, "Input: journal hooks (running as administrator).");
  EXPECT_FALSE(ChooseInputPath(JournalMode::Automatic, Windows(19045, false, true)).lowLevel);
  // Windows 11 has none, administrator or not.
  const auto eleven = ChooseInputPath(JournalMode::Automatic, Windows(22000, true));
  EXPECT_TRUE(eleven.lowLevel);
  EXPECT_EQ(eleven.note, "Input: low-level hooks (Windows 11 has no journal hooks).");
  SystemFacts future = Windows(100, true);
  future.major = 11;
  EXPECT_TRUE(ChooseInputPath(JournalMode::Automatic, future).lowLevel);
  SystemFacts wine = Windows(19045, true);
  wine.wine = true;
  EXPECT_TRUE(ChooseInputPath(JournalMode::Automatic, wine).lowLevel);
  // A forced mode is obeyed and said plainly.
  EXPECT_FALSE(ChooseInputPath(JournalMode::System, Windows(22631, false)).lowLevel);
  EXPECT_TRUE(ChooseInputPath(JournalMode::LowLevel, Windows(19045, true)).lowLevel);
}

TEST(Decision, InjectionIntoAnElevatedWindowOrAForeignDesktopIsRefusedBeforeSending) {
  win32::InjectionFacts facts;
  facts.ownIntegrity = SECURITY_MANDATORY_MEDIUM_RID;
  facts.foregroundIntegrity = SECURITY_MANDATORY_MEDIUM_RID;
  EXPECT_EQ(win32::JudgeInjection(facts), std::nullopt);
  facts.foregroundIntegrity = std::nullopt;  // nothing in front
  EXPECT_EQ(win32::JudgeInjection(facts), std::nullopt);
  facts.foregroundIntegrity = SECURITY_MANDATORY_LOW_RID;  // a sandboxed browser
  EXPECT_EQ(win32::JudgeInjection(facts), std::nullopt);
  facts.foregroundIntegrity = SECURITY_MANDATORY_HIGH_RID;  // an administrator's window
  EXPECT_EQ(win32::JudgeInjection(facts), CancelCause::ElevatedWindow);
  EXPECT_EQ(win32::CancelReasonText(CancelCause::ElevatedWindow),
            "Cannot send input to an elevated window; run Vesk as administrator to automate it.");
  facts.ownIntegrity = SECURITY_MANDATORY_HIGH_RID;  // run as administrator: fine
  EXPECT_EQ(win32::JudgeInjection(facts), std::nullopt);
  facts.foregroundIntegrity = SECURITY_MANDATORY_SYSTEM_RID;
  EXPECT_EQ(win32::JudgeInjection(facts), CancelCause::ElevatedWindow);
  // The lock screen or a session without a screen comes first.
  facts.inputDesktopOurs = false;
  EXPECT_EQ(win32::JudgeInjection(facts), CancelCause::DesktopCannotTakeInput);
}

TEST(Decision, TheRefusalFollowsTheEventMouseToTheWindowUnderThePointerKeysToTheOneInFront) {
  win32::InjectionFacts facts;
  // Task Manager in front, the clicks aim at an ordinary window behind it.
  facts.foregroundIntegrity = SECURITY_MANDATORY_HIGH_RID;
  facts.pointerIntegrity = SECURITY_MANDATORY_MEDIUM_RID;
  facts.mouse = true;
  EXPECT_EQ(win32::JudgeInjection(facts), std::nullopt);
  facts.mouse = false;
  EXPECT_EQ(win32::JudgeInjection(facts), CancelCause::ElevatedWindow);
  // An ordinary window in front, a click on an elevated one in the background.
  facts.foregroundIntegrity = SECURITY_MANDATORY_MEDIUM_RID;
  facts.pointerIntegrity = SECURITY_MANDATORY_HIGH_RID;
  EXPECT_EQ(win32::JudgeInjection(facts), std::nullopt);
  facts.mouse = true;
  EXPECT_EQ(win32::JudgeInjection(facts), CancelCause::ElevatedWindow);
}

TEST(Decision, FewerEventsInjectedThanAskedCancelsWithTheBestReasonAtHand) {
  win32::InjectionFacts facts;
  facts.asked = 3;
  facts.sent = 3;
  EXPECT_EQ(win32::JudgeInjection(facts), std::nullopt);
  facts.sent = 1;
  EXPECT_EQ(win32::JudgeInjection(facts), CancelCause::InjectionRefused);
  facts.foregroundIntegrity = SECURITY_MANDATORY_HIGH_RID;
  EXPECT_EQ(win32::JudgeInjection(facts), CancelCause::ElevatedWindow);
  facts.inputDesktopOurs = false;
  EXPECT_EQ(win32::JudgeInjection(facts), CancelCause::DesktopCannotTakeInput);
}

TEST(Decision, LocksDisconnectsAndLogOffsTakeTheDesktopAwayOthersDoNot) {
  for (const WPARAM away : std::initializer_list<WPARAM>{
           WTS_SESSION_LOCK, WTS_CONSOLE_DISCONNECT, WTS_REMOTE_DISCONNECT, WTS_SESSION_LOGOFF}) {
    EXPECT_EQ(win32::CauseForSessionChange(away), CancelCause::SessionLocked) << away;
  }
  for (const WPARAM back :
       std::initializer_list<WPARAM>{WTS_SESSION_UNLOCK, WTS_CONSOLE_CONNECT, WTS_SESSION_LOGON,
                                     WTS_SESSION_REMOTE_CONTROL}) {
    EXPECT_EQ(win32::CauseForSessionChange(back), std::nullopt) << back;
  }
}

TEST(Decision, EveryCauseHasItsOwnLine) {
  const CancelCause all[] = {CancelCause::CtrlEsc,
                             CancelCause::DesktopSwitch,
                             CancelCause::SessionLocked,
                             CancelCause::HookTimeout,
                             CancelCause::ElevatedWindow,
                             CancelCause::InjectionRefused,
                             CancelCause::DesktopCannotTakeInput,
                             CancelCause::SystemJournal};
  std::set<std::string> lines;
  for (const CancelCause c : all) {
    const std::string line = win32::CancelReasonText(c);
    EXPECT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '.');
    lines.insert(line);
  }
  EXPECT_EQ(lines.size(), std::size(all));
}

}  // namespace
}  // namespace vesk::testing
