#include "mox/dispatch/resource_callback_hook.h"

#include <atomic>

namespace {
std::atomic<ResourceCallbackHook> installedHook{nullptr};
}

void setResourceCallbackHook(ResourceCallbackHook hook) {
  installedHook.store(hook, std::memory_order_release);
}

void runResourceCallbackHook() {
  ResourceCallbackHook hook = installedHook.load(std::memory_order_acquire);
  if (hook != nullptr) hook();
}
