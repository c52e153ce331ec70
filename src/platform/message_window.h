#pragma once
// Windows that receive numbered messages, and the calls that reach them from any thread.
//
// Every window registers under a WindowId that is never reused, so a stale id is simply "not a
// live window". Windows are created and destroyed on the UI thread (the thread of the
// QCoreApplication); handlers always run there.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

class QTimer;

using WindowId = uint64_t;
inline constexpr WindowId kNoWindow = 0;

class CMessageWindow {
 public:
  CMessageWindow();
  virtual ~CMessageWindow();
  CMessageWindow(const CMessageWindow&) = delete;
  CMessageWindow& operator=(const CMessageWindow&) = delete;

  WindowId windowId() const { return id_; }

  // The one dispatcher of the window. Returns kHandled (0), kRefused (-1) or a message's value.
  virtual int onMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) = 0;

  // Timers by id: expiry arrives as onMessage(msg::kTimer, id, 0), every periodMs until killed.
  // Starting an id that runs restarts it with the new period.
  bool setTimer(uint32_t id, int periodMs);
  bool killTimer(uint32_t id);
  bool timerRunning(uint32_t id) const;

  // Stops timers and unregisters now; for owners that must stop messages before their own
  // destructor body runs (the base destructor does it too).
  void unregisterWindow();

 private:
  WindowId id_;
  std::map<uint32_t, std::unique_ptr<QTimer>> timers_;
};

namespace platform {

// True on the thread that runs windows (the QCoreApplication's thread).
bool isUiThread();

// True while a window with this id exists.
bool isWindow(WindowId window);

// Runs the handler and returns its result. On the UI thread the call is direct; from any other
// thread it is queued to the UI thread and blocks until handled. Empty when the window doesn't
// exist, is destroyed before the message is handled, or the application shuts down.
std::optional<int> sendMessage(WindowId window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

namespace detail {
struct PendingSend;
}

// Lets any thread withdraw the cross-thread send that a worker is blocked in, as long as the UI
// thread hasn't begun to handle it, so the worker can be joined without running a handler.
class CSendCanceller {
 public:
  // The worker, before each send through this canceller: forget an earlier cancel.
  void arm();
  // Any thread: the send in progress, or the next one before arm(), ends unhandled and returns
  // empty. A send whose handler already runs is left to finish.
  void cancel();

 private:
  friend std::optional<int> sendMessage(WindowId, uint32_t, uintptr_t, intptr_t, CSendCanceller&);
  std::mutex mutex_;  // guards both fields; taken before the message layer's own lock
  bool cancelled_ = false;
  std::shared_ptr<detail::PendingSend> pending_;
};

// sendMessage that canceller can withdraw (see above). Empty when withdrawn.
std::optional<int> sendMessage(WindowId window, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                               CSendCanceller& canceller);

// Queues the message for the UI thread; messages from one thread arrive in the order posted.
// False (and nothing queued) when the window doesn't exist; a message whose window is destroyed
// before delivery is dropped.
bool postMessage(WindowId window, uint32_t msg, uintptr_t wParam, intptr_t lParam);

// The application's main window (kNoWindow until set).
void setMainWindow(WindowId window);
WindowId mainWindow();

// UI thread only: handles every cross-thread send waiting now. Returns how many were handled.
int serviceSentMessages();

// UI thread only: waits until done() is true while handling cross-thread sends, so a worker that
// is blocked in sendMessage can finish. Used before joining threads that may send to windows.
void waitServicingSends(const std::function<bool()>& done);

// Runs the UI event loop until done() is true or timeoutMs passes; returns done(). For tests and
// for headless runs that have no running event loop.
bool processMessagesUntil(const std::function<bool()>& done, int timeoutMs);

}  // namespace platform
