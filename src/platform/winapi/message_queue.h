// Posted messages, one queue for the program, and the numbers that
// RegisterWindowMessage hands out for names.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "platform/types.h"

namespace vesk::winapi {

class MessageQueue {
 public:
  struct Posted {
    WindowId window;
    std::uint32_t message;
    WParam wParam;
    LParam lParam;
  };

  void Post(WindowId window, std::uint32_t message, WParam wParam, LParam lParam) {
    posted_.push_back({window, message, wParam, lParam});
  }
  // The oldest message, taken off the queue.
  std::optional<Posted> Take();
  bool Empty() const { return posted_.empty(); }
  // A destroyed window's messages go with it.
  void Forget(WindowId window);

  // The same number for the same name, for as long as the program runs.
  std::uint32_t Register(const std::string& name);

 private:
  std::deque<Posted> posted_;
  std::map<std::string, std::uint32_t> registered_;
};

}  // namespace vesk::winapi
