// A stand-in for a Wayland desktop's remote input: the RemoteDesktop portal
// (org.freedesktop.portal.Desktop, interface version 2) on the session bus,
// and an emulated-input server built with libeis that the portal's
// ConnectToEIS hands a socket of; also the screen saver interface. It does
// what the real desktops do: an offered restore token is used up, an unknown
// one brings the dialog back and one that is not a UUID fails the request;
// monitor and keymap changes swap the devices; a lock pauses nothing. Both run on threads of their
// own, so the program under test may block on the bus. What arrives is kept with its frame time and
// the moment it was received.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vesk::testing {

struct FakeRegion {
  std::uint32_t x, y, width, height;
  double scale;
};

struct Received {
  enum class Kind { Move, Button, Scroll, Key };
  Kind kind;
  std::string device;
  double x = 0, y = 0;  // Move: position; Scroll: discrete steps
  std::uint32_t code = 0;
  bool press = false;
  std::uint64_t frameUs = 0;     // the sender's frame time
  std::uint64_t receivedUs = 0;  // CLOCK_MONOTONIC when the frame arrived
};

class FakeDesktop {
 public:
  // Hold: the dialog stays up until AnswerDialog.
  enum class Answer { Grant, Refuse, CloseDialog, Hold };
  struct Config {
    unsigned version = 2;
    Answer answer = Answer::Grant;
    // Tokens Start accepts without asking (each once: offering one uses it
    // up); a new one is handed out whenever the session persists.
    std::vector<std::string> validTokens;
    bool connectToEis = true;        // false: a backend without ConnectToEIS
    bool wholeWheelNotches = false;  // GNOME's: amounts / 120, the rest dropped
    std::vector<FakeRegion> regions{{0, 0, 1024, 768, 1.0}};
    bool resumeAtOnce = true;  // false: devices wait for Resume()
  };

  explicit FakeDesktop(Config config);
  ~FakeDesktop();

  // What the portal was asked.
  struct Requests {
    int sessions = 0;
    int dialogs = 0;  // Start without a valid token: the user was asked
    unsigned persistMode = 0;
    unsigned types = 0;
    std::string offeredToken;
    std::string parentWindow;  // Start's parent_window
    bool closedByClient = false;
  };
  Requests Asked() const;

  std::vector<Received> Got() const;
  std::size_t DevicesAdded() const;
  bool SeatBound() const;
  bool ClientConnected() const;

  // The desktop's side of things going wrong.
  void Resume();
  void Pause();
  void RemoveDevices();
  // A monitor, scale or keymap change: every device goes, new ones come
  // (on the new layout) and run.
  void SwapDevices(std::vector<FakeRegion> regions);
  void SetLocked(bool locked);  // the screen saver's state and signal
  std::string LastIssuedToken() const;
  void CloseSession();  // the portal session's Closed signal
  void SetValidTokens(std::vector<std::string> tokens);
  void AnswerDialog(Answer answer);  // the user answers a held dialog

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// CLOCK_MONOTONIC in microseconds, the clock of frame times.
std::uint64_t MonotonicUs();

}  // namespace vesk::testing
