// The Windows rules every backend shares: the hook chain, the playback
// protocol driver, posted and registered messages.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/winapi/hook_chain.h"
#include "platform/winapi/message_queue.h"
#include "platform/winapi/playback_driver.h"

namespace vesk::winapi {
namespace {

std::string g_calls;
LResult Older(int, WParam, LParam) { return g_calls += "older ", 1; }
LResult Other(int, WParam, LParam) { return g_calls += "other ", 2; }

TEST(HookChain, CallNextWalksFromNewestToOldestOfTheKindAndStaleHandlesDoNothing) {
  HookChain chain(0x10);
  std::vector<int> gone;
  chain.OnLastRemoved([&](int kind) { gone.push_back(kind); });
  const HookHandle oldest = chain.Install(WH_GETMESSAGE, &Older);
  chain.Install(WH_KEYBOARD_LL, &Other);
  const HookHandle middle = chain.Install(WH_GETMESSAGE, &Other);
  const HookHandle newest = chain.Install(WH_GETMESSAGE, &Other);
  EXPECT_EQ(chain.Install(WH_GETMESSAGE, nullptr), 0u);
  EXPECT_TRUE(chain.Remove(middle));
  g_calls.clear();
  EXPECT_EQ(chain.CallNext(newest, HC_ACTION, 0, 0), 1);  // past the removed one
  EXPECT_EQ(g_calls, "older ");
  EXPECT_EQ(chain.CallNext(oldest, HC_ACTION, 0, 0), 0);  // the end
  EXPECT_FALSE(chain.Remove(middle));
  EXPECT_FALSE(chain.Remove(0));
  EXPECT_TRUE(gone.empty());
  EXPECT_TRUE(chain.Remove(newest));
  EXPECT_EQ(chain.First(WH_GETMESSAGE)->handle, oldest);
  EXPECT_TRUE(chain.Remove(oldest));
  EXPECT_EQ(gone, std::vector<int>{WH_GETMESSAGE});
  EXPECT_NE(chain.First(WH_KEYBOARD_LL), nullptr);
}

TEST(MessageQueue, NamesKeepTheirNumbersAndADestroyedWindowsMessagesGo) {
  MessageQueue q;
  const std::uint32_t a = q.Register("a");
  EXPECT_GE(a, WM_REGISTERED_FIRST);
  EXPECT_NE(q.Register("b"), a);
  EXPECT_EQ(q.Register("a"), a);
  q.Post(1, 10, 0, 0);
  q.Post(2, 11, 0, 0);
  q.Post(1, 12, 0, 0);
  q.Post(3, 13, 0, 0);
  q.Forget(1);
  EXPECT_EQ(q.Take()->message, 11u);
  EXPECT_EQ(q.Take()->message, 13u);
  EXPECT_FALSE(q.Take().has_value());
}

// A playback hook answering from a script, on a clock the test moves.
class Scripted : public PlaybackDriver::Host {
 public:
  HookHandle PlaybackHook() override { return hook; }
  LResult CallPlaybackHook(int code, EVENTMSG* e) override {
    if (code == HC_SKIP) return skips++, 0;
    ++asks;
    const LResult answer = answers.empty() ? 0 : answers.front();
    if (!answers.empty()) answers.pop_front();
    if (removeOnAsk) hook = 0;
    e->message = static_cast<std::uint32_t>(asks);
    return answer;
  }
  std::uint64_t NowNs() override { return now; }
  void WakeAt(std::uint64_t ns) override { wakes.push_back(ns); }
  bool Process(const EVENTMSG& e) override { return processed.push_back(e.message), true; }

  HookHandle hook = 7;
  std::deque<LResult> answers;
  bool removeOnAsk = false;
  std::uint64_t now = 1'000'000'000;
  int asks = 0, skips = 0;
  std::vector<std::uint32_t> processed;
  std::vector<std::uint64_t> wakes;
};

TEST(PlaybackDriver, WaitsFromTheAskThenAsksAgainBeforeProcessing) {
  Scripted host;
  PlaybackDriver driver(host, 64);
  host.answers = {5, 2};
  EXPECT_TRUE(driver.Drive());
  EXPECT_EQ(host.wakes.back(), host.now + 5'000'000);
  host.now += 4'000'000;  // woken early: nothing is asked
  EXPECT_FALSE(driver.Drive());
  EXPECT_EQ(host.asks, 1);
  host.now += 1'000'000;
  driver.Drive();  // asked again: 2 ms still left, counted from this ask
  EXPECT_EQ(host.wakes.back(), host.now + 2'000'000);
  host.now += 2'000'000;
  host.answers = {0, 9};
  driver.Drive();
  EXPECT_EQ(host.processed, std::vector<std::uint32_t>{3});
  EXPECT_EQ(host.skips, 1);
}

TEST(PlaybackDriver, AJournalOfZeroWaitsYieldsAfterABatch) {
  Scripted host;
  PlaybackDriver driver(host, 4);
  EXPECT_TRUE(driver.Drive());
  EXPECT_EQ(host.processed.size(), 4u);
  EXPECT_EQ(host.wakes.back(), host.now);  // at once, after the caller's loop ran
}

TEST(PlaybackDriver, AnAnswerFromAHookThatRemovedItselfDoesNotCount) {
  Scripted host;
  PlaybackDriver driver(host, 64);
  host.removeOnAsk = true;
  EXPECT_TRUE(driver.Drive());
  EXPECT_TRUE(host.processed.empty());
  EXPECT_EQ(host.skips, 0);
  EXPECT_FALSE(driver.Waiting());
  EXPECT_FALSE(driver.Drive());  // no hook: nothing asked
}

}  // namespace
}  // namespace vesk::winapi
