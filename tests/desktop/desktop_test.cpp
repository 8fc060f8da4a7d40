// The Wayland remote-input path against the real desktops of the test world:
// GNOME's and KDE's own portals and compositors, each started once for the
// suite. What the fake desktop assumes is checked here against them: the
// portal's version and its backend's ConnectToEIS, the lock state the
// desktop reports, and on KDE (whose permission the harness can grant) the
// whole session: devices, the monitor's region, and the restore token used
// up and handed back on every run.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "desktop_world.h"
#include "platform/wayland/portal_client.h"
#include "platform/wayland/remote_input.h"
#include "platform/wayland/restore_token.h"
#include "platform/wayland/screen_lock.h"
#include "test_files.h"

namespace vesk::testing {
namespace {

bool WaitFor(const std::function<bool()>& done, int limitMs = 20000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class Desktop : public ::testing::Test {
 protected:
  static std::unique_ptr<DesktopWorld>& World() {
    static std::unique_ptr<DesktopWorld> world;
    return world;
  }
  static void TearDownTestSuite() { World().reset(); }
  void SetUp() override {
    ASSERT_TRUE(World() != nullptr);
    ASSERT_EQ(World()->Failure(), "");
  }

  // The remote-input path as the program builds it, on the world's bus.
  std::unique_ptr<wayland::RemoteInput> Remote() {
    const QDBusConnection bus = World()->Bus();
    wayland::RemoteInput::Options options;
    options.tokenPath = dir_.File(wayland::kRestoreTokenFileName);
    options.consentTimeoutMs = 30000;
    options.xRootSize = [](std::int32_t* w, std::int32_t* h) {
      *w = 800;
      *h = 600;
      return true;
    };
    auto remote = std::make_unique<wayland::RemoteInput>(
        wayland::SessionKind{true, true, World()->Name() == "gnome"}, [bus] { return bus; },
        options);
    remote->SetCallbacks({[this] { ready_ = true; },
                          [this](const std::string& why) { lost_ = why; },
                          [](const std::string&) {},
                          {}});
    return remote;
  }

  void CommonFacts() {
    const QDBusConnection bus = World()->Bus();
    QString why;
    EXPECT_EQ(wayland::PortalClient::ProbeVersion(bus, 10000, &why), 2u) << why.toStdString();
    // Both backends of Debian 13 have ConnectToEIS; the probe must not
    // send their users to XTEST.
    EXPECT_FALSE(wayland::PortalClient::BackendLacksEis(bus, 10000));
    wayland::ScreenLock lock(bus, QDBusConnection(QString()));
    EXPECT_FALSE(lock.Locked(2000)) << "a fresh session is not locked";
  }

  TempDir dir_;
  bool ready_ = false;
  std::string lost_;
};

class Gnome : public Desktop {
 protected:
  static void SetUpTestSuite() { World() = std::make_unique<DesktopWorld>("gnome"); }
};
class Kde : public Desktop {
 protected:
  static void SetUpTestSuite() { World() = std::make_unique<DesktopWorld>("kde"); }
};

TEST_F(Gnome, ThePortalOffersEmulatedInputAndTheBackendHasIt) {
  CommonFacts();
  // The backend was started by the probe above: now it is asked directly.
  EXPECT_FALSE(wayland::PortalClient::BackendLacksEis(World()->Bus(), 10000));
  auto remote = Remote();
  EXPECT_TRUE(remote->Active());
}

TEST_F(Kde, ASessionGetsTheMonitorAndKeepsItsTokenRunAfterRun) {
  CommonFacts();
  ASSERT_TRUE(World()->GrantKdePermission());
  const wayland::RestoreTokenFile token(dir_.File(wayland::kRestoreTokenFileName));
  std::string previous;
  for (int run = 0; run < 2; ++run) {
    ready_ = false;
    lost_.clear();
    auto remote = Remote();
    ASSERT_TRUE(remote->Active());
    remote->Open();
    ASSERT_TRUE(WaitFor([&] { return ready_ || !lost_.empty(); })) << World()->CompositorLog();
    ASSERT_TRUE(ready_) << lost_;
    const auto regions = remote->Regions();
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(regions[0].width, 800);
    EXPECT_EQ(regions[0].height, 600);
    EXPECT_TRUE(remote->Inject({WM_MOUSEMOVE, 400, 300, 0, 0}));
    // The portal deletes an offered token and stores what it hands back:
    // KDE's hands back the same one, so the file must hold it again.
    const std::string kept = token.Load();
    EXPECT_EQ(kept.size(), 36u) << "a UUID from the portal";
    if (run > 0) {
      EXPECT_EQ(kept, previous);
    }
    previous = kept;
  }
}

}  // namespace
}  // namespace vesk::testing

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
