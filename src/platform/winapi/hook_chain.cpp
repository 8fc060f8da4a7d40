// The hook chain: install, remove, the first hook of a kind, CallNextHookEx.
#include "platform/winapi/hook_chain.h"

#include <algorithm>

namespace vesk::winapi {

HookHandle HookChain::Install(int kind, HookProc proc) {
  if (proc == nullptr) return 0;
  const HookHandle handle = next_++;
  hooks_.push_back({handle, kind, proc, true});
  return handle;
}

bool HookChain::Remove(HookHandle hook) {
  if (hook == 0) return false;
  for (Hook& h : hooks_) {
    if (h.handle == hook && h.alive) {
      h.alive = false;
      const int kind = h.kind;  // the notice may install hooks
      if (lastRemoved_ && !AnyAlive(kind)) lastRemoved_(kind);
      return true;
    }
  }
  return false;
}

bool HookChain::Drop(int kind) {
  bool any = false;
  for (Hook& h : hooks_) {
    if (h.alive && h.kind == kind) {
      h.alive = false;
      any = true;
    }
  }
  return any;
}

HookChain::Hook* HookChain::First(int kind) {
  for (auto it = hooks_.rbegin(); it != hooks_.rend(); ++it) {
    if (it->alive && it->kind == kind) return &*it;
  }
  return nullptr;
}

HookHandle HookChain::FirstHandle(int kind) {
  const Hook* h = First(kind);
  return h != nullptr ? h->handle : HookHandle{0};
}

bool HookChain::AnyAlive(int kind) const {
  return std::any_of(hooks_.begin(), hooks_.end(),
                     [kind](const Hook& h) { return h.alive && h.kind == kind; });
}

int HookChain::KindOf(HookHandle hook) const {
  for (const Hook& h : hooks_) {
    if (h.handle == hook) return h.kind;
  }
  return -1;
}

const HookChain::Hook* HookChain::Next(HookHandle hook) const {
  auto it = std::find_if(hooks_.rbegin(), hooks_.rend(),
                         [hook](const Hook& h) { return h.handle == hook; });
  if (it == hooks_.rend()) return nullptr;
  const int kind = it->kind;
  for (++it; it != hooks_.rend(); ++it) {
    if (it->alive && it->kind == kind) return &*it;
  }
  return nullptr;
}

LResult HookChain::CallNext(HookHandle hook, int code, WParam wParam, LParam lParam) const {
  const Hook* next = Next(hook);
  if (next == nullptr) return 0;
  const HookProc proc = next->proc;  // the procedure may install hooks
  return proc(code, wParam, lParam);
}

LResult HookChain::CallFirst(int kind, int code, WParam wParam, LParam lParam) {
  const Hook* h = First(kind);
  if (h == nullptr) return 0;
  const HookProc proc = h->proc;
  return proc(code, wParam, lParam);
}

void HookChain::Compact() {
  std::erase_if(hooks_, [](const Hook& h) { return !h.alive; });
}

void HookChain::Clear() {
  for (Hook& h : hooks_) h.alive = false;
}

}  // namespace vesk::winapi
