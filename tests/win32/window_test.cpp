// What only the Windows dialogs do, beyond the backend contract: the system's
// control classes, the dialog manager's keys and default button, owners
// disabled under a modal run, icons, the manifest and layered opacity.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <tuple>
#include <vector>

#include "common/recording_sink.h"
#include "platform/win32/dpi.h"
#include "platform/win32/hook_bridge.h"
#include "platform/win32/win32_backend.h"
#include "storage/settings.h"
#include "ui/layered_window_helper.h"
#include "wine_support.h"

namespace vesk::testing {
namespace {

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() { InstallBackend(&backend); }
  ~WindowTest() override { InstallBackend(nullptr); }

  WindowId Create(int templateId, RecordingSink& sink, WindowId parent = 0) {
    const WindowId w = backend.CreateDialogWindow(*FindDialogTemplate(templateId), parent, &sink);
    EXPECT_NE(w, 0u);
    return w;
  }

  // Runs window modally; a registered "go" message posted first starts
  // the test's work inside the run. A watchdog ends a run that hangs.
  int RunWith(WindowId window, RecordingSink& sink, std::function<void()> work) {
    const std::uint32_t go = backend.RegisterWindowMessage("vesk-test-go");
    auto previous = sink.onMessage;
    sink.onMessage = [&, go](std::uint32_t m, WParam w, LParam l) -> LResult {
      if (m == go) {
        work();
        return 0;
      }
      return previous ? previous(m, w, l) : 0;
    };
    backend.PostMessage(window, go, 0, 0);
    s_watched = &backend;
    s_window = window;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 15000, &Watchdog);
    const int result = backend.RunModalLoop(window);
    ::KillTimer(nullptr, timer);
    sink.onMessage = previous;
    return result;
  }

  static void CALLBACK Watchdog(HWND, UINT, UINT_PTR, DWORD) {
    ADD_FAILURE() << "modal run did not end";
    s_watched->EndModalLoop(s_window, -99);
  }

  static HWND H(WindowId w) { return reinterpret_cast<HWND>(w); }
  HWND Item(WindowId w, int id) { return ::GetDlgItem(H(w), id); }

  static inline win32::Win32Backend* s_watched = nullptr;
  static inline WindowId s_window = 0;
  win32::Win32Backend backend{win32::JournalMode::LowLevel};
};

std::string ClassOf(HWND hwnd) {
  char name[64] = {};
  ::GetClassNameA(hwnd, name, sizeof(name));
  std::string s = name;
  for (char& c : s) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(WindowTest, SettingsTemplateBuildsEveryControlAndStaysHiddenUntilItsRun) {
  RecordingSink sink;
  const WindowId w = Create(kSettingsDialogTemplate, sink);
  EXPECT_EQ(backend.GetWindowText(w), "Playback settings");
  EXPECT_FALSE(::IsWindowVisible(H(w)));
  EXPECT_EQ(backend.GetWindowLong(w, GWL_EXSTYLE) & WS_EX_TOPMOST, 0u);  // only the main window
  const DialogTemplate& t = *FindDialogTemplate(kSettingsDialogTemplate);
  for (const ControlTemplate& c : t.controls) {
    if (c.id == -1) continue;
    SCOPED_TRACE(c.id);
    ASSERT_TRUE(backend.HasControl(w, c.id));
    const std::string cls = ClassOf(Item(w, c.id));
    switch (c.kind) {
      case ControlKind::Edit:
        EXPECT_EQ(cls, "edit");
        break;
      case ControlKind::UpDown:
        EXPECT_EQ(cls, "msctls_updown32");
        break;
      case ControlKind::StaticText:
        EXPECT_EQ(cls, "static");
        break;
      default:
        EXPECT_EQ(cls, "button");
        break;
    }
  }
  // The up-down takes the edit before it as its buddy.
  EXPECT_EQ(reinterpret_cast<HWND>(::SendMessageA(Item(w, IDC_REPEAT_SPIN), UDM_GETBUDDY, 0, 0)),
            Item(w, IDC_REPEAT_COUNT));

  bool visibleDuringRun = false;
  const int result = RunWith(w, sink, [&] {
    visibleDuringRun = ::IsWindowVisible(H(w)) != FALSE;
    backend.EndModalLoop(w, 42);
  });
  EXPECT_EQ(result, 42);
  EXPECT_TRUE(visibleDuringRun);
  EXPECT_FALSE(::IsWindowVisible(H(w)));
  backend.DestroyWindow(w);
  EXPECT_FALSE(::IsWindow(H(w)));
}

TEST_F(WindowTest, NotificationsRegisteredMessagesAndCloseReachTheSink) {
  RecordingSink sink;
  const WindowId w = Create(kSettingsDialogTemplate, sink);
  const std::uint32_t custom = backend.RegisterWindowMessage("vesk-test-custom");
  sink.onMessage = [&](std::uint32_t m, WParam, LParam) -> LResult {
    if (m == WM_CLOSE) backend.EndModalLoop(w, IDCANCEL);
    return m == custom ? 77 : 0;
  };
  LRESULT defId = 0;
  RunWith(w, sink, [&] {
    ::SendMessageA(Item(w, IDC_BROWSE), BM_CLICK, 0, 0);
    backend.SetControlText(w, IDC_JOURNAL_PATH, "C:\\j.alg");
    defId = ::SendMessageA(H(w), DM_GETDEFID, 0, 0);
    const LRESULT answer = ::SendMessageA(H(w), custom, 5, 6);
    EXPECT_EQ(answer, 77);
    backend.PostMessage(w, WM_CLOSE, 0, 0);
  });
  sink.onMessage = nullptr;
  EXPECT_TRUE(sink.Has(WM_COMMAND, MakeCommandWParam(IDC_BROWSE, BN_CLICKED)));
  EXPECT_TRUE(sink.Has(WM_COMMAND, MakeCommandWParam(IDC_JOURNAL_PATH, EN_CHANGE)));
  EXPECT_TRUE(sink.Has(custom, 5));
  EXPECT_TRUE(sink.Has(WM_CLOSE, 0));
  // The close box is reported as itself, not turned into Cancel.
  EXPECT_FALSE(sink.Has(WM_COMMAND, MakeCommandWParam(IDCANCEL, BN_CLICKED)));
  // The dialog manager keeps its own messages: the default button is OK.
  EXPECT_EQ(HIWORD(defId), DC_HASDEFID);
  EXPECT_EQ(LOWORD(defId), IDOK);
  backend.DestroyWindow(w);
}

TEST_F(WindowTest, EscapeAndEnterGoThroughTheDialogManager) {
  RecordingSink sink;
  const WindowId w = Create(kMainDialogTemplate, sink);
  sink.onMessage = [&](std::uint32_t m, WParam wp, LParam) -> LResult {
    if (m == WM_COMMAND && CommandId(wp) == IDCANCEL) backend.EndModalLoop(w, IDCANCEL);
    return 0;
  };
  const int result = RunWith(w, sink, [&] {
    HWND log = Item(w, IDC_LOG);
    ::PostMessageA(log, WM_KEYDOWN, VK_RETURN, 1);
    ::PostMessageA(log, WM_KEYDOWN, VK_ESCAPE, 1);
  });
  EXPECT_EQ(result, IDCANCEL);
  // Enter activates the default push button, SaveBasic.
  EXPECT_TRUE(sink.Has(WM_COMMAND, MakeCommandWParam(IDC_SAVEBASIC, BN_CLICKED)));
  backend.DestroyWindow(w);
}

TEST_F(WindowTest, TheBuddyShowsTheUpDownsPositionEvenWhenItDoesNotChange) {
  RecordingSink sink;
  const WindowId w = Create(kSettingsDialogTemplate, sink);
  backend.UpDownSetRange(w, IDC_REPEAT_SPIN, 1, 999);
  backend.UpDownSetPos(w, IDC_REPEAT_SPIN, 999);
  ::SetWindowTextA(Item(w, IDC_REPEAT_COUNT), "");
  backend.UpDownSetPos(w, IDC_REPEAT_SPIN, 999);
  EXPECT_EQ(backend.GetControlText(w, IDC_REPEAT_COUNT), "999");
  backend.DestroyWindow(w);
}

TEST_F(WindowTest, ModalRunsNestAndTheInnerOneEndsFirst) {
  RecordingSink outerSink;
  RecordingSink innerSink;
  const WindowId outer = Create(kSettingsDialogTemplate, outerSink);
  const WindowId inner = Create(kSettingsDialogTemplate, innerSink, outer);
  int innerResult = 0;
  bool outerEnabledDuringInner = true;
  const int outerResult = RunWith(outer, outerSink, [&] {
    innerResult = RunWith(inner, innerSink, [&] {
      outerEnabledDuringInner = ::IsWindowEnabled(H(outer)) != FALSE;
      backend.EndModalLoop(outer, 7);  // the outer run notices once the inner one is over
      backend.EndModalLoop(inner, 3);
    });
  });
  EXPECT_EQ(innerResult, 3);
  EXPECT_EQ(outerResult, 7);
  EXPECT_FALSE(outerEnabledDuringInner);
  EXPECT_TRUE(::IsWindowEnabled(H(outer)));
  backend.DestroyWindow(inner);
  backend.DestroyWindow(outer);
}

TEST_F(WindowTest, IconResource128BecomesTheWindowsBigAndSmallIcon) {
  RecordingSink sink;
  const WindowId w = Create(kMainDialogTemplate, sink);
  backend.SetIcon(w, kAppIcon, true);
  backend.SetIcon(w, kAppIcon, false);
  EXPECT_NE(::SendMessageA(H(w), WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(::SendMessageA(H(w), WM_GETICON, ICON_SMALL, 0), 0);
  backend.SetIcon(w, 4242, true);  // no such icon: nothing changes, nothing breaks
  EXPECT_GT(backend.GetSystemMetrics(SM_CXICON), 0);
  int width = 0;
  int height = 0;
  backend.GetClientSize(w, &width, &height);
  EXPECT_GT(width, 338);  // dialog units are larger than pixels
  EXPECT_GT(height, 230);
  backend.DestroyWindow(w);
}

TEST_F(WindowTest, ManifestBringsVersion6OfTheCommonControls) {
  // Without the manifest the process gets the system folder's version 5.
  HMODULE comctl = ::GetModuleHandleA("comctl32.dll");
  ASSERT_NE(comctl, nullptr);
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(comctl, path, MAX_PATH);
  std::string lower = path;
  for (char& c : lower) c = static_cast<char>(::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(lower.find("microsoft.windows.common-controls"), std::string::npos) << path;
  EXPECT_NE(lower.find("_6.0."), std::string::npos) << path;
}

// Wine treats every process as DPI-aware, so only the request itself can
// be checked here: without it Windows would stretch the dialogs and scale
// every coordinate the hooks and SendInput exchange.
TEST_F(WindowTest, ManifestAsksForPerMonitorV2AwarenessAndTheProcessHasIt) {
  HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr);
  const auto* data = static_cast<const char*>(::LockResource(::LoadResource(nullptr, found)));
  const std::string manifest(data, ::SizeofResource(nullptr, found));
  EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
  EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
  EXPECT_GE(win32::EnableDpiAwareness(), win32::DpiAwareness::PerMonitor);
}

// ---------------------------------------------------------------- layered windows

TEST_F(WindowTest, MainWindowIsTopmostAndLayeredWithTheOpacityAsked) {
  RecordingSink sink;
  const WindowId w = Create(kMainDialogTemplate, sink);
  EXPECT_NE(backend.GetWindowLong(w, GWL_EXSTYLE) & WS_EX_TOPMOST, 0u);
  {
    LayeredWindowHelper opacity;
    const std::uint32_t before = backend.GetWindowLong(w, GWL_EXSTYLE);
    EXPECT_EQ(opacity.MakeLayered(w), before);
    EXPECT_EQ(backend.GetWindowLong(w, GWL_EXSTYLE), before | WS_EX_LAYERED);
    const auto alphaOf = [&] {
      COLORREF key = 1;
      BYTE alpha = 0;
      DWORD flags = 0;
      EXPECT_TRUE(::GetLayeredWindowAttributes(H(w), &key, &alpha, &flags));
      EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
      EXPECT_EQ(key, 0u);
      return alpha;
    };
    EXPECT_TRUE(opacity.SetOpacity(w, 35));
    EXPECT_EQ(alphaOf(), 89);
    EXPECT_TRUE(opacity.SetOpacity(w, 255));
    EXPECT_EQ(alphaOf(), 255);
    // Click-through is one more extended style bit, set and cleared.
    const std::uint32_t layered = backend.GetWindowLong(w, GWL_EXSTYLE);
    EXPECT_EQ(backend.SetWindowLong(w, GWL_EXSTYLE, layered | WS_EX_TRANSPARENT), layered);
    EXPECT_NE(backend.GetWindowLong(w, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0u);
    backend.SetWindowLong(w, GWL_EXSTYLE, layered);
    EXPECT_EQ(backend.GetWindowLong(w, GWL_EXSTYLE), layered);
  }
  backend.DestroyWindow(w);
}

TEST_F(WindowTest, LayeredFunctionLooksUpByNameAndFailsCleanly) {
  RecordingSink sink;
  const WindowId w = Create(kSettingsDialogTemplate, sink);
  const ModuleHandle user32 = backend.LoadLibrary("USER32.dll");
  ASSERT_NE(user32, 0u);
  const ProcAddress proc = backend.GetProcAddress(user32, "SetLayeredWindowAttributes");
  ASSERT_NE(proc, nullptr);
  const auto fn = reinterpret_cast<SetLayeredWindowAttributesFn>(proc);
  EXPECT_EQ(fn(w, 0, 128, LWA_ALPHA), 0);  // not layered yet
  backend.SetWindowLong(w, GWL_EXSTYLE, backend.GetWindowLong(w, GWL_EXSTYLE) | WS_EX_LAYERED);
  EXPECT_NE(fn(w, 0, 128, LWA_ALPHA), 0);
  EXPECT_EQ(backend.GetProcAddress(user32, "NoSuchFunction"), nullptr);
  EXPECT_EQ(backend.GetProcAddress(0, "SetLayeredWindowAttributes"), nullptr);
  EXPECT_EQ(backend.LoadLibrary("no-such-library-vesk.dll"), 0u);
  backend.FreeLibrary(user32);
  backend.FreeLibrary(0);
  backend.DestroyWindow(w);
}

}  // namespace
}  // namespace vesk::testing

// ---------------------------------------------------------------- file dialogs and the settings
// file

namespace vesk::testing {
namespace {

// From another thread, as a user would: waits for the dialog titled
// `title`, browses into `folder`, then opens `name` there. Sets *found
// when the dialog showed up.
std::thread ChooseInDialog(const std::string& title, const std::string& folder,
                           const std::string& name, bool* found) {
  return std::thread([title, folder, name, found] {
    HWND dialog = nullptr;
    for (int i = 0; i < 1000 && dialog == nullptr; ++i) {
      dialog = ::FindWindowA(nullptr, title.c_str());
      if (dialog == nullptr) ::Sleep(10);
    }
    *found = dialog != nullptr;
    if (dialog == nullptr) return;
    // Explorer-style dialogs have a combo box (cmb13), old ones an edit (edt1).
    HWND box = ::GetDlgItem(dialog, 0x47C);
    if (box == nullptr) box = ::GetDlgItem(dialog, 0x480);
    for (const std::string& typed : {folder, name}) {
      ::SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
      ::SendMessageA(dialog, WM_COMMAND, MakeCommandWParam(IDOK, BN_CLICKED), 0);
    }
  });
}

std::string WorkingFolder() {
  char buffer[MAX_PATH] = {};
  ::GetCurrentDirectoryA(MAX_PATH, buffer);
  return buffer;
}

TEST(FileDialogFolder, SettingsFileStaysInTheStartFolderAfterADialogInAnotherOne) {
  TempDir start;
  std::filesystem::create_directory(start.path() / "elsewhere");
  const std::string folder = (start.path() / "elsewhere").string();
  const std::string chosen = (start.path() / "elsewhere" / "j.alg").string();
  WriteFile(chosen, "journal");
  const std::string before = WorkingFolder();

  // What the system dialog does on its own: it moves the working folder.
  {
    bool found = false;
    std::thread user = ChooseInDialog("Plain dialog", folder, "j.alg", &found);
    char file[MAX_PATH] = {};
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = "Plain dialog";
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    const BOOL ok = ::GetOpenFileNameA(&ofn);
    user.join();
    ASSERT_TRUE(found && ok);
    EXPECT_NE(WorkingFolder(), before) << "the dialog left the working folder alone";
    ::SetCurrentDirectoryA(before.c_str());
  }

  win32::Win32Backend backend(win32::JournalMode::LowLevel);
  InstallBackend(&backend);
  EXPECT_EQ(backend.StartFolder(), before);
  bool found = false;
  std::thread user = ChooseInDialog("Open journal:", folder, "j.alg", &found);
  const std::optional<std::string> path = backend.ShowFileDialog(
      0, {false, "Open journal:", "", "alg", "Vesk Journal Files (.alg)", "*.alg", 0x1006});
  user.join();
  ASSERT_TRUE(found);
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(std::filesystem::path(*path), std::filesystem::path(chosen));
  EXPECT_EQ(WorkingFolder(), before);
  // The settings file is written by its bare name: it lands at the start.
  VeskSettings settings;
  EXPECT_TRUE(settings.Save());
  EXPECT_TRUE(std::filesystem::exists(start.path() / kSettingsFileName));
  EXPECT_FALSE(std::filesystem::exists(start.path() / "elsewhere" / kSettingsFileName));
  InstallBackend(nullptr);
}

}  // namespace
}  // namespace vesk::testing
