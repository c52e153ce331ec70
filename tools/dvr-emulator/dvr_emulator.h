#pragma once
// The emulated DVR: listens on the control port, runs one thread per connection (at most
// --max-connections at once), and takes control commands. Everything it started is joined by
// stop() (or the destructor).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "emulator_config.h"
#include "emulator_core.h"

namespace dvremu {

class DvrEmulator {
 public:
  explicit DvrEmulator(EmulatorConfig config);
  ~DvrEmulator();
  DvrEmulator(const DvrEmulator&) = delete;
  DvrEmulator& operator=(const DvrEmulator&) = delete;

  // Binds the control port and starts serving; false with the reason in *error.
  bool start(std::string* error);
  void stop();
  uint16_t port() const { return port_; }
  const std::string& address() const { return core_->config().listenAddress; }

  // Runs one control command line and returns its answer (one or more lines).
  std::string execute(const std::string& line);
  // Set by the 'quit' command; its fd becomes readable then.
  bool quitRequested() const { return quit_.load(); }
  int quitFd() { return quitEvent_.fd(); }

  EmulatorCore& core() { return *core_; }

  // How connection threads are started; tests replace it (before start) with one that fails.
  using ThreadStarter = std::function<std::thread(std::function<void()>)>;
  void setThreadStarter(ThreadStarter starter) { threadStarter_ = std::move(starter); }

 private:
  void acceptLoop();
  void spawn(UniqueFd fd, const ListenerPurpose& purpose);
  void reapFinished(bool all);
  int runningWorkers();
  // Closes a connection that can't be served, with a log line at most once a second.
  void refuse(UniqueFd fd, const std::string& reason);

  std::unique_ptr<EmulatorCore> core_;
  uint16_t port_ = 0;
  std::thread acceptor_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> quit_{false};
  WakeEvent quitEvent_;
  ThreadStarter threadStarter_;
  std::chrono::steady_clock::time_point lastRefusalLog_;  // acceptor thread only
  uint64_t refusalsUnlogged_ = 0;                         // acceptor thread only

  struct Worker {
    std::thread thread;
    std::shared_ptr<WireConnection> connection;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex workersMutex_;  // guards workers_; the acceptor adds, the acceptor and stop() join
  std::list<Worker> workers_;
};

}  // namespace dvremu
