#include "monitor/wake_window.h"

#include "platform/messages.h"

CWakeWindow::CWakeWindow(std::function<void(uint32_t what)> handler)
    : handler_(std::move(handler)) {}

CWakeWindow::~CWakeWindow() {
  unregisterWindow();
}

bool CWakeWindow::post(uint32_t what) {
  return platform::postMessage(windowId(), kWake, what, 0);
}

int CWakeWindow::onMessage(uint32_t msg, uintptr_t wParam, intptr_t) {
  if (msg != kWake) return kRefused;
  handler_(static_cast<uint32_t>(wParam));
  return kHandled;
}
