// Unit tests of the layered-window helper.
#include <gtest/gtest.h>

#include "platform/sim/sim_desktop.h"
#include "ui/layered_window_helper.h"

namespace vesk {
namespace {

class Layered : public ::testing::Test {
 protected:
  Layered() {
    InstallBackend(&sim);
    window = sim.CreateDialogWindow(*FindDialogTemplate(kMainDialogTemplate), 0, nullptr);
  }
  ~Layered() override { InstallBackend(nullptr); }
  sim::SimDesktop sim;
  WindowId window = 0;
};

TEST_F(Layered, MakeLayeredAddsOnlyTheLayeredBit) {
  LayeredWindowHelper h;
  sim.SetWindowLong(window, GWL_EXSTYLE, WS_EX_TOPMOST | WS_EX_TRANSPARENT);
  EXPECT_EQ(h.MakeLayered(window), WS_EX_TOPMOST | WS_EX_TRANSPARENT);
  EXPECT_EQ(sim.GetWindowLong(window, GWL_EXSTYLE),
            WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_LAYERED);
  h.MakeLayered(window);
  EXPECT_EQ(sim.GetWindowLong(window, GWL_EXSTYLE),
            WS_EX_TOPMOST | WS_EX_TRANSPARENT | WS_EX_LAYERED);
}

TEST_F(Layered, PercentToAlpha) {
  LayeredWindowHelper h;
  h.MakeLayered(window);
  const std::pair<int, int> table[] = {{100, 255}, {99, 252}, {50, 127},  {35, 89},
                                       {1, 2},     {0, 0},    {255, 255}, {101, 255}};
  for (auto [percent, alpha] : table) {
    ASSERT_TRUE(h.SetOpacity(window, static_cast<std::uint8_t>(percent)));
    EXPECT_EQ(sim.Window(window)->alpha, alpha) << percent;
    EXPECT_EQ(sim.Window(window)->layeredFlags, LWA_ALPHA);
    EXPECT_EQ(sim.Window(window)->colorKey, 0u);
  }
}

TEST_F(Layered, MissingLibrarySucceedsWithoutEffect) {
  sim.FailLibrary(true);
  LayeredWindowHelper h;
  h.MakeLayered(window);
  EXPECT_NE(sim.GetWindowLong(window, GWL_EXSTYLE) & WS_EX_LAYERED, 0u);
  EXPECT_TRUE(h.SetOpacity(window, 35));
  EXPECT_EQ(sim.Window(window)->alpha, 255);
  EXPECT_EQ(sim.Window(window)->layeredCalls, 0);
}

TEST_F(Layered, MissingFunctionFailsWithoutEffect) {
  sim.FailFunction(true);
  LayeredWindowHelper h;
  h.MakeLayered(window);
  EXPECT_FALSE(h.SetOpacity(window, 35));
  EXPECT_EQ(sim.Window(window)->layeredCalls, 0);
}

TEST_F(Layered, TheLibraryIsReleasedOnce) {
  {
    LayeredWindowHelper h;
    EXPECT_EQ(sim.LoadedModules(), 1);
  }
  EXPECT_EQ(sim.LoadedModules(), 0);
  EXPECT_EQ(sim.FreeLibraryCalls(), 1);
}

}  // namespace
}  // namespace vesk
