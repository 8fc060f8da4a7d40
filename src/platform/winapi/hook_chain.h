// The hook chain as Windows keeps it: hooks by kind, newest first, each
// passing on to the next older one of its kind with CallNextHookEx.
#pragma once

#include <functional>
#include <vector>

#include "platform/types.h"

namespace vesk::winapi {

class HookChain {
 public:
  struct Hook {
    HookHandle handle;
    int kind;
    HookProc proc;
    bool alive;
  };

  explicit HookChain(HookHandle firstHandle) : next_(firstHandle) {}

  // Called when the last live hook of a kind went through Remove.
  void OnLastRemoved(std::function<void(int kind)> notify) { lastRemoved_ = std::move(notify); }

  // A new hook, called before the older ones of its kind; 0 without a
  // procedure.
  HookHandle Install(int kind, HookProc proc);
  // Takes the hook out of its chain; false for a stale or null handle,
  // which changes nothing.
  bool Remove(HookHandle hook);
  // Takes every live hook of that kind out without notice (as the system
  // does when it cancels them); whether there was one.
  bool Drop(int kind);

  // The hook of that kind that is called first, or null.
  Hook* First(int kind);
  HookHandle FirstHandle(int kind);
  bool AnyAlive(int kind) const;
  // The kind a handle was installed for (removed or not); -1 if never.
  int KindOf(HookHandle hook) const;
  // The live hook after this one in its chain, or null at the end.
  const Hook* Next(HookHandle hook) const;
  // Calls the next hook of the chain; 0 at the end or for an unknown handle.
  LResult CallNext(HookHandle hook, int code, WParam wParam, LParam lParam) const;
  // Calls the first hook of that kind; 0 when there is none.
  LResult CallFirst(int kind, int code, WParam wParam, LParam lParam);

  // Forgets removed hooks (only while no procedure is running: a caller
  // may still be walking past them).
  void Compact();
  // Every hook taken out, live ones included, without notice.
  void Clear();

 private:
  std::vector<Hook> hooks_;  // newest last
  HookHandle next_;
  std::function<void(int)> lastRemoved_;
};

}  // namespace vesk::winapi
