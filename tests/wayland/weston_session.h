// A real Wayland session for one test process: weston with Xwayland, drawn
// by the CPU into a window of a private Xvfb, which also serves as the
// session's mouse and keyboard (weston's headless output has no input
// devices, and Xwayland hands X input only to the X window the compositor's
// pointer is over). It sets WAYLAND_DISPLAY, XDG_RUNTIME_DIR and DISPLAY
// (Xwayland's) for whatever runs afterwards.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vesk::testing {

class Weston {
 public:
  // hardwareDisplay: the X server weston's window and input live on.
  explicit Weston(const std::string& hardwareDisplay) : hardware_(hardwareDisplay) {
    namespace fs = std::filesystem;
    runtime_ = fs::temp_directory_path() / ("vesk-weston-" + std::to_string(getpid()));
    fs::remove_all(runtime_);
    fs::create_directories(runtime_);
    chmod(runtime_.c_str(), 0700);
    const std::string socket = "wayland-vesk-" + std::to_string(getpid());
    log_ = (runtime_ / "weston.log").string();
    std::vector<std::string> args{"weston",
                                  "--backend=x11-backend.so",
                                  "--use-pixman",
                                  "--width=" + std::to_string(kWidth),
                                  "--height=" + std::to_string(kHeight),
                                  "--xwayland",
                                  "--socket=" + socket,
                                  "--idle-time=0",
                                  "--log=" + log_};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    setenv("DISPLAY", hardware_.c_str(), 1);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      execvp("weston", argv.data());
      _exit(127);
    }
    // Xwayland's display number is in the log once its socket listens.
    const std::regex listening("xserver listening on display (:[0-9]+)");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::smatch m;
    while (display_.empty()) {
      if (std::chrono::steady_clock::now() > deadline || waitpid(pid_, nullptr, WNOHANG) != 0) {
        throw std::runtime_error("weston with Xwayland did not start: " + Log());
      }
      const std::string log = Log();
      if (std::regex_search(log, m, listening)) display_ = m[1];
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    setenv("WAYLAND_DISPLAY", socket.c_str(), 1);
    setenv("DISPLAY", display_.c_str(), 1);
  }
  ~Weston() {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::error_code ec;
    std::filesystem::remove_all(runtime_, ec);
  }
  Weston(const Weston&) = delete;
  Weston& operator=(const Weston&) = delete;

  std::string Log() const {
    std::ifstream in(log_);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  const std::string& display() const { return display_; }
  const std::string& hardware() const { return hardware_; }

  // The output's size; weston's window sits at the hardware screen's origin.
  static constexpr int kWidth = 1024;
  static constexpr int kHeight = 768;

 private:
  std::string hardware_;
  pid_t pid_ = 0;
  std::filesystem::path runtime_;
  std::string log_;
  std::string display_;
};

}  // namespace vesk::testing
