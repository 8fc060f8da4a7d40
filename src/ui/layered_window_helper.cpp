// Making a window layered and setting its opacity.
#include "ui/layered_window_helper.h"

#include "platform/platform.h"

namespace vesk {

LayeredWindowHelper::LayeredWindowHelper() : user32Module(Sys().LoadLibrary("USER32.dll")) {}

LayeredWindowHelper::~LayeredWindowHelper() {
  if (user32Module != 0) Sys().FreeLibrary(user32Module);
  user32Module = 0;
}

std::uint32_t LayeredWindowHelper::MakeLayered(WindowId window) {
  const std::uint32_t style = Sys().GetWindowLong(window, GWL_EXSTYLE);
  return Sys().SetWindowLong(window, GWL_EXSTYLE, style | WS_EX_LAYERED);
}

bool LayeredWindowHelper::SetOpacity(WindowId window, std::uint8_t percent) {
  const unsigned clamped = percent > 100 ? 100u : percent;
  const auto alpha = static_cast<std::uint8_t>(clamped * 255u / 100u);
  return ApplyLayeredAttributes(window, 0, alpha, LWA_ALPHA);
}

bool LayeredWindowHelper::ApplyLayeredAttributes(WindowId window, std::uint32_t colorKey,
                                                 std::uint8_t alpha, std::uint32_t flags) {
  if (user32Module == 0) return true;
  const ProcAddress proc = Sys().GetProcAddress(user32Module, "SetLayeredWindowAttributes");
  if (proc == nullptr) return false;
  const auto fn = reinterpret_cast<SetLayeredWindowAttributesFn>(proc);
  return fn(window, colorKey, alpha, flags) != 0;
}

}  // namespace vesk
