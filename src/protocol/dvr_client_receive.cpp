// The control connection's receive loop: immediate answers, the replies the client acts on
// itself, and the hand-over of every other reply to the main window.
#include "platform/result_codes.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "protocol/frame_reader.h"
#include "protocol/message_sending.h"
#include "protocol/reply_queue.h"
#include "protocol/request_bodies.h"

namespace {

constexpr uint32_t kAudioOpenBodySize = 69;
constexpr uint32_t kAudioPortOffset = 67;

uint16_t statusOf(const uint8_t* body, uint32_t length) {
  return body != nullptr && length >= 2 ? readBe16(body) : 0;
}

}  // namespace

bool CDvrClient::channelReceiveStep() {
  if (!channel_.isRunning()) return false;
  uint32_t length = 0;
  const FrameRead read = readAllocatedMessage(channel_, header_, body_, &length);
  if (read == FrameRead::Absurd) channel_.failConnection();  // the link-lost path
  if (read == FrameRead::Failed || read == FrameRead::Absurd) return false;
  if (read == FrameRead::Ready) dispatch(readBe32(header_.data() + 9), length);
  body_.reset();
  header_.fill(0);
  return true;
}

void CDvrClient::dispatch(uint32_t command, uint32_t length) {
  switch (command) {
    case REQ_AUTHLOGIN: {
      const auto body = buildLoginBody(state_.userId(), state_.password());
      sendWholeMessage(channel_, RSP_AUTHLOGIN, body);
      break;
    }
    case REQ_ALIVECHECK:
      if (state_.connected()) sendWholeMessage(channel_, RSP_ALIVECHECK, buildAliveCheckBody());
      break;
    case RSP_LIVEOPEN:
      onLiveOpen(length);
      break;
    case RSP_AUDIOOPEN:
      onAudioOpen(length);
      break;
    case RSP_AUDIOCLOSE:
      if (statusOf(body_.get(), length) == 1) audio_.resetReceiveState();
      break;
    case RSP_LIVECOMPLETE:
    case RSP_INFO06:
    case RSP_AUDIO11:
      break;
    case RSP_AUTHRESULT:
    case RSP_LIVESETUP:
    case RSP_LIVESTART:
    case RSP_LIVESTOP:
    case RSP_LIVECLOSE:
    case RSP_QOS01:
    case RSP_QOSRESOLUTION:
    case RSP_QOS03:
    case RSP_QOS04:
    case RSP_QOS07:
    case RSP_PTZACTIVECAM:
    case RSP_PTZCONTROL:
    case RSP_INFOPRODUCTINFO:
    case RSP_INFO05:
    case RSP_INFO07:
    case RSP_INFO08:
    case RSP_INFO09:
    case RSP_INFO0E:
    case RSP_INFOCONFIGSET:
    case RSP_DISCONNECT:
    case RSP_AUDIOCHANNEL:
    case RSP_AUDIOSTART:
    case RSP_AUDIOSELECT:
    case RSP_AUDIOSTOP:
      passOn();
      break;
    default:
      break;
  }
}

void CDvrClient::passOn() {
  // A full queue loses the reply; the main window's timers cover a stalled sequence.
  if (queue_ != nullptr)
    queue_->post(index_, header_.data(), body_.get(), kReplyFromControl, session_);
}

void CDvrClient::onLiveOpen(uint32_t length) {
  const uint8_t* body = body_.get();
  const bool whole = body != nullptr && length >= 4;
  const uint16_t status = whole ? readBe16(body) : 0;
  if (status != 1) {
    state_.orLiveFlags(0);
    passOn();
    return;
  }
  const uint16_t port = readBe16(body + 2);
  if (port == 0) return;
  state_.orLiveFlags(1);
  if (failed(openStream(state_.address(), port, state_.userId(), state_.password()))) return;
  passOn();
}

void CDvrClient::onAudioOpen(uint32_t length) {
  const uint8_t* body = body_.get();
  if (body == nullptr || length < kAudioOpenBodySize || readBe16(body) != 1) return;
  const uint16_t port = readBe16(body + kAudioPortOffset);
  if (port == 0) return;
  std::lock_guard lock(audioLifecycle_);
  if (audioClosed_) return;  // switched off after it was asked for
  openAudioLocked(state_.address(), port, state_.userId(), state_.password());
}
