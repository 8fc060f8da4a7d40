// The libei functions the remote-input path uses, looked up at run time.
#include "platform/wayland/libei_api.h"

#include <dlfcn.h>

namespace vesk::wayland {
namespace {

struct Loaded {
  LibEi api;
  bool ok = false;
  std::string error;
};

template <typename Fn>
bool Resolve(void* lib, const char* name, Fn& fn, std::string& error) {
  void* sym = dlsym(lib, name);
  if (sym == nullptr) {
    if (error.empty()) error = std::string("libei.so.1 lacks ") + name;
    return false;
  }
  fn = reinterpret_cast<Fn>(sym);
  return true;
}

Loaded Load() {
  Loaded l;
  // Kept for the life of the process: devices and contexts may outlive any owner.
  void* lib = dlopen("libei.so.1", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* e = dlerror();
    l.error = e != nullptr ? e : "libei.so.1 not found";
    return l;
  }
  LibEi& a = l.api;
  std::string& e = l.error;
  bool ok = true;
  ok &= Resolve(lib, "ei_new_sender", a.new_sender, e);
  ok &= Resolve(lib, "ei_unref", a.unref, e);
  ok &= Resolve(lib, "ei_configure_name", a.configure_name, e);
  ok &= Resolve(lib, "ei_get_user_data", a.get_user_data, e);
  ok &= Resolve(lib, "ei_log_set_handler", a.log_set_handler, e);
  ok &= Resolve(lib, "ei_log_set_priority", a.log_set_priority, e);
  ok &= Resolve(lib, "ei_setup_backend_fd", a.setup_backend_fd, e);
  ok &= Resolve(lib, "ei_get_fd", a.get_fd, e);
  ok &= Resolve(lib, "ei_dispatch", a.dispatch, e);
  ok &= Resolve(lib, "ei_get_event", a.get_event, e);
  ok &= Resolve(lib, "ei_now", a.now, e);
  ok &= Resolve(lib, "ei_event_unref", a.event_unref, e);
  ok &= Resolve(lib, "ei_event_get_type", a.event_get_type, e);
  ok &= Resolve(lib, "ei_event_get_seat", a.event_get_seat, e);
  ok &= Resolve(lib, "ei_event_get_device", a.event_get_device, e);
  ok &= Resolve(lib, "ei_seat_bind_capabilities", a.seat_bind_capabilities, e);
  ok &= Resolve(lib, "ei_device_ref", a.device_ref, e);
  ok &= Resolve(lib, "ei_device_unref", a.device_unref, e);
  ok &= Resolve(lib, "ei_device_has_capability", a.device_has_capability, e);
  ok &= Resolve(lib, "ei_device_get_region", a.device_get_region, e);
  ok &= Resolve(lib, "ei_region_get_x", a.region_get_x, e);
  ok &= Resolve(lib, "ei_region_get_y", a.region_get_y, e);
  ok &= Resolve(lib, "ei_region_get_width", a.region_get_width, e);
  ok &= Resolve(lib, "ei_region_get_height", a.region_get_height, e);
  ok &= Resolve(lib, "ei_region_get_physical_scale", a.region_get_physical_scale, e);
  ok &= Resolve(lib, "ei_device_start_emulating", a.device_start_emulating, e);
  ok &= Resolve(lib, "ei_device_stop_emulating", a.device_stop_emulating, e);
  ok &= Resolve(lib, "ei_device_frame", a.device_frame, e);
  ok &= Resolve(lib, "ei_device_pointer_motion_absolute", a.device_pointer_motion_absolute, e);
  ok &= Resolve(lib, "ei_device_button_button", a.device_button_button, e);
  ok &= Resolve(lib, "ei_device_scroll_discrete", a.device_scroll_discrete, e);
  ok &= Resolve(lib, "ei_device_keyboard_key", a.device_keyboard_key, e);
  l.ok = ok;
  return l;
}

const Loaded& Instance() {
  static const Loaded loaded = Load();
  return loaded;
}

}  // namespace

const LibEi* LibEi::Get() { return Instance().ok ? &Instance().api : nullptr; }

const std::string& LibEi::LoadError() { return Instance().error; }

}  // namespace vesk::wayland
