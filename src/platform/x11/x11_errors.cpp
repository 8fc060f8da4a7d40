// Xlib's process-wide error handlers, turned into results.
#include "platform/x11/x11_errors.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace vesk::x11 {
namespace {

// Xlib reports protocol errors through one process-wide handler.
bool g_grabFailed = false;
XErrorHandler g_previousHandler = nullptr;
std::vector<Display*> g_ours;

int OnXError(Display* dpy, XErrorEvent* e) {
  bool ours = false;
  for (Display* d : g_ours) ours = ours || d == dpy;
  if (!ours) return g_previousHandler != nullptr ? g_previousHandler(dpy, e) : 0;
  if (e->error_code == BadAccess && e->request_code == X_GrabKey) {
    g_grabFailed = true;
    return 0;
  }
  char text[128] = {};
  XGetErrorText(dpy, e->error_code, text, sizeof text);
  std::fprintf(stderr, "vesk: X error %s (request %d.%d)\n", text, e->request_code, e->minor_code);
  return 0;
}

XIOErrorHandler g_previousIoHandler = nullptr;

int OnIoError(Display* dpy) {
  for (Display* d : g_ours) {
    // Ours: report, and let the exit handler below mark it dead.
    if (d == dpy) return 0;
  }
  return g_previousIoHandler != nullptr ? g_previousIoHandler(dpy) : 0;
}

void OnIoErrorExit(Display*, void* flag) {
  // Instead of exiting: the connection is marked dead and given up.
  *static_cast<bool*>(flag) = true;
}

}  // namespace

void AdoptConnection(Display* dpy, bool* dead) {
  static bool installed = false;
  if (!installed) {
    installed = true;
    g_previousHandler = XSetErrorHandler(&OnXError);
    g_previousIoHandler = XSetIOErrorHandler(&OnIoError);
  }
  g_ours.push_back(dpy);
  XSetIOErrorExitHandler(dpy, &OnIoErrorExit, dead);
}

void ForgetConnection(Display* dpy) { std::erase(g_ours, dpy); }

bool* GrabRefusedFlag() { return &g_grabFailed; }

}  // namespace vesk::x11
