#include "dvr_emulator.h"

#include <poll.h>

#include <system_error>
#include <vector>

#include "command_interpreter.h"

namespace dvremu {

DvrEmulator::DvrEmulator(EmulatorConfig config)
    : core_(std::make_unique<EmulatorCore>(std::move(config))),
      threadStarter_([](std::function<void()> work) { return std::thread(std::move(work)); }) {}

DvrEmulator::~DvrEmulator() {
  stop();
}

bool DvrEmulator::start(std::string* error) {
  UniqueFd fd = listenTcp(core_->config().listenAddress, core_->config().listenPort, error);
  if (!fd.valid()) return false;
  port_ = localPort(fd.get());
  for (const auto& command : core_->config().faults) {
    const std::string answer = execute(CommandInterpreter::startCommand(command));
    if (answer.rfind("error", 0) == 0) {
      if (error) *error = "--fault " + command + ": " + answer;
      return false;
    }
  }
  core_->addListener(std::move(fd), ListenerPurpose{});
  acceptor_ = std::thread([this] { acceptLoop(); });
  core_->log().info(std::string("serving ") + std::to_string(core_->config().channelCount) +
                    " channels on " + core_->config().listenAddress + std::string(":") +
                    std::to_string(port_));
  return true;
}

void DvrEmulator::stop() {
  if (stopping_.exchange(true)) return;
  core_->wake().signal();
  if (acceptor_.joinable()) acceptor_.join();
  {
    std::lock_guard lock(workersMutex_);
    for (auto& worker : workers_) worker.connection->shutdown();  // unblocks a send in progress
  }
  reapFinished(true);
  core_->closeAllListeners();
}

void DvrEmulator::acceptLoop() {
  while (true) {
    const auto listeners = core_->listenerFds();
    std::vector<pollfd> fds;
    fds.push_back({core_->wake().fd(), POLLIN, 0});
    fds.push_back({core_->listenerChangeFd(), POLLIN, 0});
    for (const auto& [id, fd] : listeners) fds.push_back({fd, POLLIN, 0});
    const int ready = ::poll(fds.data(), fds.size(), 500);
    if (fds[0].revents & POLLIN) return;
    if (fds[1].revents & POLLIN) core_->drainListenerChanges();
    bool starved = false;
    if (ready > 0) {
      for (size_t i = 0; i < listeners.size(); ++i) {
        if (!(fds[i + 2].revents & POLLIN)) continue;
        ListenerPurpose purpose;
        std::vector<UniqueFd> accepted;
        if (!core_->acceptPending(listeners[i].first, &purpose, &accepted)) starved = true;
        for (auto& connection : accepted) spawn(std::move(connection), purpose);
      }
    }
    reapFinished(false);
    if (starved) {
      // Out of descriptors: the queue stays readable, so give ending connections a moment
      // instead of spinning on it.
      pollfd wake{core_->wake().fd(), POLLIN, 0};
      if (::poll(&wake, 1, 50) > 0) return;
    }
  }
}

void DvrEmulator::spawn(UniqueFd fd, const ListenerPurpose& purpose) {
  const int limit = core_->config().maxConnections;
  if (runningWorkers() >= limit) {
    refuse(std::move(fd), std::to_string(limit) + " connections open (--max-connections)");
    return;
  }
  auto connection =
      std::make_shared<WireConnection>(std::move(fd), core_->nextConnectionId(), core_->services());
  connection->setKind(purpose.kind, purpose.session ? purpose.session->id : 0);
  core_->addConnection(connection);
  core_->stats().connectionsAccepted.fetch_add(1);
  core_->log().info(std::string("#") + std::to_string(connection->id()) + " connection from " +
                    connection->peer() +
                    (purpose.session
                         ? std::string(" for session ") + std::to_string(purpose.session->id)
                         : std::string()));
  auto done = std::make_shared<std::atomic<bool>>(false);
  EmulatorCore& core = *core_;
  std::thread thread;
  try {
    thread = threadStarter_([&core, connection, purpose, done] {
      switch (purpose.kind) {
        case ConnectionKind::Live:
          runLiveStream(core, connection, purpose.session);
          break;
        case ConnectionKind::Audio:
          runAudio(core, connection, purpose.session);
          break;
        default:
          runControlPort(core, connection);
          break;
      }
      connection->shutdown();
      done->store(true);
    });
  } catch (const std::system_error& failure) {
    // Out of threads (or memory for one): this connection goes, the DVR stays up.
    core_->stats().connectionsRefused.fetch_add(1);
    connection->shutdown();
    core_->log().info(std::string("#") + std::to_string(connection->id()) +
                      " closed: no thread for it (" + failure.what() + ")");
    return;
  }
  std::lock_guard lock(workersMutex_);
  workers_.push_back({std::move(thread), connection, done});
}

void DvrEmulator::refuse(UniqueFd fd, const std::string& reason) {
  const std::string peer = peerName(fd.get());
  core_->stats().connectionsRefused.fetch_add(1);  // counted before the peer can see the close
  fd.reset();
  ++refusalsUnlogged_;
  const auto now = std::chrono::steady_clock::now();
  if (now - lastRefusalLog_ < std::chrono::seconds(1)) return;
  core_->log().info("connection from " + peer + " closed: " + reason +
                    (refusalsUnlogged_ > 1
                         ? " (" + std::to_string(refusalsUnlogged_) + " since the last report)"
                         : std::string()));
  lastRefusalLog_ = now;
  refusalsUnlogged_ = 0;
}

int DvrEmulator::runningWorkers() {
  std::lock_guard lock(workersMutex_);
  int running = 0;
  for (const auto& worker : workers_) running += worker.done->load() ? 0 : 1;
  return running;
}

void DvrEmulator::reapFinished(bool all) {
  std::list<Worker> finished;
  {
    std::lock_guard lock(workersMutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      if (all || it->done->load()) {
        auto next = std::next(it);
        finished.splice(finished.end(), workers_, it);
        it = next;
      } else {
        ++it;
      }
    }
  }
  for (auto& worker : finished) worker.thread.join();  // joined outside the lock
}

std::string DvrEmulator::execute(const std::string& line) {
  CommandInterpreter interpreter(*core_);
  const std::string answer = interpreter.run(line);
  if (interpreter.quitRequested()) {
    quit_.store(true);
    quitEvent_.signal();
  }
  return answer;
}

}  // namespace dvremu
