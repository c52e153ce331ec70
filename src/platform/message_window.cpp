#include "platform/message_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/messages.h"

namespace platform::detail {

// A send from a worker thread, waiting for the UI thread to run the handler.
struct PendingSend {
  WindowId target;
  uint32_t msg;
  uintptr_t wParam;
  intptr_t lParam;
  enum class State { Waiting, Done, Failed } state = State::Waiting;
  int result = 0;
};

}  // namespace platform::detail

namespace {

using platform::detail::PendingSend;

const QEvent::Type kPostedEventType = static_cast<QEvent::Type>(QEvent::registerEventType());
const QEvent::Type kDrainSendsEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedMessageEvent final : public QEvent {
 public:
  PostedMessageEvent(WindowId target, uint32_t msg, uintptr_t wParam, intptr_t lParam)
      : QEvent(kPostedEventType), target(target), msg(msg), wParam(wParam), lParam(lParam) {}
  WindowId target;
  uint32_t msg;
  uintptr_t wParam;
  intptr_t lParam;
};

class Receiver;

// Process-wide state of the message layer. Guarded by mutex_; handlers never run under it.
class Router {
 public:
  static Router& instance() {
    static Router router;
    return router;
  }

  WindowId registerWindow(CMessageWindow* window) {
    ensureReceiver();
    std::lock_guard lock(mutex_);
    const WindowId id = ++lastId_;
    windows_.emplace(id, window);
    return id;
  }

  void unregisterWindow(WindowId id) {
    std::lock_guard lock(mutex_);
    windows_.erase(id);
    if (mainWindow_ == id) mainWindow_ = kNoWindow;
    // Release every sender that waits for this window.
    for (auto it = sends_.begin(); it != sends_.end();) {
      if ((*it)->target == id) {
        (*it)->state = PendingSend::State::Failed;
        it = sends_.erase(it);
      } else {
        ++it;
      }
    }
    cv_.notify_all();
  }

  bool isWindow(WindowId id) {
    std::lock_guard lock(mutex_);
    return windows_.count(id) != 0;
  }

  CMessageWindow* lookup(WindowId id) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : it->second;
  }

  bool post(WindowId id, uint32_t msg, uintptr_t wParam, intptr_t lParam);
  // Queues the send for the UI thread; null when the window doesn't exist.
  std::shared_ptr<PendingSend> enqueueSend(WindowId id, uint32_t msg, uintptr_t wParam,
                                           intptr_t lParam);
  // Blocks until the UI thread has handled the send or it failed.
  std::optional<int> awaitSend(const std::shared_ptr<PendingSend>& send);
  // Fails a send that the UI thread hasn't taken yet; one being handled is left alone.
  void withdraw(const std::shared_ptr<PendingSend>& send);
  int drainSends();

  void waitForSends(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    cv_.wait_for(lock, timeout, [this] { return !sends_.empty(); });
  }

  void setMainWindow(WindowId id) {
    std::lock_guard lock(mutex_);
    mainWindow_ = id;
  }
  WindowId mainWindow() {
    std::lock_guard lock(mutex_);
    return mainWindow_;
  }

  // Qt's posted-event queue hands events over under a lock that ThreadSanitizer can't see; taking
  // ours once makes the hand-over from the posting thread visible (events are built under it).
  void synchronizeWithPosters() { std::lock_guard lock(mutex_); }

  // Called when the application object goes away: nothing can be delivered any more.
  void shutdown() {
    std::lock_guard lock(mutex_);
    receiver_ = nullptr;
    for (auto& send : sends_) send->state = PendingSend::State::Failed;
    sends_.clear();
    cv_.notify_all();
  }

 private:
  void ensureReceiver();

  std::mutex mutex_;
  std::condition_variable cv_;
  std::unordered_map<WindowId, CMessageWindow*> windows_;
  std::deque<std::shared_ptr<PendingSend>> sends_;
  WindowId lastId_ = 0;
  WindowId mainWindow_ = kNoWindow;
  Receiver* receiver_ = nullptr;  // lives on the UI thread, owned by the application object
};

// Delivers posted messages and wakes the UI thread for cross-thread sends.
class Receiver final : public QObject {
 public:
  explicit Receiver(QObject* parent) : QObject(parent) {}
  ~Receiver() override { Router::instance().shutdown(); }

  bool event(QEvent* e) override {
    // Before the event itself is read: only events posted by our own calls come here.
    Router::instance().synchronizeWithPosters();
    if (e->type() == kPostedEventType) {
      auto* posted = static_cast<PostedMessageEvent*>(e);
      if (CMessageWindow* window = Router::instance().lookup(posted->target))
        window->onMessage(posted->msg, posted->wParam, posted->lParam);
      return true;
    }
    if (e->type() == kDrainSendsEventType) {
      Router::instance().drainSends();
      return true;
    }
    return QObject::event(e);
  }
};

void Router::ensureReceiver() {
  std::lock_guard lock(mutex_);
  if (receiver_ != nullptr) return;
  QCoreApplication* app = QCoreApplication::instance();
  assert(app != nullptr && "windows need a QCoreApplication");
  if (app == nullptr) return;
  receiver_ = new Receiver(app);  // owned by the application object
}

bool Router::post(WindowId id, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard lock(mutex_);
  if (receiver_ == nullptr || windows_.count(id) == 0) return false;
  // postEvent is thread-safe; holding mutex_ keeps receiver_ alive against shutdown().
  QCoreApplication::postEvent(receiver_, new PostedMessageEvent(id, msg, wParam, lParam));
  return true;
}

std::shared_ptr<PendingSend> Router::enqueueSend(WindowId id, uint32_t msg, uintptr_t wParam,
                                                 intptr_t lParam) {
  auto send = std::make_shared<PendingSend>(PendingSend{id, msg, wParam, lParam});
  std::lock_guard lock(mutex_);
  if (receiver_ == nullptr || windows_.count(id) == 0) return nullptr;
  sends_.push_back(send);
  QCoreApplication::postEvent(receiver_, new QEvent(kDrainSendsEventType));
  cv_.notify_all();
  return send;
}

std::optional<int> Router::awaitSend(const std::shared_ptr<PendingSend>& send) {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [&] { return send->state != PendingSend::State::Waiting; });
  if (send->state == PendingSend::State::Failed) return std::nullopt;
  return send->result;
}

void Router::withdraw(const std::shared_ptr<PendingSend>& send) {
  std::lock_guard lock(mutex_);
  const auto it = std::find(sends_.begin(), sends_.end(), send);
  if (it == sends_.end()) return;  // being handled or finished
  sends_.erase(it);
  send->state = PendingSend::State::Failed;
  cv_.notify_all();
}

int Router::drainSends() {
  int handled = 0;
  for (;;) {
    std::shared_ptr<PendingSend> send;
    CMessageWindow* window = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (sends_.empty()) break;
      send = sends_.front();
      sends_.pop_front();
      auto it = windows_.find(send->target);
      if (it == windows_.end()) {
        send->state = PendingSend::State::Failed;
        cv_.notify_all();
        continue;
      }
      window = it->second;
    }
    const int result = window->onMessage(send->msg, send->wParam, send->lParam);
    {
      std::lock_guard lock(mutex_);
      send->result = result;
      send->state = PendingSend::State::Done;
      cv_.notify_all();
    }
    ++handled;
  }
  return handled;
}

}  // namespace

CMessageWindow::CMessageWindow() : id_(Router::instance().registerWindow(this)) {}

CMessageWindow::~CMessageWindow() {
  unregisterWindow();
}

void CMessageWindow::unregisterWindow() {
  timers_.clear();
  if (id_ != kNoWindow) Router::instance().unregisterWindow(id_);
}

bool CMessageWindow::setTimer(uint32_t id, int periodMs) {
  if (periodMs < 0 || !platform::isWindow(id_)) return false;
  auto& timer = timers_[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    const WindowId self = id_;
    QObject::connect(timer.get(), &QTimer::timeout, [self, id] {
      if (CMessageWindow* window = Router::instance().lookup(self))
        window->onMessage(msg::kTimer, id, 0);
    });
  }
  timer->start(periodMs);
  return true;
}

bool CMessageWindow::killTimer(uint32_t id) {
  auto it = timers_.find(id);
  if (it == timers_.end() || !it->second->isActive()) return false;
  // Stopped, not destroyed: the handler that kills it may be running inside its timeout signal.
  it->second->stop();
  return true;
}

bool CMessageWindow::timerRunning(uint32_t id) const {
  auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

namespace platform {

bool isUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

bool isWindow(WindowId window) {
  return window != kNoWindow && Router::instance().isWindow(window);
}

std::optional<int> sendMessage(WindowId window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (window == kNoWindow) return std::nullopt;
  if (isUiThread()) {
    CMessageWindow* target = Router::instance().lookup(window);
    if (target == nullptr) return std::nullopt;
    return target->onMessage(msg, wParam, lParam);
  }
  Router& router = Router::instance();
  const auto send = router.enqueueSend(window, msg, wParam, lParam);
  if (!send) return std::nullopt;
  return router.awaitSend(send);
}

std::optional<int> sendMessage(WindowId window, uint32_t msg, uintptr_t wParam, intptr_t lParam,
                               CSendCanceller& canceller) {
  if (window == kNoWindow || isUiThread()) {
    {
      std::lock_guard lock(canceller.mutex_);
      if (canceller.cancelled_) return std::nullopt;
    }
    return sendMessage(window, msg, wParam, lParam);
  }
  Router& router = Router::instance();
  std::shared_ptr<detail::PendingSend> send;
  {
    // Registered under the canceller's lock, so a cancel either sees the send or stops it here.
    std::lock_guard lock(canceller.mutex_);
    if (canceller.cancelled_) return std::nullopt;
    send = router.enqueueSend(window, msg, wParam, lParam);
    if (!send) return std::nullopt;
    canceller.pending_ = send;
  }
  const std::optional<int> result = router.awaitSend(send);
  std::lock_guard lock(canceller.mutex_);
  canceller.pending_.reset();
  return result;
}

void CSendCanceller::arm() {
  std::lock_guard lock(mutex_);
  cancelled_ = false;
}

void CSendCanceller::cancel() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
  if (pending_) Router::instance().withdraw(pending_);
}

bool postMessage(WindowId window, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  return window != kNoWindow && Router::instance().post(window, msg, wParam, lParam);
}

void setMainWindow(WindowId window) {
  Router::instance().setMainWindow(window);
}
WindowId mainWindow() {
  return Router::instance().mainWindow();
}

int serviceSentMessages() {
  if (!isUiThread()) return 0;
  return Router::instance().drainSends();
}

void waitServicingSends(const std::function<bool()>& done) {
  if (!isUiThread()) {
    while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return;
  }
  while (!done()) {
    Router::instance().drainSends();
    if (done()) break;
    Router::instance().waitForSends(std::chrono::milliseconds(2));
  }
}

bool processMessagesUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() >= timeoutMs) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Router::instance().drainSends();
    if (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace platform
