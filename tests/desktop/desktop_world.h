// The real desktops of the test world (scripts/desktop-world): a compositor
// with its portal on a private session bus, joined from here through its
// runtime folder, bus address and Xwayland display.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <QVariantList>

#include <functional>
#include <map>
#include <string>

namespace vesk::testing {

class DesktopWorld {
 public:
  // "gnome" or "kde", on one monitor of `size` pixels; scripts/desktop-world's
  // variables in the environment (VESK_DESKTOP_OUTPUTS) reach it too.
  explicit DesktopWorld(std::string desktop, const std::string& size = "800x600");
  ~DesktopWorld();
  DesktopWorld(const DesktopWorld&) = delete;
  DesktopWorld& operator=(const DesktopWorld&) = delete;

  // Empty when the world runs; else why not.
  const std::string& Failure() const { return failure_; }
  const std::string& Name() const { return desktop_; }
  std::string Env(const std::string& key) const;
  QDBusConnection Bus() const;
  std::string CompositorLog() const;

  // Starts the native client (wev) in the session, logging what it
  // receives; false when its window was not shown.
  bool StartClient();
  // `vesk play --countdown 0 <journal>` in dir, on this session, its
  // stderr appended to dir/vesk.log; meanwhile runs once it started (to
  // answer a dialog). Its exit status, or -1 when it did not end in 5 min.
  int PlayProgram(const std::string& dir, const std::string& journal,
                  const std::function<void()>& meanwhile) const;
  std::string ClientLog() const;

  // KDE: remote input granted in the portal's permission store, as the
  // user's "Allow" would (its dialog is not shown again); or "no" stored,
  // which KDE's portal does not take as an answer.
  bool GrantKdePermission(bool allow = true);

  // GNOME: the permission dialog answered with keys, pressed through a
  // remote-desktop session of the compositor's own, once the dialog's
  // window has the keyboard. Share switches "Allow remote interaction" on
  // first (the button stays insensitive until then). The user thinks for
  // thinkMs once the dialog is up. Empty when answered, else why not.
  // Close is Escape in the dialog; CloseWindow the compositor's Alt+F4.
  enum class Answer { Share, Cancel, Close, CloseWindow };
  std::string AnswerGnomeDialog(Answer answer, int thinkMs = 0, int waitMs = 20000);
  // How many times the dialog's window has had the keyboard so far.
  int GnomeDialogsShown() const;

  // Ends the process that owns `name` on the session bus, as the desktop
  // ending one of its services would.
  bool EndService(const QString& name);

  // GNOME: the monitor's scale (through the display configuration), and
  // whether Xwayland scales natively (an experimental feature of mutter,
  // taking effect at the next monitor change): its X root is then the
  // layout times the next whole scale, else the layout itself.
  bool SetGnomeScale(double scale);  // the nearest the monitor offers
  // The whole layout, as `gdctl set` takes it; monitors are Meta-0, Meta-1...
  bool SetGnomeMonitors(const std::string& layout);
  // GNOME: the seat's pointer to (x, y) of the layout, where a client's
  // window then opens.
  bool PointGnomePointerAt(double x, double y);
  bool SetXwaylandNativeScaling(bool on);
  // The X root's size, asked of the session's Xwayland.
  bool XRootSize(int* width, int* height) const;

  // A command in the session, inside the root; whether it succeeded.
  bool RunInSession(const std::string& command);
  // Writes a file of the session's configuration folder (kdeglobals, ...).
  void WriteConfig(const std::string& name, const std::string& text) const;
  // KDE: runs a script in KWin; what it prints goes to the compositor's log.
  bool RunKwinScript(const std::string& js);

 private:
  std::string OpenGnomeSeat();
  // How many log lines of the compositor tell `event` of the dialog.
  int GnomeDialogs(const char* event) const;
  std::string GnomeCall(const QString& method, const QVariantList& args = {});

  std::string desktop_;
  std::string root_;
  std::map<std::string, std::string> env_;
  std::string failure_;
  QString busName_;
  std::string clientLog_;
  int clientPid_ = 0;
  QString seat_;  // GNOME: the compositor's remote-desktop session of the seat's devices
  int dialogsAnswered_ = 0;
  int scripts_ = 0;
};

}  // namespace vesk::testing
