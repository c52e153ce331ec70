#pragma once
// Wakes the UI thread from any thread: post(what) queues a message through the platform's
// message windows, and the handler runs with `what` on the UI thread. Messages posted after the
// wake is destroyed go nowhere.
#include <cstdint>
#include <functional>

#include "platform/message_window.h"

class CWakeWindow final : public CMessageWindow {
 public:
  // UI thread. The handler runs on the UI thread only.
  explicit CWakeWindow(std::function<void(uint32_t what)> handler);
  ~CWakeWindow() override;

  // Any thread.
  bool post(uint32_t what);

  int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

 private:
  static constexpr uint32_t kWake = 1;
  std::function<void(uint32_t)> handler_;
};
