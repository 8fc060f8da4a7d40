// Posted messages and registered message numbers.
#include "platform/winapi/message_queue.h"

#include <algorithm>

namespace vesk::winapi {

std::optional<MessageQueue::Posted> MessageQueue::Take() {
  if (posted_.empty()) return std::nullopt;
  Posted p = posted_.front();
  posted_.pop_front();
  return p;
}

void MessageQueue::Forget(WindowId window) {
  std::erase_if(posted_, [window](const Posted& p) { return p.window == window; });
}

std::uint32_t MessageQueue::Register(const std::string& name) {
  return registered_
      .try_emplace(name, WM_REGISTERED_FIRST + static_cast<std::uint32_t>(registered_.size()))
      .first->second;
}

}  // namespace vesk::winapi
