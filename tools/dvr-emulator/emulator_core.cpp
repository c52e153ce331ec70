#include "emulator_core.h"

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "protocol/command_codes.h"
#include "reply_bodies.h"

namespace dvremu {

EmulatorCore::EmulatorCore(EmulatorConfig config)
    : config_(std::move(config)),
      epoch_(Clock::now()),
      model_(config_.model),
      audioCodec_(static_cast<int>(config_.audioCodec)),
      liveCloseDrops_(config_.liveClose == LiveCloseMode::Drop) {
  log_.setVerbose(config_.verbose);
  for (auto& codec : videoCodecs_) codec.store(-1);
  feeds_.resize(kMaxChannels);
  for (int channel = 0; channel < config_.channelCount && channel < kMaxChannels; ++channel) {
    std::string warning;
    feeds_[static_cast<size_t>(channel)] = std::make_unique<ChannelFeed>(
        channel, config_.channels[static_cast<size_t>(channel)], epoch_, &warning);
    if (!warning.empty())
      log_.info(std::string("channel ") + std::to_string(channel + 1) + ": " + warning);
  }
}

VideoCodec EmulatorCore::videoCodec(int channel) const {
  if (channel < 0 || channel >= kMaxChannels) return VideoCodec::Jpeg;
  const int chosen = videoCodecs_[static_cast<size_t>(channel)].load();
  if (chosen >= 0) return static_cast<VideoCodec>(chosen);
  const auto& feed = feeds_[static_cast<size_t>(channel)];
  return feed ? feed->config().codec : VideoCodec::Jpeg;
}

void EmulatorCore::setVideoCodec(int channel, VideoCodec codec) {
  if (channel >= 0 && channel < kMaxChannels)
    videoCodecs_[static_cast<size_t>(channel)].store(static_cast<int>(codec));
}

ChannelFeed* EmulatorCore::feed(int channel) {
  if (channel < 0 || channel >= kMaxChannels) return nullptr;
  return feeds_[static_cast<size_t>(channel)].get();
}

uint32_t EmulatorCore::enabledMask() const {
  return config_.channelCount >= 32 ? 0xFFFFFFFFu : ((1u << config_.channelCount) - 1u);
}

std::string EmulatorCore::model() const {
  std::lock_guard lock(settingsMutex_);
  return model_;
}

void EmulatorCore::setModel(const std::string& model) {
  std::lock_guard lock(settingsMutex_);
  model_ = model.substr(0, 7);
}

std::shared_ptr<SessionState> EmulatorCore::addSession(const Account& account,
                                                       std::shared_ptr<WireConnection> control) {
  std::lock_guard lock(registryMutex_);
  auto session = std::make_shared<SessionState>(++nextSessionId_, account, std::move(control));
  sessions_[session->id] = session;
  return session;
}

void EmulatorCore::removeSession(int id) {
  std::lock_guard lock(registryMutex_);
  sessions_.erase(id);
}

std::vector<std::shared_ptr<SessionState>> EmulatorCore::sessions() {
  std::lock_guard lock(registryMutex_);
  std::vector<std::shared_ptr<SessionState>> all;
  for (const auto& [id, session] : sessions_) all.push_back(session);
  return all;
}

int EmulatorCore::sessionCount() {
  std::lock_guard lock(registryMutex_);
  return static_cast<int>(sessions_.size());
}

void EmulatorCore::addNoticeConnection(const std::shared_ptr<WireConnection>& connection) {
  std::lock_guard lock(registryMutex_);
  std::erase_if(notices_, [](const auto& weak) { return weak.expired(); });
  notices_.push_back(connection);
}

std::vector<std::shared_ptr<WireConnection>> EmulatorCore::noticeConnections() {
  std::lock_guard lock(registryMutex_);
  std::vector<std::shared_ptr<WireConnection>> all;
  for (const auto& weak : notices_) {
    if (auto connection = weak.lock(); connection && !connection->isShutdown())
      all.push_back(connection);
  }
  return all;
}

void EmulatorCore::addConnection(const std::shared_ptr<WireConnection>& connection) {
  std::lock_guard lock(registryMutex_);
  std::erase_if(connections_, [](const auto& weak) { return weak.expired(); });
  connections_.push_back(connection);
}

std::vector<std::shared_ptr<WireConnection>> EmulatorCore::connections() {
  std::lock_guard lock(registryMutex_);
  std::vector<std::shared_ptr<WireConnection>> all;
  for (const auto& weak : connections_) {
    if (auto connection = weak.lock()) all.push_back(connection);
  }
  return all;
}

int EmulatorCore::openListener(const ListenerPurpose& purpose, uint16_t* port, std::string* error) {
  UniqueFd fd = listenTcp(config_.listenAddress, 0, error);
  if (!fd.valid()) return 0;
  *port = localPort(fd.get());
  return addListener(std::move(fd), purpose);
}

int EmulatorCore::addListener(UniqueFd fd, const ListenerPurpose& purpose) {
  int id = 0;
  {
    std::lock_guard lock(listenersMutex_);
    id = ++nextListenerId_;
    listeners_.push_back({id, std::move(fd), purpose});
  }
  listenerChange_.signal();
  return id;
}

void EmulatorCore::closeListener(int id) {
  if (id == 0) return;
  UniqueFd closing;  // closed outside the lock; the acceptor re-reads the list after the signal
  {
    std::lock_guard lock(listenersMutex_);
    auto it = std::find_if(listeners_.begin(), listeners_.end(),
                           [id](const auto& e) { return e.id == id; });
    if (it == listeners_.end()) return;
    closing = std::move(it->fd);
    listeners_.erase(it);
  }
  listenerChange_.signal();
}

void EmulatorCore::closeAllListeners() {
  std::lock_guard lock(listenersMutex_);
  listeners_.clear();
}

std::vector<std::pair<int, int>> EmulatorCore::listenerFds() {
  std::lock_guard lock(listenersMutex_);
  std::vector<std::pair<int, int>> fds;
  for (const auto& entry : listeners_) fds.emplace_back(entry.id, entry.fd.get());
  return fds;
}

bool EmulatorCore::acceptPending(int id, ListenerPurpose* purpose,
                                 std::vector<UniqueFd>* accepted) {
  std::lock_guard lock(listenersMutex_);
  const auto entry = std::find_if(listeners_.begin(), listeners_.end(),
                                  [id](const auto& e) { return e.id == id; });
  if (entry == listeners_.end()) return true;
  *purpose = entry->purpose;
  while (true) {
    UniqueFd fd = acceptConnection(entry->fd.get());
    if (fd.valid()) {
      accepted->push_back(std::move(fd));
      continue;
    }
    if (errno == EINTR || errno == ECONNABORTED) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

void EmulatorCore::drainListenerChanges() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(listenerChange_.fd(), &count, sizeof count);
}

uint16_t EmulatorCore::checkAccount(const std::string& user, const std::string& password,
                                    Account* account) const {
  for (const auto& candidate : config_.accounts) {
    if (candidate.user != user) continue;
    if (candidate.password != password) return config_.refuseStatus.value_or(2052);
    if (account) *account = candidate;
    return 1;
  }
  return config_.refuseStatus.value_or(2051);
}

namespace {
std::string fixedText(const std::vector<uint8_t>& body, size_t offset, size_t width) {
  if (body.size() <= offset) return {};
  const size_t end = std::min(body.size(), offset + width);
  const auto first = body.begin() + static_cast<std::ptrdiff_t>(offset);
  const auto last = body.begin() + static_cast<std::ptrdiff_t>(end);
  return std::string(first, std::find(first, last, uint8_t{0}));
}
}  // namespace

bool awaitLogin(EmulatorCore& core, WireConnection& connection, Credentials* credentials) {
  const auto timeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(core.config().loginTimeoutSeconds));
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    // While a stall holds REQ_AUTHLOGIN back, the peer's time has not begun.
    const bool stalled = connection.stallingOutput();
    if (stalled) deadline = std::chrono::steady_clock::now() + timeout;
    ReceivedMessage message;
    const auto status = connection.read(
        stalled ? std::min(millisecondsUntil(deadline), 100) : millisecondsUntil(deadline),
        &message);
    if (status == WireConnection::ReadStatus::Closed) return false;
    if (status == WireConnection::ReadStatus::Timeout &&
        (stalled || std::chrono::steady_clock::now() < deadline))
      continue;
    if (status == WireConnection::ReadStatus::Timeout) {
      // Idle connections that never log in would otherwise hold a thread each.
      core.stats().loginTimeouts.fetch_add(1);
      core.log().info(std::string("#") + std::to_string(connection.id()) + " from " +
                      connection.peer() + ": no login in time; closing");
      return false;
    }
    if (message.header.command != RSP_AUTHLOGIN) continue;
    credentials->user = fixedText(message.body, 0, 32);
    credentials->password = fixedText(message.body, 32, 32);
    return true;
  }
}

std::optional<uint16_t> checkLogin(EmulatorCore& core, WireConnection& connection,
                                   const Credentials& credentials, Account* account) {
  using Clock = std::chrono::steady_clock;
  const std::string& peer = connection.peer();
  const std::string host = peer.substr(0, peer.rfind(':'));
  const auto slot = core.throttle().reserve(host, Clock::now());
  while (Clock::now() < slot) {
    if (connection.isShutdown()) return std::nullopt;
    if (waitReadable(core.wake().fd(), -1, std::min(millisecondsUntil(slot), 100)) != 0)
      return std::nullopt;  // the DVR is stopping
  }
  const uint16_t result = core.checkAccount(credentials.user, credentials.password, account);
  if (result == kStatusOk)
    core.throttle().recordSuccess(host);
  else
    core.throttle().recordFailure(host, Clock::now());
  return result;
}

void lingerAfterRefusal(WireConnection& connection) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  ReceivedMessage message;
  while (std::chrono::steady_clock::now() < deadline) {
    if (connection.read(millisecondsUntil(deadline), &message) !=
        WireConnection::ReadStatus::Message)
      return;
  }
}

}  // namespace dvremu
