// KWin's monitors, scale and keymap as the remote-input path meets them, in
// one session left open while they change: two virtual monitors, one
// rescaled, Xwayland's own scaling turned off, a monitor removed and added,
// and the keymap changed. Journal positions are X root positions, asked of
// the world's real Xwayland; the native client's window is laid over the
// whole desktop, so what it reads are the desktop's logical positions.
#include <QDBusMessage>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "client_log.h"
#include "desktop_world.h"
#include "platform/wayland/portal_client.h"
#include "platform/wayland/remote_input.h"
#include "platform/wayland/restore_token.h"
#include "platform/wayland/x_root.h"
#include "test_files.h"

namespace vesk::testing {
namespace {

using Point = std::pair<double, double>;

class KdeLayout : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("VESK_DESKTOP_OUTPUTS", "2", 1);
    world_ = new DesktopWorld("kde");
    ::unsetenv("VESK_DESKTOP_OUTPUTS");
  }
  static void TearDownTestSuite() {
    delete world_;
    world_ = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(world_->Failure(), "");
    // The path asks the X server of DISPLAY for the root, as the program does.
    ::setenv("DISPLAY", world_->Env("DISPLAY").c_str(), 1);
    const std::string xauth = world_->Env("XAUTHORITY");
    xauth.empty() ? ::unsetenv("XAUTHORITY") : ::setenv("XAUTHORITY", xauth.c_str(), 1);
  }

  std::unique_ptr<wayland::RemoteInput> Remote() {
    const QDBusConnection bus = world_->Bus();
    wayland::RemoteInput::Options options;
    options.tokenPath = dir_.File(wayland::kRestoreTokenFileName);
    options.consentTimeoutMs = 30000;
    // The session as the program finds it in the world's environment.
    const std::map<std::string, std::string> env = {
        {"WAYLAND_DISPLAY", world_->Env("WAYLAND_DISPLAY")},
        {"DISPLAY", world_->Env("DISPLAY")},
        {"XDG_CURRENT_DESKTOP", "KDE"}};
    const auto session = wayland::DetectSession([&env](const char* key) -> const char* {
      const auto it = env.find(key);
      return it != env.end() ? it->second.c_str() : nullptr;
    });
    auto remote = std::make_unique<wayland::RemoteInput>(
        session, [bus] { return bus; }, options);
    remote->SetCallbacks({[this] { ready_ = true; },
                          [this](const std::string& why) { lost_ = why; },
                          [](const std::string&) {},
                          {}});
    return remote;
  }

  static Point XRoot() {
    std::int32_t w = 0, h = 0;
    return wayland::KeptXRootQuery()(&w, &h) ? Point(w, h) : Point();
  }

  // Waits for the desktop to settle on a layout: the X root's size and the
  // monitors the emulated pointer announces (x, y, width, height each).
  bool Settled(wayland::RemoteInput& remote, Point root, std::vector<int> regions) {
    const std::uint64_t start = NowUs();
    const bool settled = WaitFor(
        [&] {
          std::vector<int> got;
          for (const auto& r : remote.Regions())
            got.insert(got.end(), {r.x, r.y, r.width, r.height});
          return XRoot() == root && got == regions;
        },
        10000);
    std::printf("kde layout %gx%g settled in %llu ms\n", root.first, root.second,
                static_cast<unsigned long long>((NowUs() - start) / 1000));
    return settled;
  }

  // Lays the client's window over the whole desktop, and waits until the
  // client has drawn it there.
  bool CoverDesktop(int width, int height) {
    const std::string want =
        "vesk-cover 0,0 " + std::to_string(width) + "x" + std::to_string(height);
    if (!world_->RunKwinScript("for (const w of workspace.windowList())\n"
                               "  if (w.resourceClass == 'wev')\n"
                               "    w.frameGeometry = workspace.virtualScreenGeometry;\n")) {
      return false;
    }
    return WaitFor(
        [&] {
          world_->RunKwinScript(
              "for (const w of workspace.windowList())\n"
              "  if (w.resourceClass == 'wev') { const g = w.bufferGeometry;\n"
              "    console.warn('vesk-cover ' + g.x + ',' + g.y + ' ' + Math.round(g.width) + 'x' "
              "+ Math.round(g.height)); "
              "}\n");
          const std::string log = world_->CompositorLog();
          const auto at = log.rfind("vesk-cover");
          return at != std::string::npos && log.compare(at, want.size(), want) == 0;
        },
        10000);
  }

  static std::size_t Count(const std::string& text) {
    const std::string log = world_->ClientLog();
    std::size_t n = 0;
    for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  }

  // Sends moves to X root positions, each with where the client should see
  // it; where it did (its last position once that is right, or after 3 s).
  std::vector<Point> Moves(wayland::RemoteInput& remote, const std::vector<Point>& xs,
                           const std::vector<Point>& want) {
    std::vector<Point> out;
    for (std::size_t i = 0; i < xs.size() && i < want.size(); ++i) {
      const std::uint64_t start = NowUs();
      EXPECT_TRUE(remote.Inject({WM_MOUSEMOVE, static_cast<std::uint32_t>(xs[i].first),
                                 static_cast<std::uint32_t>(xs[i].second), 0, 0}));
      injectUs_.push_back(NowUs() - start);
      Point last;
      WaitFor(
          [&] {
            const auto seen = OfKind(ParseClientEvents(world_->ClientLog()), "motion");
            if (!seen.empty()) last = {seen.back().a, seen.back().b};
            return last == want[i];
          },
          3000);
      out.push_back(last);
    }
    return out;
  }

  void ExpectMoves(wayland::RemoteInput& remote, const std::vector<Point>& xs,
                   const std::vector<Point>& want) {
    EXPECT_EQ(Moves(remote, xs, want), want) << "X root positions " << ::testing::PrintToString(xs);
  }

  // The shell command that tells the session's programs a setting changed, as
  // the settings tools do (names go as byte arrays, which gdbus spells out).
  static std::string ConfigChanged(const std::string& file, const std::string& group,
                                   const std::string& key) {
    std::string bytes;
    for (const char c : key) bytes += (bytes.empty() ? "byte " : ", byte ") + std::to_string(c);
    return "gdbus emit --session --object-path /" + file +
           " --signal org.kde.kconfig.notify.ConfigChanged \"{'" + group + "': [[" + bytes +
           "]]}\"";
  }

  bool Signal(const char* path, const char* iface, const char* name, const QVariantList& args) {
    QDBusMessage s = QDBusMessage::createSignal(
        QString::fromLatin1(path), QString::fromLatin1(iface), QString::fromLatin1(name));
    s.setArguments(args);
    return world_->Bus().send(s);
  }

  static DesktopWorld* world_;
  std::vector<std::uint64_t> injectUs_;  // how long each move took to send
  TempDir dir_;
  bool ready_ = false;
  std::string lost_;
};

DesktopWorld* KdeLayout::world_ = nullptr;

TEST_F(KdeLayout, PositionsAndKeysFollowMonitorScaleAndKeymapChangesMidRun) {
  QString why;
  ASSERT_EQ(wayland::PortalClient::ProbeVersion(world_->Bus(), 10000, &why), 2u);
  ASSERT_TRUE(world_->GrantKdePermission());
  auto remote = Remote();
  remote->Open();
  ASSERT_TRUE(WaitFor([&] { return ready_ || !lost_.empty(); })) << world_->CompositorLog();
  ASSERT_TRUE(ready_) << lost_;
  ASSERT_TRUE(world_->StartClient()) << world_->ClientLog();

  // Two monitors side by side at 100 %: the root is the layout.
  ASSERT_TRUE(Settled(*remote, {1600, 600}, {0, 0, 800, 600, 800, 0, 800, 600}));
  ASSERT_TRUE(CoverDesktop(1600, 600));
  // Across the monitors' shared edge and back, far from it and just past it.
  ExpectMoves(*remote, {{100, 150}, {1500, 550}, {850, 300}, {100, 150}, {850, 300}, {790, 10}},
              {{100, 150}, {1500, 550}, {850, 300}, {100, 150}, {850, 300}, {790, 10}});

  // The second at 200 %: KWin swaps the pointer, and with its X scaling on
  // (the default) Xwayland's root is the layout at the largest scale.
  ASSERT_TRUE(world_->RunInSession("kscreen-doctor output.Virtual-1.scale.2"));
  ASSERT_TRUE(Settled(*remote, {2400, 1200}, {0, 0, 800, 600, 800, 0, 400, 300}));
  ASSERT_TRUE(CoverDesktop(1200, 600));
  EXPECT_TRUE(lost_.empty()) << lost_;
  ExpectMoves(*remote, {{200, 300}, {1900, 200}}, {{100, 150}, {950, 100}});

  // Its X scaling off (Display settings' "scaled by the system"): the root
  // shrinks to the layout and no device changes.
  world_->WriteConfig("kdeglobals", "[KScreen]\nXwaylandClientsScale=false\n");
  ASSERT_TRUE(world_->RunInSession(ConfigChanged("kdeglobals", "KScreen", "XwaylandClientsScale")));
  ASSERT_TRUE(Settled(*remote, {1200, 600}, {0, 0, 800, 600, 800, 0, 400, 300}));
  ExpectMoves(*remote, {{100, 150}, {1000, 250}}, {{100, 150}, {1000, 250}});

  // One monitor: the second removed (then added back below).
  ASSERT_TRUE(world_->RunInSession("kscreen-doctor output.Virtual-1.disable"));
  ASSERT_TRUE(Settled(*remote, {800, 600}, {0, 0, 800, 600}));
  ASSERT_TRUE(CoverDesktop(800, 600));
  ExpectMoves(*remote, {{700, 500}, {20, 30}}, {{700, 500}, {20, 30}});
  // It at 150 % with X scaling back on: the root stays 800x600.
  world_->WriteConfig("kdeglobals", "[KScreen]\nXwaylandClientsScale=true\n");
  ASSERT_TRUE(world_->RunInSession(ConfigChanged("kdeglobals", "KScreen", "XwaylandClientsScale")));
  ASSERT_TRUE(world_->RunInSession("kscreen-doctor output.Virtual-0.scale.1.5"));
  ASSERT_TRUE(Settled(*remote, {800, 600}, {0, 0, 533, 400}));
  ASSERT_TRUE(CoverDesktop(533, 400));
  ExpectMoves(*remote, {{600, 450}, {30, 60}}, {{400, 300}, {20, 40}});
  ASSERT_TRUE(
      world_->RunInSession("kscreen-doctor output.Virtual-0.scale.1 output.Virtual-1.enable"));
  ASSERT_TRUE(Settled(*remote, {2400, 1200}, {0, 0, 800, 600, 800, 0, 400, 300}));
  ASSERT_TRUE(CoverDesktop(1200, 600));
  ExpectMoves(*remote, {{2200, 400}}, {{1100, 200}});

  // The keymap changed under a held Shift: KWin swaps the keyboard; the key
  // that types Y on the old map types Z on the new one, still shifted.
  EXPECT_TRUE(remote->Inject({WM_KEYDOWN, 0x2A10, 1, 0, 0}));
  const std::size_t keymaps = Count("keymap: format");
  world_->WriteConfig("kxkbrc", "[Layout]\nUse=true\nLayoutList=de\n");
  ASSERT_TRUE(Signal("/Layouts", "org.kde.keyboard", "reloadConfig", {}));
  ASSERT_TRUE(WaitFor([&] { return Count("keymap: format") > keymaps; }, 10000));
  for (const EVENTMSG& e :
       {EVENTMSG{WM_KEYDOWN, 0x1559, 1, 0, 0}, EVENTMSG{WM_KEYUP, 0x1559, 1, 0, 0},
        EVENTMSG{WM_KEYUP, 0x2A10, 1, 0, 0}}) {
    EXPECT_TRUE(remote->Inject(e));
  }
  ASSERT_TRUE(WaitFor([&] {
    const auto keys = OfKind(ParseClientEvents(world_->ClientLog()), "key");
    return !keys.empty() && keys.back().a == 50 && keys.back().b == 0;
  }));
  const auto keys = OfKind(ParseClientEvents(world_->ClientLog()), "key");
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(keys[keys.size() - 3].text, "Z");
  EXPECT_TRUE(lost_.empty()) << lost_;
  // A move reads the X root's size (kept from its resize events), and crossing
  // monitors sends two more.
  const auto query = wayland::KeptXRootQuery();
  std::vector<std::uint64_t> asked;
  for (int i = 0; i < 200; ++i) {
    std::int32_t w = 0, h = 0;
    const std::uint64_t start = NowUs();
    EXPECT_TRUE(query(&w, &h));
    asked.push_back(NowUs() - start);
  }
  for (auto* v : {&injectUs_, &asked}) {
    std::sort(v->begin(), v->end());
    std::printf("kde %s: %zu, median %llu us, max %llu us\n",
                v == &asked ? "X root asked" : "moves sent", v->size(),
                static_cast<unsigned long long>((*v)[v->size() / 2]),
                static_cast<unsigned long long>(v->back()));
  }
}

// KDE's dialog has one way to say no: its window closed, by Cancel, Escape
// or the window's own close, is a refusal (the portal answers 1). Nothing
// but "yes" in the permission store skips it.
TEST_F(KdeLayout, TheDialogClosedIsARefusal) {
  ASSERT_TRUE(world_->GrantKdePermission(false));
  ASSERT_TRUE(world_->RunKwinScript(
      "function refuse(w) { if (w.resourceClass.indexOf('portal') >= 0) w.closeWindow(); }\n"
      "workspace.windowList().forEach(refuse);\n"
      "workspace.windowAdded.connect(refuse);\n"));
  auto remote = Remote();
  remote->Open();
  ASSERT_TRUE(WaitFor([&] { return ready_ || !lost_.empty(); }));
  EXPECT_EQ(lost_, "Remote input: the user declined the desktop's remote input dialog.");
}

}  // namespace
}  // namespace vesk::testing
