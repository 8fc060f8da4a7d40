// The size of the X root (Xwayland's, on a Wayland session), which journal
// positions are measured in.
#pragma once

#include <cstdint>
#include <functional>

namespace vesk::wayland {

// Asks the X server of DISPLAY on every call, over one connection kept by
// the returned function (opened again when lost); false without a server.
std::function<bool(std::int32_t* width, std::int32_t* height)> KeptXRootQuery();

}  // namespace vesk::wayland
