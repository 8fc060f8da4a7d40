// What the Linux backend's input tests share: hook procedures that note what
// they see, and a backend with a fake user on a real X server.
#pragma once

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <algorithm>

#include "platform/qt/qt_backend.h"
#include "platform/x11/injector.h"
#include "platform/x11/x11_input.h"
#include "x_session.h"

namespace vesk::testing {

using qt::QtBackend;

// Hook procedures are plain functions: what they see goes here.
struct Seen {
  std::vector<EVENTMSG> recorded;
  std::vector<KBDLLHOOKSTRUCT> keys;
  std::vector<WParam> keyMessages;
  std::vector<std::uint32_t> retrieved;
};
inline Seen g_seen;

inline LResult RecordProc(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g_seen.recorded.push_back(*reinterpret_cast<const EVENTMSG*>(lParam));
  return 0;
}
inline LResult KeyboardProc(int, WParam wParam, LParam lParam) {
  g_seen.keys.push_back(*reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam));
  g_seen.keyMessages.push_back(wParam);
  return 1;
}
inline LResult GetMessageProc(int code, WParam, LParam lParam) {
  if (code == HC_ACTION) g_seen.retrieved.push_back(reinterpret_cast<const MSG*>(lParam)->message);
  return 0;
}

inline void Pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }

class BackendInput : public ::testing::Test {
 protected:
  BackendInput() { g_seen = {}; }
  QtBackend backend;
  FakeInput user;
};


inline std::uint32_t Key(std::uint32_t scan, std::uint32_t vk) { return scan << 8 | vk; }

}  // namespace vesk::testing
