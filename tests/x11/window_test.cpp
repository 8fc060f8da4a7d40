// What only the Qt windows do, beyond the backend contract: arrows, keys and
// clicks on real widgets, the get-message hook, dialogs, opacity, painting
// and the log list's laying out, on a real X server.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/recording_sink.h"
#include "common/scripted_playback.h"
#include "platform/qt/qt_backend.h"

namespace vesk::testing {
// Before Xlib's headers, whose KeyPress macro hides Qt's.
inline void SendKey(QWidget* widget, int key) {
  QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(widget, &e);
}
}  // namespace vesk::testing

#include "x_session.h"

namespace vesk::testing {
namespace {

using qt::QtBackend;

void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

std::vector<std::pair<std::uint32_t, WParam>> g_retrieved;
LResult GetMessageProc(int code, WParam, LParam lParam) {
  const auto* m = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION) g_retrieved.emplace_back(m->message, m->hwnd);
  return 0;
}

// Runs act on the first visible dialog of type T once it is up (the
// backend's call runs it modally, so the test acts from a timer).
template <class T>
void WhenShown(std::function<void(T*)> act) {
  auto* timer = new QTimer;
  auto started = Clock::now();
  QObject::connect(timer, &QTimer::timeout, [timer, act, started] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* d = qobject_cast<T*>(w); d != nullptr && d->isVisible()) {
        timer->deleteLater();
        timer->stop();
        act(d);
        return;
      }
    }
    if (Clock::now() - started > std::chrono::seconds(5)) timer->deleteLater(), timer->stop();
  });
  timer->start(10);
}

class Windows : public ::testing::Test {
 protected:
  WindowId Make(int templateId, RecordingSink& sink, WindowId parent = 0) {
    return backend.CreateDialogWindow(*FindDialogTemplate(templateId), parent, &sink);
  }
  void ShowAndWait(WindowId w) {
    QWidget* widget = backend.WindowWidget(w);
    widget->show();
    ASSERT_TRUE(WaitFor([&] { return widget->windowHandle()->isExposed(); }, Pump));
  }
  QtBackend backend;
};

TEST_F(Windows, UpDownWritesItsBuddyWhichNotifiesAndArrowsWrapAround) {
  RecordingSink sink;
  const WindowId w = Make(kSettingsDialogTemplate, sink);
  backend.UpDownSetRange(w, IDC_REPEAT_SPIN, 1, 9'999'999);
  backend.UpDownSetPos(w, IDC_REPEAT_SPIN, 9'999'999);

  auto arrows = backend.ControlWidget(w, IDC_REPEAT_SPIN)->findChildren<QToolButton*>();
  ASSERT_EQ(arrows.size(), 2);
  QToolButton* up = arrows[0]->arrowType() == Qt::UpArrow ? arrows[0] : arrows[1];
  QToolButton* down = up == arrows[0] ? arrows[1] : arrows[0];
  up->click();
  EXPECT_EQ(backend.UpDownGetPos(w, IDC_REPEAT_SPIN), 1);
  EXPECT_EQ(backend.GetControlText(w, IDC_REPEAT_COUNT), "1");
  down->click();
  EXPECT_EQ(backend.GetControlText(w, IDC_REPEAT_COUNT), "9999999");

  // The arrow keys in the edit step it too.
  SendKey(backend.ControlWidget(w, IDC_REPEAT_COUNT), Qt::Key_Up);
  EXPECT_EQ(backend.GetControlText(w, IDC_REPEAT_COUNT), "1");

  // The read-only, right-aligned edit gives up its right edge to the arrows.
  auto* edit = static_cast<QLineEdit*>(backend.ControlWidget(w, IDC_REPEAT_COUNT));
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_TRUE(edit->alignment() & Qt::AlignRight);
  EXPECT_EQ(edit->geometry().right() + 1,
            backend.ControlWidget(w, IDC_REPEAT_SPIN)->geometry().left());
  backend.DestroyWindow(w);
}

TEST_F(Windows, ControlsNotifyTheirWindow) {
  RecordingSink sink;
  const WindowId w = Make(kSettingsDialogTemplate, sink);
  backend.SetCheck(w, IDC_RECORDED_SPEED, true);
  static_cast<QAbstractButton*>(backend.ControlWidget(w, IDC_DEFAULT_SPEED))->click();
  EXPECT_TRUE(backend.GetCheck(w, IDC_DEFAULT_SPEED));
  EXPECT_FALSE(backend.GetCheck(w, IDC_RECORDED_SPEED));  // one group
  EXPECT_TRUE(sink.Has(WM_COMMAND, MakeCommandWParam(IDC_DEFAULT_SPEED, BN_CLICKED)));
  static_cast<QAbstractButton*>(backend.ControlWidget(w, IDC_DEFAULT_SPEED))->click();
  EXPECT_TRUE(backend.GetCheck(w, IDC_DEFAULT_SPEED));  // clicking it again keeps it

  static_cast<QAbstractButton*>(backend.ControlWidget(w, IDC_PLAY_AT_STARTUP))->click();
  EXPECT_TRUE(backend.GetCheck(w, IDC_PLAY_AT_STARTUP));
  EXPECT_TRUE(sink.Has(WM_COMMAND, MakeCommandWParam(IDC_PLAY_AT_STARTUP, BN_CLICKED)));

  backend.DestroyWindow(w);
}

TEST_F(Windows, EscapeEnterAndTheCloseBoxAreCommands) {
  RecordingSink sink;
  const WindowId w = Make(kSettingsDialogTemplate, sink);
  QWidget* widget = backend.WindowWidget(w);
  SendKey(widget, Qt::Key_Escape);
  SendKey(widget, Qt::Key_Return);
  widget->close();
  const std::vector<Message> expected{
      {WM_COMMAND, MakeCommandWParam(IDCANCEL, BN_CLICKED), 0},
      {WM_COMMAND, MakeCommandWParam(IDOK, BN_CLICKED), 0},
      {WM_CLOSE, 0, 0},
  };
  EXPECT_EQ(sink.got, expected);
  backend.DestroyWindow(w);
}

TEST_F(Windows, PostedMessagesPassTheGetMessageHookInOrder) {
  g_retrieved.clear();
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  const std::uint32_t a = backend.RegisterWindowMessage("Automatic Playback");
  const std::uint32_t b = backend.RegisterWindowMessage("Play Again");

  ASSERT_NE(backend.SetWindowsHookEx(WH_GETMESSAGE, &GetMessageProc), 0u);
  backend.PostMessage(w, a, 1, 2);
  backend.PostMessage(0, WM_CANCELJOURNAL, 0, 0);  // to the thread: the hook sees it
  backend.PostMessage(w, b, 3, 4);
  ASSERT_TRUE(WaitFor([&] { return sink.got.size() >= 2; }, Pump));
  EXPECT_EQ(sink.got, (std::vector<Message>{{a, 1, 2}, {b, 3, 4}}));
  EXPECT_EQ(g_retrieved,
            (std::vector<std::pair<std::uint32_t, WParam>>{{a, w}, {WM_CANCELJOURNAL, 0}, {b, w}}));

  backend.PostMessage(w, a, 0, 0);
  backend.DestroyWindow(w);  // what was posted to it goes with it
  for (int i = 0; i < 10; ++i) Pump();
  EXPECT_EQ(g_retrieved.size(), 3u);
}

TEST_F(Windows, FileDialogsFollowTheirRequest) {
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  QTemporaryDir dir;
  const QString existing = dir.filePath(QStringLiteral("existing.alg"));
  QFile(existing).open(QIODevice::WriteOnly);
  FileDialogRequest request;
  request.title = "Open journal:";
  request.defaultExtension = "alg";
  request.filterDescription = "Vesk Journal Files (.alg)";
  request.filterPattern = "*.alg";
  request.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST;

  WhenShown<QFileDialog>([&](QFileDialog* d) {
    EXPECT_EQ(d->windowTitle(), QStringLiteral("Open journal:"));
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFile);  // existing files only
    EXPECT_EQ(d->nameFilters(), QStringList{"Vesk Journal Files (.alg) (*.alg)"});
    d->setDirectory(dir.path());
    d->selectFile(QStringLiteral("existing.alg"));
    static_cast<QDialog*>(d)->accept();  // as the Open button does
  });
  EXPECT_EQ(backend.ShowFileDialog(w, request), existing.toStdString());

  request.save = true;
  request.title = "Save journal as:";
  request.initialName = "Journal.alg";
  WhenShown<QFileDialog>([&](QFileDialog* d) {
    EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(d->testOption(QFileDialog::DontConfirmOverwrite));  // asks before replacing
    EXPECT_EQ(d->defaultSuffix(), QStringLiteral("alg"));
    EXPECT_TRUE(d->selectedFiles().value(0).endsWith(QStringLiteral("Journal.alg")));
    d->reject();
  });
  EXPECT_EQ(backend.ShowFileDialog(w, request), std::nullopt);
}

TEST_F(Windows, TheQuestionBoxAnswersYesOrNo) {
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  const std::string text = "Recording has been stopped, do you want to save Journal to file?";
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    EXPECT_EQ(box->text().toStdString(), text);
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_EQ(backend.MessageBox(w, text, "Vesk", MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL), IDYES);
  WhenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
  EXPECT_EQ(backend.MessageBox(w, text, "Vesk", MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL), IDNO);
}

TEST_F(Windows, OpacityNeedsTheLayeredStyle) {
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  const ModuleHandle user32 = backend.LoadLibrary("USER32.dll");
  ASSERT_NE(user32, 0u);
  EXPECT_EQ(backend.GetProcAddress(user32, "NoSuchFunction"), nullptr);
  const auto set = reinterpret_cast<SetLayeredWindowAttributesFn>(
      backend.GetProcAddress(user32, "SetLayeredWindowAttributes"));
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set(w, 0, 89, LWA_ALPHA), 0);
  EXPECT_NE(backend.GetWindowLong(w, GWL_EXSTYLE) & WS_EX_TOPMOST, 0u);  // DS_SYSMODAL
  backend.SetWindowLong(w, GWL_EXSTYLE, backend.GetWindowLong(w, GWL_EXSTYLE) | WS_EX_LAYERED);
  EXPECT_EQ(set(w, 0, 89, LWA_ALPHA), 1);
  EXPECT_NEAR(backend.WindowWidget(w)->windowOpacity(), 89 / 255.0, 0.01);
  backend.FreeLibrary(user32);
}

TEST_F(Windows, UpdateWindowPutsTheTitleOnTheServerAtOnce) {
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  ShowAndWait(w);
  FakeInput other;  // another client reads the title, without this one's event loop
  const auto xid = static_cast<Window>(backend.WindowWidget(w)->winId());
  backend.SetWindowText(w, "PLAYING-(Vesk), <Ctrl+Break> to PAUSE");
  backend.UpdateWindow(w);
  char* name = nullptr;
  ASSERT_NE(XFetchName(other.dpy(), xid, &name), 0);
  EXPECT_STREQ(name, "PLAYING-(Vesk), <Ctrl+Break> to PAUSE");
  XFree(name);
  EXPECT_EQ(backend.GetWindowText(w), "PLAYING-(Vesk), <Ctrl+Break> to PAUSE");
}

TEST_F(Windows, UpdateWindowPaintsAWindowJustShownAndRunsNothingElse) {
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  QWidget* widget = backend.WindowWidget(w);
  widget->show();
  backend.ListAddString(w, IDC_LOG, "notice");
  const std::uint32_t later = backend.RegisterWindowMessage("later");
  backend.PostMessage(w, later, 0, 0);
  backend.UpdateWindow(w);  // as before a long Sleep: it must be on screen now
  EXPECT_TRUE(widget->windowHandle()->isExposed());
  EXPECT_EQ(static_cast<QListView*>(backend.ControlWidget(w, IDC_LOG))->model()->rowCount(), 1);

  // A pixel of the list, read by another client: painted (white), not black.
  FakeInput other;
  const QPoint p = backend.ControlWidget(w, IDC_LOG)->mapToGlobal(QPoint(40, 60));
  XImage* image = XGetImage(other.dpy(), DefaultRootWindow(other.dpy()), p.x(), p.y(), 1, 1,
                            AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  EXPECT_NE(XGetPixel(image, 0, 0) & 0xFFFFFF, 0u);
  XDestroyImage(image);

  EXPECT_TRUE(sink.got.empty());  // the posted message waits for the event loop
  ASSERT_TRUE(WaitFor([&] { return sink.Has(later, 0); }, Pump));
}

TEST_F(Windows, ClickThroughLetsClicksReachTheWindowBelow) {
  TargetWindow below(0, 0, 800, 600);
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  ShowAndWait(w);
  FakeInput user;
  auto pump = [&] {
    Pump();
    below.Pump();
  };
  const QWidget* record = backend.ControlWidget(w, IDC_RECORD);
  const QPoint button = record->mapToGlobal(record->rect().center());

  backend.SetWindowLong(w, GWL_EXSTYLE, WS_EX_LAYERED | WS_EX_TRANSPARENT);
  Pump();
  user.Click(button.x(), button.y());
  ASSERT_TRUE(WaitFor([&] { return below.Of(ButtonRelease).size() == 1; }, pump));
  EXPECT_EQ(below.Of(ButtonPress).front().x_root, button.x());
  EXPECT_FALSE(sink.Has(WM_COMMAND, MakeCommandWParam(IDC_RECORD, BN_CLICKED)));

  backend.SetWindowLong(w, GWL_EXSTYLE, WS_EX_LAYERED);
  Pump();
  user.Click(button.x(), button.y());
  ASSERT_TRUE(WaitFor(
      [&] { return sink.Has(WM_COMMAND, MakeCommandWParam(IDC_RECORD, BN_CLICKED)); }, pump));
  EXPECT_EQ(below.Of(ButtonPress).size(), 1u);
}

TEST_F(Windows, LogListHoldsManyLinesWithTheNewestSelectedAndVisible) {
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  ShowAndWait(w);
  constexpr int kLines = 100'000;
  for (int i = 0; i < kLines; ++i) {
    const int index = backend.ListAddString(w, IDC_LOG, "line " + std::to_string(i));
    ASSERT_EQ(index, i);
    backend.ListSetCurSel(w, IDC_LOG, index);
  }
  EXPECT_EQ(backend.ListGetCount(w, IDC_LOG), kLines);
  EXPECT_EQ(backend.ListGetCurSel(w, IDC_LOG), kLines - 1);
  EXPECT_EQ(backend.ListGetText(w, IDC_LOG, 4321), "line 4321");
  EXPECT_EQ(backend.ListGetText(w, IDC_LOG, kLines), "");
  backend.UpdateWindow(w);

  auto* view = static_cast<QListView*>(backend.ControlWidget(w, IDC_LOG));
  EXPECT_EQ(view->model()->rowCount(), kLines);
  EXPECT_EQ(view->currentIndex().row(), kLines - 1);
  EXPECT_TRUE(view->selectionModel()->isRowSelected(kLines - 1));
  EXPECT_TRUE(view->viewport()->rect().intersects(view->visualRect(view->currentIndex())));
  backend.ListSetCurSel(w, IDC_LOG, kLines + 5);  // out of range: no selection
  EXPECT_EQ(backend.ListGetCurSel(w, IDC_LOG), -1);

  // The oldest lines go; the view and the selection follow.
  backend.ListSetCurSel(w, IDC_LOG, kLines - 1);
  backend.ListDeleteFirst(w, IDC_LOG, 5'000);
  backend.UpdateWindow(w);
  EXPECT_EQ(backend.ListGetCount(w, IDC_LOG), kLines - 5'000);
  EXPECT_EQ(view->model()->rowCount(), kLines - 5'000);
  EXPECT_EQ(backend.ListGetText(w, IDC_LOG, 0), "line 5000");
  EXPECT_EQ(backend.ListGetCurSel(w, IDC_LOG), kLines - 5'001);
  EXPECT_EQ(view->model()->data(view->model()->index(0, 0)).toString(), QString("line 5000"));
}

// During playback that logs a line per record, as the program's does: how
// many lines the list showed when each record was replayed.
TEST_F(Windows, DuringPlaybackTheLogIsLaidOutOnlyWhenTheNextRecordIsFarEnoughAway) {
  RecordingSink sink;
  const WindowId w = Make(kMainDialogTemplate, sink);
  ShowAndWait(w);
  auto* view = static_cast<QListView*>(backend.ControlWidget(w, IDC_LOG));
  ScriptedPlayback play;
  // Records 1 ms apart leave no time for the list; 300 ms do.
  for (LResult wait : {1, 1, 1, 300, 1, 1})
    play.records.push_back({{WM_MOUSEMOVE, 900, 700, 0, 0}, wait});
  play.onHandOver = [&](std::size_t i) {
    backend.ListAddString(w, IDC_LOG, "record " + std::to_string(i));
    backend.ListSetCurSel(w, IDC_LOG, static_cast<int>(i));
  };
  std::vector<int> shownAtReplay;
  play.onDue = [&](std::size_t) { shownAtReplay.push_back(view->model()->rowCount()); };
  play.endInsideLastRecord = true;
  ASSERT_NE(play.Install(backend), 0u);
  ASSERT_TRUE(WaitFor([&] { return play.ended; }, Pump));
  EXPECT_EQ(shownAtReplay, (std::vector<int>{0, 0, 0, 4, 4, 4}));
  // Once playback is over the event loop shows the rest again.
  EXPECT_TRUE(WaitFor([&] { return view->model()->rowCount() == 6; }, Pump));
  EXPECT_EQ(view->currentIndex().row(), 5);
}

}  // namespace
}  // namespace vesk::testing
