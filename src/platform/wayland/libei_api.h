// The few libei functions the remote-input path uses, looked up at run time
// so that one binary starts on systems without the library (it is then not
// used). The types are the library's own, opaque here; the enumerations
// carry the values of its stable 1.x interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" {
struct ei;
struct ei_event;
struct ei_seat;
struct ei_device;
struct ei_region;
struct ei_log_context;
}

namespace vesk::wayland {

namespace ei_event_type {
inline constexpr int kConnect = 1;
inline constexpr int kDisconnect = 2;
inline constexpr int kSeatAdded = 3;
inline constexpr int kSeatRemoved = 4;
inline constexpr int kDeviceAdded = 5;
inline constexpr int kDeviceRemoved = 6;
inline constexpr int kDevicePaused = 7;
inline constexpr int kDeviceResumed = 8;
}  // namespace ei_event_type

namespace ei_log_priority {
inline constexpr int kInfo = 20;
inline constexpr int kWarning = 30;
}  // namespace ei_log_priority

using EiLogHandler = void (*)(::ei* ctx, int priority, const char* message,
                              ::ei_log_context* context);

namespace ei_cap {
inline constexpr int kPointer = 1 << 0;
inline constexpr int kPointerAbsolute = 1 << 1;
inline constexpr int kKeyboard = 1 << 2;
inline constexpr int kScroll = 1 << 4;
inline constexpr int kButton = 1 << 5;
}  // namespace ei_cap

struct LibEi {
  ::ei* (*new_sender)(void* user_data) = nullptr;
  ::ei* (*unref)(::ei* ctx) = nullptr;
  void (*configure_name)(::ei* ctx, const char* name) = nullptr;
  void* (*get_user_data)(::ei* ctx) = nullptr;
  void (*log_set_handler)(::ei* ctx, EiLogHandler handler) = nullptr;
  void (*log_set_priority)(::ei* ctx, int priority) = nullptr;
  int (*setup_backend_fd)(::ei* ctx, int fd) = nullptr;
  int (*get_fd)(::ei* ctx) = nullptr;
  void (*dispatch)(::ei* ctx) = nullptr;
  ::ei_event* (*get_event)(::ei* ctx) = nullptr;
  std::uint64_t (*now)(::ei* ctx) = nullptr;
  ::ei_event* (*event_unref)(::ei_event* event) = nullptr;
  int (*event_get_type)(::ei_event* event) = nullptr;
  ::ei_seat* (*event_get_seat)(::ei_event* event) = nullptr;
  ::ei_device* (*event_get_device)(::ei_event* event) = nullptr;
  void (*seat_bind_capabilities)(::ei_seat* seat, ...) = nullptr;
  ::ei_device* (*device_ref)(::ei_device* device) = nullptr;
  ::ei_device* (*device_unref)(::ei_device* device) = nullptr;
  bool (*device_has_capability)(::ei_device* device, int cap) = nullptr;
  ::ei_region* (*device_get_region)(::ei_device* device, std::size_t index) = nullptr;
  std::uint32_t (*region_get_x)(::ei_region* region) = nullptr;
  std::uint32_t (*region_get_y)(::ei_region* region) = nullptr;
  std::uint32_t (*region_get_width)(::ei_region* region) = nullptr;
  std::uint32_t (*region_get_height)(::ei_region* region) = nullptr;
  double (*region_get_physical_scale)(::ei_region* region) = nullptr;
  void (*device_start_emulating)(::ei_device* device, std::uint32_t sequence) = nullptr;
  void (*device_stop_emulating)(::ei_device* device) = nullptr;
  void (*device_frame)(::ei_device* device, std::uint64_t time) = nullptr;
  void (*device_pointer_motion_absolute)(::ei_device* device, double x, double y) = nullptr;
  void (*device_button_button)(::ei_device* device, std::uint32_t button, bool press) = nullptr;
  void (*device_scroll_discrete)(::ei_device* device, std::int32_t x, std::int32_t y) = nullptr;
  void (*device_keyboard_key)(::ei_device* device, std::uint32_t key, bool press) = nullptr;

  // The library, loaded once for the process; null when it is missing or
  // lacks a function (why() then says which).
  static const LibEi* Get();
  static const std::string& LoadError();
};

}  // namespace vesk::wayland
