// Makes a window layered and sets its opacity in percent. The layered-window
// function is looked up by name on every call, so a system without it
// simply shows no transparency.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace vesk {

class LayeredWindowHelper {
 public:
  LayeredWindowHelper();
  virtual ~LayeredWindowHelper();
  LayeredWindowHelper(const LayeredWindowHelper&) = delete;
  LayeredWindowHelper& operator=(const LayeredWindowHelper&) = delete;

  // Adds WS_EX_LAYERED; returns the previous extended style.
  std::uint32_t MakeLayered(WindowId window);
  bool SetOpacity(WindowId window, std::uint8_t percent);
  bool ApplyLayeredAttributes(WindowId window, std::uint32_t colorKey, std::uint8_t alpha,
                              std::uint32_t flags);

 private:
  ModuleHandle user32Module = 0;
};

}  // namespace vesk
