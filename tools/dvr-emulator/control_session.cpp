// The control port: the login that tells a notice connection from a control connection, the
// notice connection's idle life, and the control session's requests and replies.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <utility>

#include "emulator_core.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "reply_bodies.h"

namespace dvremu {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDisconnectGrace = std::chrono::seconds(10);

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// Of the requested channels, those that run after the start: the ones already running, then
// the lowest others while the session stays within `limit` channels.
uint32_t channelsToStart(uint32_t requested, uint32_t running, int limit) {
  uint32_t started = requested & running;
  int room = limit - std::popcount(running);
  for (uint32_t rest = requested & ~running; rest != 0 && room > 0; --room) {
    const uint32_t lowest = rest & (~rest + 1);
    started |= lowest;
    rest &= ~lowest;
  }
  return started;
}

Clock::duration seconds(double value) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

class ControlSession {
 public:
  ControlSession(EmulatorCore& core, std::shared_ptr<WireConnection> connection,
                 std::shared_ptr<SessionState> session)
      : core_(core), connection_(std::move(connection)), session_(std::move(session)) {}

  void run();

 private:
  void handle(const ReceivedMessage& message);
  void reply(uint32_t command, const std::vector<uint8_t>& body) {
    connection_->send(command, body);
  }
  // The status for a reply: an armed failure for this code, else `normal`.
  uint16_t status(uint32_t command, uint16_t normal = kStatusOk) {
    return core_.faults().takeFailure(command).value_or(normal);
  }
  void openSubListener(ConnectionKind kind);
  void handlePtz(const ReceivedMessage& message);
  void sendChatter();
  void endSubConnections(ConnectionKind kind);
  void cleanUp();

  EmulatorCore& core_;
  std::shared_ptr<WireConnection> connection_;
  std::shared_ptr<SessionState> session_;
  std::optional<Clock::time_point> disconnectAt_;
  std::optional<Clock::time_point> unansweredSince_;
  unsigned chatterIndex_ = 0;
};

void ControlSession::run() {
  const auto& config = core_.config();
  const bool alive = config.aliveIntervalSeconds > 0;
  const bool chatter = config.chatterSeconds > 0;
  Clock::time_point nextAlive = Clock::now() + seconds(config.aliveIntervalSeconds);
  Clock::time_point nextChatter = Clock::now() + seconds(config.chatterSeconds);
  while (true) {
    Clock::time_point deadline = Clock::now() + std::chrono::hours(1);
    if (alive) deadline = std::min(deadline, nextAlive);
    if (chatter) deadline = std::min(deadline, nextChatter);
    if (disconnectAt_) deadline = std::min(deadline, *disconnectAt_);
    ReceivedMessage message;
    const auto got = connection_->read(millisecondsUntil(deadline), &message);
    if (got == WireConnection::ReadStatus::Closed) break;
    if (got == WireConnection::ReadStatus::Message) handle(message);

    const auto now = Clock::now();
    if (disconnectAt_ && now >= *disconnectAt_) {
      core_.log().info(std::string("session ") + std::to_string(session_->id) +
                       ": viewer did not close after disconnect");
      break;
    }
    if (alive && now >= nextAlive) {
      if (unansweredSince_ && now - *unansweredSince_ >= seconds(config.aliveTimeoutSeconds)) {
        core_.log().info(std::string("session ") + std::to_string(session_->id) +
                         ": alive checks unanswered; dropping it");
        core_.stats().sessionsDropped.fetch_add(1);
        break;
      }
      connection_->send(REQ_ALIVECHECK, {});
      // A check that a stall holds back or silence swallows can't be answered: it doesn't count.
      if (connection_->holdingOutput())
        unansweredSince_.reset();
      else if (!unansweredSince_)
        unansweredSince_ = now;
      nextAlive = now + seconds(config.aliveIntervalSeconds);
    }
    if (chatter && now >= nextChatter) {
      sendChatter();
      nextChatter = now + seconds(config.chatterSeconds);
    }
  }
  cleanUp();
}

void ControlSession::sendChatter() {
  // Replies real DVRs send unasked; the viewer passes them on or drops them.
  static const uint32_t kCodes[] = {RSP_QOS01,  RSP_INFO05,       RSP_QOS03,  RSP_INFO06,
                                    RSP_QOS04,  RSP_INFO07,       RSP_QOS07,  RSP_INFO08,
                                    RSP_INFO09, RSP_LIVECOMPLETE, RSP_INFO0E, RSP_AUDIO11};
  const uint32_t code = kCodes[chatterIndex_++ % std::size(kCodes)];
  size_t size = 12 + (chatterIndex_ * 7) % 20;
  if (code == RSP_LIVECOMPLETE) size = 22;
  if (code == RSP_AUDIO11) size = kAudio11BodySize;
  connection_->send(code, statusBody(size, kStatusOk));
}

void ControlSession::openSubListener(ConnectionKind kind) {
  const bool live = kind == ConnectionKind::Live;
  const uint32_t code = live ? RSP_LIVEOPEN : RSP_AUDIOOPEN;
  uint16_t port = 0;
  {
    std::lock_guard lock(session_->mutex);
    port = live ? session_->livePort : session_->audioPort;
  }
  if (port == 0) {
    std::string error;
    const int id = core_.openListener({kind, session_}, &port, &error);
    if (id == 0) {
      core_.log().info(std::string("session ") + std::to_string(session_->id) + ": " + error);
      reply(code, live ? liveOpenBody(0, 0) : audioOpenBody(0, 0));
      return;
    }
    std::lock_guard lock(session_->mutex);
    (live ? session_->liveListener : session_->audioListener) = id;
    (live ? session_->livePort : session_->audioPort) = port;
  }
  const uint16_t result = status(code);
  core_.log().info(std::string("session ") + std::to_string(session_->id) + ": " +
                   (live ? "live stream" : "audio") + std::string(" port ") + std::to_string(port));
  reply(code, live ? liveOpenBody(result, port) : audioOpenBody(result, port));
}

void ControlSession::handlePtz(const ReceivedMessage& message) {
  core_.stats().ptzCommands.fetch_add(1);
  const auto& body = message.body;
  if (body.size() < 67) {
    reply(RSP_PTZCONTROL, ptzControlBody(2, 2, 0, 0, 0));
    return;
  }
  const uint8_t channel = body[64], code = body[65], value = body[66];
  auto field = [&](size_t offset) {
    const auto first = body.begin() + static_cast<std::ptrdiff_t>(offset);
    return std::string(first, std::find(first, first + 32, uint8_t{0}));
  };
  if (field(0) != session_->account.user.substr(0, 32) ||
      field(32) != session_->account.password.substr(0, 32)) {
    reply(RSP_PTZCONTROL, ptzControlBody(3, 3, channel, code, value));
    return;
  }
  ChannelFeed* feed = core_.feed(channel);
  if (feed == nullptr || channel >= 32 || !(core_.config().ptzMask & (1u << channel))) {
    reply(RSP_PTZCONTROL, ptzControlBody(4, 4, channel, code, value));
    return;
  }
  if (auto failure = core_.faults().takeFailure(RSP_PTZCONTROL)) {  // armed: report the camera busy
    reply(RSP_PTZCONTROL, ptzControlBody(*failure ? *failure : 1, 9, channel, code, value));
    return;
  }
  const PtzResult result = feed->camera().command(session_->id, code, value, Clock::now());
  if (result.accepted) {
    reply(RSP_PTZCONTROL, ptzControlBody(0, 0, channel, code, value));
  } else {
    reply(RSP_PTZCONTROL, ptzControlBody(1, result.busyReason, channel, code, value));
  }
}

void ControlSession::handle(const ReceivedMessage& message) {
  const auto& body = message.body;
  const auto& config = core_.config();
  auto word = [&](size_t offset) -> uint32_t {
    return body.size() >= offset + 4 ? readBe32(body.data() + offset) : 0;
  };
  switch (message.header.command) {
    case RSP_ALIVECHECK:
      unansweredSince_.reset();
      break;
    case REQ_INFOPRODUCTINFO:
      reply(RSP_INFOPRODUCTINFO,
            productInfoBody(status(RSP_INFOPRODUCTINFO), core_.model(), config.videoStandard,
                            static_cast<uint8_t>(config.channelCount)));
      break;
    case REQ_PTZACTIVECAM: {
      const uint32_t disabledA = config.disabledMaskA;
      const uint32_t ptz = config.ptzMask & core_.enabledMask();
      reply(RSP_PTZACTIVECAM,
            ptzActiveCamBody(status(RSP_PTZACTIVECAM), config.disabledMaskB, ptz, disabledA,
                             config.ptzTrailerRows, config.ptzTrailerColumns));
      break;
    }
    case REQ_INFOCONFIGSET:
      reply(RSP_INFOCONFIGSET, statusBody(kConfigSetBodySize, status(RSP_INFOCONFIGSET)));
      break;
    case REQ_QOSRESOLUTION:
      reply(RSP_QOSRESOLUTION, statusBody(kQosBodySize, status(RSP_QOSRESOLUTION)));
      break;
    case REQ_LIVEOPEN:
      openSubListener(ConnectionKind::Live);
      break;
    case REQ_LIVESETUP:
      reply(RSP_LIVESETUP, statusBody(kLiveSetupBodySize, status(RSP_LIVESETUP)));
      break;
    case REQ_LIVESTART: {
      const uint32_t requested = word(0) & core_.enabledMask() & 0xFFFFu;
      uint16_t result = status(RSP_LIVESTART);
      uint32_t started = 0;
      {
        std::lock_guard lock(session_->mutex);
        started = channelsToStart(requested, session_->startedMask, config.maxLiveChannels);
        if (started == 0 && result == kStatusOk) result = 0;
        if (result == kStatusOk) session_->startedMask |= started;
      }
      if (result == kStatusOk && started != requested) {
        core_.log().info(std::string("session ") + std::to_string(session_->id) +
                         ": live start of mask 0x" + hex(requested) + " started 0x" + hex(started) +
                         " (--max-live-channels " + std::to_string(config.maxLiveChannels) + ")");
      }
      reply(RSP_LIVESTART, liveMaskBody(result, result == kStatusOk ? started : 0));
      break;
    }
    case REQ_LIVECLOSE: {
      int listener = 0;
      {
        std::lock_guard lock(session_->mutex);
        session_->startedMask = 0;
        listener = std::exchange(session_->liveListener, 0);
        session_->livePort = 0;
      }
      core_.closeListener(listener);
      const uint16_t result = status(RSP_LIVECLOSE);
      reply(RSP_LIVECLOSE, statusBody(kLiveCloseBodySize, result));
      // An open live connection is closed here or left for the viewer, as DVRs differ.
      if (result == kStatusOk && core_.liveCloseMode() == LiveCloseMode::Drop)
        endSubConnections(ConnectionKind::Live);
      break;
    }
    case REQ_DISCONNECT: {
      {
        std::lock_guard lock(session_->mutex);
        session_->startedMask = 0;
        session_->audioStarted = false;
        session_->audioChannel = -1;
      }
      const uint16_t result = status(RSP_DISCONNECT);
      reply(RSP_DISCONNECT, statusBody(kDisconnectBodySize, result));
      if (result == kStatusOk) disconnectAt_ = Clock::now() + kDisconnectGrace;
      break;
    }
    case REQ_PTZCONTROL:
      handlePtz(message);
      break;
    case REQ_AUDIOOPEN:
      openSubListener(ConnectionKind::Audio);
      break;
    case REQ_AUDIOSTART: {
      const uint16_t result = status(RSP_AUDIOSTART);
      if (result == kStatusOk) {
        std::lock_guard lock(session_->mutex);
        session_->audioStarted = true;
      }
      reply(RSP_AUDIOSTART, statusBody(kAudioStartBodySize, result));
      break;
    }
    case REQ_AUDIOCHANNEL: {
      const uint8_t number = body.empty() ? 0 : body[0];
      const int channel = number - 1;
      const bool available =
          core_.feed(channel) != nullptr && channel < 32 && (config.audioMask & (1u << channel));
      reply(RSP_AUDIOCHANNEL,
            audioChannelBody(status(RSP_AUDIOCHANNEL, core_.feed(channel) ? kStatusOk : 0), number,
                             available));
      break;
    }
    case REQ_AUDIOSELECT: {
      const uint32_t mask = word(0) & core_.enabledMask() & config.audioMask;
      const uint16_t result = status(RSP_AUDIOSELECT);
      if (result == kStatusOk) {
        std::lock_guard lock(session_->mutex);
        session_->audioChannel = mask ? std::countr_zero(mask) : -1;
      }
      reply(RSP_AUDIOSELECT, statusBody(kAudioSelectBodySize, result));
      break;
    }
    case REQ_AUDIOSTOP: {
      {
        std::lock_guard lock(session_->mutex);
        session_->audioChannel = -1;
      }
      reply(RSP_AUDIOSTOP, statusBody(kAudioStopBodySize, status(RSP_AUDIOSTOP)));
      break;
    }
    case REQ_AUDIOCLOSE: {
      int listener = 0;
      {
        std::lock_guard lock(session_->mutex);
        session_->audioStarted = false;
        session_->audioChannel = -1;
        listener = std::exchange(session_->audioListener, 0);
        session_->audioPort = 0;
      }
      core_.closeListener(listener);
      reply(RSP_AUDIOCLOSE, statusBody(kAudioCloseBodySize, status(RSP_AUDIOCLOSE)));
      break;
    }
    default:
      break;  // anything else is consumed, as the viewer does with codes it doesn't know
  }
}

void ControlSession::endSubConnections(ConnectionKind kind) {
  for (const auto& other : core_.connections()) {
    if (other->session() == session_->id && other->kind() == kind) other->shutdown();
  }
}

void ControlSession::cleanUp() {
  int live = 0, audio = 0;
  {
    std::lock_guard lock(session_->mutex);
    live = std::exchange(session_->liveListener, 0);
    audio = std::exchange(session_->audioListener, 0);
    session_->startedMask = 0;
    session_->audioStarted = false;
    session_->audioChannel = -1;
  }
  core_.closeListener(live);
  core_.closeListener(audio);
  for (int channel = 0; channel < kMaxChannels; ++channel) {
    if (ChannelFeed* feed = core_.feed(channel)) feed->camera().release(session_->id);
  }
  // The session's live-stream and audio connections end with it.
  endSubConnections(ConnectionKind::Live);
  endSubConnections(ConnectionKind::Audio);
  connection_->shutdown();
  core_.removeSession(session_->id);
  core_.log().info(std::string("session ") + std::to_string(session_->id) + " ended");
}

void runNotice(EmulatorCore& core, const std::shared_ptr<WireConnection>& connection) {
  connection->setKind(ConnectionKind::Notice, 0);
  const uint16_t result = core.faults().takeRefusal(ConnectionKind::Notice).value_or(kStatusOk);
  if (result == kStatusOk)
    core.addNoticeConnection(connection);  // notices may follow the verdict at once
  connection->send(RSP_AUTHRESULT, authResultBody(result, false));
  if (result != kStatusOk) {
    core.stats().loginsRefused.fetch_add(1);
    lingerAfterRefusal(*connection);
    return;
  }
  core.stats().loginsAccepted.fetch_add(1);
  core.log().info(std::string("#") + std::to_string(connection->id()) + " notice connection from " +
                  connection->peer());
  ReceivedMessage message;
  while (connection->read(-1, &message) == WireConnection::ReadStatus::Message) {
  }
}

}  // namespace

void runControlPort(EmulatorCore& core, const std::shared_ptr<WireConnection>& connection) {
  if (!connection->sendLoginRequest()) return;
  Credentials credentials;
  if (!awaitLogin(core, *connection, &credentials)) return;
  if (credentials.user == kNoticeUserId && credentials.password == kNoticePassword) {
    runNotice(core, connection);
    return;
  }
  Account account;
  const auto checked = checkLogin(core, *connection, credentials, &account);
  if (!checked) return;
  uint16_t result = *checked;
  if (auto refusal = core.faults().takeRefusal(ConnectionKind::Control)) result = *refusal;
  if (result == kStatusOk && core.sessionCount() >= core.config().maxSessions) result = 2050;
  if (result == kStatusOk && core.config().singleLogin) {
    for (const auto& other : core.sessions()) {
      if (other->account.user == account.user) result = 2;
    }
  }
  if (result != kStatusOk) {
    connection->setKind(ConnectionKind::Control, 0);
    core.stats().loginsRefused.fetch_add(1);
    core.log().info(std::string("#") + std::to_string(connection->id()) + " login of '" +
                    credentials.user + std::string("' refused with ") + std::to_string(result));
    connection->send(RSP_AUTHRESULT, authResultBody(result, false));
    lingerAfterRefusal(*connection);
    return;
  }
  auto session = core.addSession(account, connection);
  connection->setKind(ConnectionKind::Control, session->id);
  core.stats().loginsAccepted.fetch_add(1);
  core.log().info(std::string("session ") + std::to_string(session->id) + ": '" + account.user +
                  "' logged in from " + connection->peer());
  if (!connection->send(RSP_AUTHRESULT, authResultBody(kStatusOk, account.admin))) {
    core.removeSession(session->id);
    return;
  }
  ControlSession(core, connection, session).run();
}

}  // namespace dvremu
