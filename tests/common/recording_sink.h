// A window's message sink for tests: keeps every message it is given, and
// lets a test act on each one as it arrives.
#pragma once

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/platform.h"

namespace vesk::testing {

struct Message {
  std::uint32_t message;
  WParam wParam;
  LParam lParam;
  bool operator==(const Message&) const = default;
};

class RecordingSink : public WindowSink {
 public:
  LResult HandleMessage(std::uint32_t message, WParam wParam, LParam lParam) override {
    got.push_back({message, wParam, lParam});
    return onMessage ? onMessage(message, wParam, lParam) : 0;
  }
  bool Has(std::uint32_t message, WParam wParam) const {
    return std::any_of(got.begin(), got.end(), [&](const Message& m) {
      return m.message == message && m.wParam == wParam;
    });
  }
  std::vector<Message> got;
  std::function<LResult(std::uint32_t, WParam, LParam)> onMessage;
};

}  // namespace vesk::testing
