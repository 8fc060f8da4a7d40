// Key names for the script export, looked up under the named lock all instances share.
#include <gtest/gtest.h>

#include <set>

#include "platform/sim/sim_desktop.h"
#include "script/key_names.h"

namespace vesk {
namespace {

class KeyNames : public ::testing::Test {
 protected:
  KeyNames() {
    InstallBackend(&sim);
    TheKeyboardState() = {};
  }
  ~KeyNames() override {
    CloseKeyNameLock();
    InstallBackend(nullptr);
  }
  std::string Name(std::uint32_t code, bool down = true) {
    return getKeyCodeString(code, down).value_or("<none>");
  }
  sim::SimDesktop sim;
};

TEST_F(KeyNames, TableHas153UniqueRowsAndAClosingRow) {
  const auto table = KeyNameTable();
  ASSERT_EQ(table.size(), 154u);
  EXPECT_EQ(table.back().code, 0u);
  std::set<std::uint32_t> codes;
  for (std::size_t i = 0; i + 1 < table.size(); ++i) {
    EXPECT_NE(table[i].code, 0u);
    EXPECT_TRUE(codes.insert(table[i].code).second) << std::hex << table[i].code;
  }
}

TEST_F(KeyNames, ShiftAndCapsLockDecideTheCase) {
  EXPECT_EQ(Name(0x1E41), "a");
  Name(0x2A10, true);  // left Shift down
  EXPECT_EQ(Name(0x1E41), "A");
  Name(0x2A10, false);
  EXPECT_EQ(Name(0x1E41), "a");
  EXPECT_EQ(Name(0x3A14, true), "CAPSLOCK");  // flips in the same call
  Name(0x3A14, false);
  EXPECT_EQ(Name(0x1E41), "A");
  Name(0x3610, true);  // right Shift with Caps Lock: small again
  EXPECT_EQ(Name(0x1E41), "a");
  Name(0x3610, false);
  Name(0x3A14, true);
  Name(0x3A14, true);  // two downs without an up flip twice
  EXPECT_EQ(Name(0x1E41), "A");
}

TEST_F(KeyNames, BothShiftKeysDriveOneFlag) {
  EXPECT_EQ(Name(0x2A10, true), "LSHIFT");
  EXPECT_EQ(Name(0x3610, true), "RSHIFT");
  Name(0x3610, false);  // left still held, but the flag follows the last event
  EXPECT_EQ(Name(0x1E41), "a");
}

TEST_F(KeyNames, SmallLettersDigitsAndBracedNamesNeverChange) {
  Name(0x2A10, true);
  EXPECT_EQ(Name(0x1E61), "a");
  EXPECT_EQ(Name(0x0231), "1");
  for (auto [code, name] : {std::pair{0x0221u, "{!}"},
                            {0x0423u, "{#}"},
                            {0x0D2Bu, "{+}"},
                            {0x075Eu, "{^}"},
                            {0x1A7Bu, "{{}"},
                            {0x1B7Du, "{}}"}}) {
    EXPECT_EQ(Name(code), name);
  }
  Name(0x2A10, false);
  EXPECT_EQ(Name(0x1E61), "a");
  EXPECT_EQ(Name(0x2827), "''");
}

TEST_F(KeyNames, CodeFormsAndKeysWithoutNames) {
  EXPECT_EQ(Name(0x3B00), "F1");
  EXPECT_EQ(Name(0x3B70), "<none>");  // F1 as Windows reports it
  EXPECT_EQ(Name(0), "<none>");
  EXPECT_EQ(Name(0x11E41), "<none>");  // a bit above bit 15
  EXPECT_EQ(Name(0x4C0C), "NUMPAD5");
  EXPECT_EQ(Name(0x4C65), "NUMPAD5");
  EXPECT_EQ(Name(0x4D66), "NUMPAD6");
  EXPECT_EQ(Name(0x5122), "PGDN");
  EXPECT_EQ(Name(0x5100), "PGDN");
  EXPECT_EQ(Name(0x4826), "UP");
  EXPECT_EQ(Name(0x1D11), "LCTRL");
  EXPECT_EQ(Name(0x8600), "F12");
}

TEST_F(KeyNames, LookupRunsUnderTheNamedLockAndWithoutItWhenItCannotBeHad) {
  EXPECT_EQ(Name(0x1E41), "a");
  EXPECT_EQ(sim.MutexWaits(), 1);
  EXPECT_EQ(sim.LastWaitTimeout(), 5000u);
  sim.HoldMutexElsewhere("getKeyCodeStringMutex", true);
  const auto before = sim.Now();
  EXPECT_EQ(Name(0x2A10, true), "LSHIFT");
  EXPECT_EQ(sim.Now() - before, 5000u);  // waited the full time, then went on
  EXPECT_EQ(Name(0x1E41), "A");          // the state still followed
  EXPECT_EQ(sim.MutexWaits(), 3);
}

TEST_F(KeyNames, NoMutexAtAllStillNamesKeys) {
  sim.FailMutexCreation(true);
  EXPECT_EQ(Name(0x1C0D), "ENTER");
  EXPECT_EQ(sim.MutexWaits(), 0);
}

TEST_F(KeyNames, AFailedOpenOfTheLockIsTriedAgainAtTheNextLookup) {
  sim.FailMutexCreation(true);
  EXPECT_EQ(Name(0x1E41), "a");
  EXPECT_EQ(sim.MutexWaits(), 0);
  sim.FailMutexCreation(false);
  EXPECT_EQ(Name(0x1E41), "a");
  EXPECT_EQ(sim.MutexWaits(), 1);
}

TEST_F(KeyNames, ALockWhoseHolderDiedIsOwnedAndReleased) {
  sim.AbandonMutex("getKeyCodeStringMutex");
  EXPECT_EQ(Name(0x1E41), "a");
  EXPECT_EQ(sim.MutexWaits(), 1);
  EXPECT_EQ(sim.MutexOwnCount("getKeyCodeStringMutex"), 0) << "released after the lookup";
}

}  // namespace
}  // namespace vesk
