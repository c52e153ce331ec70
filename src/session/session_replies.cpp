// The session's reply handling: every ReplyRecord the queue delivers drives the conversation on,
// with the compact window's requests in the compact window's order.
#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "platform/messages.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "protocol/model_table.h"
#include "session/session_engine.h"
#include "session/session_texts.h"

namespace {

uint16_t statusOf(const uint8_t* body) {
  return readBe16(body);
}

// The first N bytes of a body (at most its length) in a zeroed buffer.
template <size_t N>
std::array<uint8_t, N> copyAtMost(const ReplyRecord& record) {
  std::array<uint8_t, N> buffer{};
  std::memcpy(buffer.data(), record.body, std::min<size_t>(N, record.length));
  return buffer;
}

// The identifier as the DVR wrote it: up to its first NUL, printable ASCII only.
std::string modelName(const uint8_t* field, size_t length) {
  std::string name;
  for (size_t i = 0; i < length && field[i] != 0; ++i) {
    if (field[i] >= 0x20 && field[i] < 0x7F) name.push_back(static_cast<char>(field[i]));
  }
  return name;
}

}  // namespace

void CSessionEngine::onReply(const ReplyRecord& record) {
  // A reply of a client that is gone never acts on the next one.
  if (!client_ || record.session != client_->session() || record.body == nullptr) return;
  const uint8_t* body = record.body;
  const uint32_t length = record.length;
  switch (record.command) {
    case RSP_AUTHRESULT:
      if (length == 3) onAuthResult(record, static_cast<int16_t>(statusOf(body)));
      break;
    case RSP_INFOPRODUCTINFO:
      if (length == 50) onProductInfo(body, length);
      break;
    case RSP_PTZACTIVECAM:
      if (length >= 81) onPtzActiveCam(body, length);
      break;
    case RSP_INFOCONFIGSET: {
      const auto buffer = copyAtMost<24>(record);
      if (statusOf(buffer.data()) != 1) {
        const std::string error = session_text::errorText("RSP_INFOCONFIGSET");
        failPreparation(error, error);
      } else {
        client_->requestQosResolution(0x0000FFFF, 130);
      }
      break;
    }
    case RSP_QOSRESOLUTION:
      if (length != 7) break;
      if (statusOf(body) != 1) {
        const std::string error = session_text::errorText("RSP_QOSRESOLUTION");
        failPreparation(error, error);
      } else {
        client_->requestLiveOpen();
      }
      break;
    case RSP_LIVEOPEN:
      // A refused live open leaves nothing to wait for.
      if (length >= 1 && (length < 2 || statusOf(body) != 1))
        failPreparation(std::string(), statusText(session_text::kLiveOpenFailure));
      break;
    case RSP_LIVESETUP:
      if (length == 20) onLiveSetup(statusOf(body));
      break;
    case RSP_LIVESTART:
      onLiveStart(copyAtMost<22>(record).data(), length);
      break;
    case RSP_LIVESTOP:
      if (length == 22) onLiveStop(body, length);
      break;
    case RSP_LIVECLOSE:
      if (length == 2) onLiveClose(statusOf(body));
      break;
    case RSP_DISCONNECT:
      if (length == 2) onDisconnectReply(statusOf(body));
      break;
    case RSP_PTZCONTROL:
      onPtzControlReply(body, length);
      break;
    case RSP_AUDIOSTART:
    case RSP_AUDIOSTOP:
      if (length == (record.command == RSP_AUDIOSTART ? 89u : 87u) && statusOf(body) == 1 &&
          audioOn_ && audioChannel_ >= 0) {
        client_->requestAudioChannel(static_cast<uint32_t>(audioChannel_ + 1));
      }
      break;
    case RSP_AUDIOCHANNEL: {
      if (length != 76 || statusOf(body) != 1 || body[68] == 0) break;
      const int number = body[67];  // counted from 1
      if (number >= 1 && number <= 32) client_->requestAudioSelect(1u << (number - 1));
      break;
    }
    case EVT_NOTICE:
      if (length == 24 && ((record.subCode >> 16) & 0xFF) == 1) onNotice(body);
      break;
    default:
      break;
  }
}

void CSessionEngine::onAuthResult(const ReplyRecord& record, int16_t status) {
  if (status == 1) {
    switch (record.kind) {
      case kReplyFromControl:
        controlUp_ = true;
        client_->requestProductInfo();
        break;
      case kReplyFromStream:

        client_->requestLiveSetup();
        break;
      case kReplyFromAudio:
        // Audio switched off while its connection was logging in: close it, don't start it.
        if (!audioOn_) {
          client_->requestAudioClose();
          client_->closeAudio();
        } else {
          client_->requestAudioStart(0xFFFFFFFF);
        }
        break;
      default:
        break;
    }
    return;
  }
  loginStatus_ = status;
  const std::string text = session_text::loginRefusal(status);
  if (!text.empty()) listener_.onMessage(text);
  end(SessionEnd::LoginRefused, std::string());
}

void CSessionEngine::onProductInfo(const uint8_t* body, uint32_t length) {
  if (statusOf(body) != 1) {
    const std::string error = session_text::errorText("RSP_INFOPRODUCTINFO");
    failPreparation(error, error);
    return;
  }
  client_->state().setVideoStandard(body[18] == 2 ? 1 : 2);
  const ModelInfo model = lookupModelInfo(
      std::span<const uint8_t>(body + kModelIdentifierOffset, length - kModelIdentifierOffset));
  // An unknown model goes no further; the session says so at once instead of waiting.
  if (model == ModelInfo{}) {
    failPreparation(std::string(), statusText(session_text::kConnectFailure));
    return;
  }
  client_->state().setModelInfo(model);
  info_.model = modelName(body + kModelIdentifierOffset, length - kModelIdentifierOffset);
  info_.videoStandard = body[18] == 2 ? 1 : 2;
  client_->requestPtzActiveCam();
}

void CSessionEngine::onPtzActiveCam(const uint8_t* body, uint32_t /*length*/) {
  if (statusOf(body) != 1) {
    const std::string error = session_text::errorText("RSP_PTZACTIVECAM");
    failPreparation(error, error);
    return;
  }
  const uint32_t disabledB = readBe32(body + 67);
  info_.ptzMask = readBe32(body + 71);
  const uint32_t disabledA = readBe32(body + 75);
  info_.disabledMask = disabledA | disabledB;
  // The DVR masks the channels it doesn't have: the count ends at its highest unmasked channel.
  info_.channelCount = std::max<uint32_t>(
      1, static_cast<uint32_t>(std::bit_width(~info_.disabledMask & kAllChannels)));
  if (body[79] * body[80] == 0) {
    failPreparation(std::string(), statusText(session_text::kConnectFailure));
    return;
  }
  listener_.onDvrInfo(info_);
  client_->requestConfigSet(true);
}

void CSessionEngine::onLiveSetup(uint16_t status) {
  if (phase_ != SessionPhase::Connecting) return;
  if (status != 1) {
    failPreparation(std::string(), statusText(session_text::kConnectFailure));
    return;
  }
  killTimer(kConnectTimer);
  puller_.start(client_->stream());
  setPhase(SessionPhase::Ready, statusText(session_text::kConnected));
  // The listener may have disconnected from its callback.
  if (phase_ != SessionPhase::Ready) return;
  startWanted();
  updatePulled();
  if (audioChannel_ >= 0) applyAudio();
}

void CSessionEngine::onLiveStart(const uint8_t* body, uint32_t /*length*/) {
  const uint32_t asked = liveStarts_.empty() ? 0 : liveStarts_.front();
  if (!liveStarts_.empty()) liveStarts_.pop_front();
  requestedTotal_ = 0;
  for (const uint32_t mask : liveStarts_) requestedTotal_ |= mask;

  const uint32_t before = running_, refusedBefore = refused_;
  if (statusOf(body) != 1) {
    refused_ |= asked & wanted_;
  } else {
    const uint32_t started = readBe32(body + 2) & kAllChannels;
    running_ |= started;
    client_->state().setLiveMaskBits(started);
    refused_ = (refused_ | (asked & ~started & wanted_)) & ~started;
  }
  updatePulled();
  if (running_ != before || refused_ != refusedBefore)
    listener_.onChannelsChanged(running_, refused_);
}

void CSessionEngine::onLiveStop(const uint8_t* body, uint32_t /*length*/) {
  if (statusOf(body) != 1) {
    listener_.onMessage(session_text::errorText("RSP_LIVESTOP"));
    return;
  }
  const uint32_t stopped = readBe32(body + 2);
  if (stopped == 0) return;
  client_->state().clearLiveMaskBits(stopped);
  const uint32_t before = running_;
  running_ &= ~stopped;
  updatePulled();
  if (running_ != before) listener_.onChannelsChanged(running_, refused_);
  // As the compact window does: channels the DVR stopped one by one are started again; a stop
  // of every channel is left as it is.
  if (stopped != 0x0000FFFF && phase_ == SessionPhase::Ready) startWanted();
}

void CSessionEngine::onLiveClose(uint16_t status) {
  if (!liveClosePending_) return;
  if (status != 1) {
    listener_.onMessage(session_text::errorText("RSP_LIVECLOSE"));
    // The DVR won't close: finish here rather than wait for ever.
    finishLocally();
    return;
  }
  puller_.stop();
  client_->closeStream();
  if (client_->requestDisconnect() != 1) finishLocally();
}

void CSessionEngine::onDisconnectReply(uint16_t status) {
  if (phase_ != SessionPhase::Disconnecting) return;
  if (status != 1) {
    finishLocally();
    return;
  }
  end(SessionEnd::UserDisconnect, statusText(session_text::kDisconnected));
}

void CSessionEngine::onNotice(const uint8_t* body) {
  const uint8_t type = body[3];
  const std::string actor = readBe32(body + 8) != 0 ? "user" : "admin";
  std::string text;
  switch (type) {
    case 2:
      dvrLeft_ = true;
      text = statusText(session_text::kPowerOff);
      break;
    case 3:
      dvrLeft_ = true;
      text = session_text::format(session_text::kSetupEntered, actor);
      break;
    case 4:
      text = session_text::format(session_text::kSetupLeft, actor);
      break;
    default:
      return;
  }
  lastNotice_ = text;
  listener_.onNotice(text);
}

void CSessionEngine::onPtzControlReply(const uint8_t* body, uint32_t length) {
  std::array<uint8_t, 70> buffer{};
  std::memcpy(buffer.data(), body, std::min<size_t>(buffer.size(), length));
  if (statusOf(buffer.data()) == 0) return;
  const uint8_t reason = buffer[68];
  if (reason != 0 && reason != 9 && reason != 21) return;
  listener_.onMessage(std::string(session_text::kCameraBusy));
}
