#include "protocol/stream_connection.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/messages.h"
#include "platform/result_codes.h"
#include "platform/user_message.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "protocol/frame_reader.h"
#include "protocol/frame_sinks.h"
#include "protocol/live_frame_router.h"
#include "protocol/message_sending.h"
#include "protocol/reply_queue.h"
#include "protocol/request_bodies.h"

CStreamConnection::CStreamConnection() = default;

CStreamConnection::~CStreamConnection() {
  // The receive thread writes into body_: it is joined before the buffer goes.
  channel_.close();
}

bool CStreamConnection::init(int32_t index, WindowId window, ICodecFrameSink* decoder,
                             IJpegFrameSink* renderer, ReplyQueue* queue, uint64_t session) {
  if (decoder == nullptr || !prepare(index, window, queue, session)) return false;
  decoder_ = decoder;
  renderer_ = renderer;
  router_ = nullptr;
  return true;
}

bool CStreamConnection::initRouted(int32_t index, WindowId window, ILiveFrameRouter* router,
                                   ReplyQueue* queue, uint64_t session) {
  if (router == nullptr || !prepare(index, window, queue, session)) return false;
  decoder_ = nullptr;
  renderer_ = nullptr;
  router_ = router;
  return true;
}

bool CStreamConnection::prepare(int32_t index, WindowId window, ReplyQueue* queue,
                                uint64_t session) {
  if (!platform::isWindow(window) || index < 0 || queue == nullptr) return false;
  if (channel_.hasLiveThread()) return false;
  if (!body_) {
    // Zeroed, so the slack after every frame starts out zero.
    body_.reset(new (std::nothrow) uint8_t[kBufferSize + kFrameReadSlack]());
    if (!body_) return false;
  }
  index_ = index;
  window_ = window;
  queue_ = queue;
  session_ = session;
  requestedChannel_ = -1;
  channel_.setOwner(this);
  return true;
}

int32_t CStreamConnection::open(std::string_view address, uint32_t port, std::string_view userId,
                                std::string_view password) {
  if (!body_ || channel_.isRunning() || userId.empty() || password.empty()) return E_FAIL;
  {
    std::lock_guard lock(credentialsMutex_);
    userId_.assign(userId);
    password_.assign(password);
  }
  lost_ = false;
  connectFailed_ = false;
  return channel_.connect(address, port) == 1 ? S_DONE : E_FAIL;
}

int32_t CStreamConnection::close() {
  // Whatever the thread was doing (connecting, logging in, streaming, or already ended by
  // itself), it is stopped and joined; a close we asked for is no loss.
  channel_.close();
  clearState();
  lost_ = false;
  connectFailed_ = false;
  return S_DONE;
}

bool CStreamConnection::selectChannel(int32_t channel) {
  if (channel < -1 || channel >= kMaxFrameChannels) return false;
  requestedChannel_ = channel;
  return true;
}

bool CStreamConnection::requestNextFrame() {
  const int32_t channel = requestedChannel_.load();
  if (channel < 0) return false;
  const auto body = buildLiveFrameBody(channel);
  sendWholeMessage(channel_, REQ_LIVEFRAME, body);
  return true;
}

bool CStreamConnection::requestFrameFor(uint8_t channel) {
  if (channel >= kMaxFrameChannels) return false;
  return sendWholeMessage(channel_, REQ_LIVEFRAME, buildLiveFrameBody(channel));
}

void CStreamConnection::onConnectResult(int error) {
  if (error == 0) return;
  connectFailed_ = true;
  // A routed connection's owner reports the failure in its own way.
  if (router_ == nullptr) platform::showUserMessage(QStringLiteral("Error : Live Stream Connect"));
  // The window waits for this stream: it hears of the failure as of any other loss.
  reportLoss();
}

void CStreamConnection::onChannelError() {
  reportLoss();
}

void CStreamConnection::reportLoss() {
  clearState();
  lost_ = true;
  platform::postMessage(liveWindowOr(window_), msg::kLiveStreamLost, static_cast<uintptr_t>(index_),
                        0);
}

void CStreamConnection::clearState() {
  std::lock_guard lock(credentialsMutex_);
  std::fill(userId_.begin(), userId_.end(), '\0');
  std::fill(password_.begin(), password_.end(), '\0');
  userId_.clear();
  password_.clear();
}

void CStreamConnection::sendLogin() {
  std::string userId, password;
  {
    std::lock_guard lock(credentialsMutex_);
    userId = userId_;
    password = password_;
  }
  sendLoginInTwoParts(channel_, userId, password);
}

bool CStreamConnection::channelReceiveStep() {
  if (!channel_.isRunning() || !body_) return false;
  if (!readExact(channel_, header_.data(), header_.size())) return false;
  if (!MessageHeader::hasMagic(header_.data())) {
    header_.fill(0);
    return true;
  }
  const uint32_t length = readBe32(header_.data() + 5);
  if (length > kSanityBound) {
    channel_.failConnection();  // no sound DVR sends this: lost, as a failed read
    return false;
  }
  if (length > kBufferSize) {
    // Doesn't fit the buffer: read past it and drop it. A skipped frame was consumed without
    // drawing, so it is followed by a request like any other frame.
    const uint32_t command = readBe32(header_.data() + 9);
    header_.fill(0);
    if (!discardExact(channel_, length)) return false;
    if (command == RSP_LIVEFRAME && channel_.isRunning()) {
      if (router_ != nullptr) {
        router_->onLiveFrameAnswer(nullptr, 0, 0);
      } else {
        requestNextFrame();
      }
    }
    return true;
  }
  if (length > 0 && !readExact(channel_, body_.get(), length)) return false;
  // The sinks may read and write a little past a frame's end; that room is zero for every frame.
  std::memset(body_.get() + length, 0, kFrameReadSlack);
  dispatch(readBe32(header_.data() + 9), length);
  header_.fill(0);
  return true;
}

void CStreamConnection::dispatch(uint32_t command, uint32_t length) {
  switch (command) {
    case REQ_AUTHLOGIN:
      sendLogin();
      break;
    case RSP_AUTHRESULT:
      if (queue_ != nullptr)
        queue_->post(index_, header_.data(), length > 0 ? body_.get() : nullptr, kReplyFromStream,
                     session_);
      break;
    case RSP_LIVEFRAME:
      onLiveFrame(length);
      break;
    case RSP_LIVEDATA:
      onLiveData(length);
      break;
    default:
      break;
  }
}

void CStreamConnection::onLiveFrame(uint32_t length) {
  if (router_ != nullptr) {
    routeLiveFrame(length);
    return;
  }
  uint8_t* body = body_.get();
  // A body too short for its prefix counts as a failure status.
  const uint16_t status = length >= kLiveFramePrefixSize ? readBe16(body) : 0;
  if (status == 1) {
    const uint16_t frameType = readBe16(body + 4);
    if (!channel_.isRunning()) return;
    uint8_t* areaEnd = body + length;
    uint8_t* frame = std::find(body + kLiveFramePrefixSize, areaEnd, kFrameMarker);
    if (frame == areaEnd) return;
    // The channel byte follows the marker; at the very end of the body it reads the zeroed slack.
    if (frame[1] >= kMaxFrameChannels) return;
    const auto frameLength = static_cast<uint32_t>(areaEnd - frame);
    if (frameType == 0) {
      codecMode_ = 1;
      decoder_->decodeFrame(frame, frameLength);
    } else if (frameType == 1) {
      codecMode_ = 0;
      if (renderer_ != nullptr) renderer_->drawJpegFrame(frame, frameLength);
    }
  }
  requestNextFrame();
}

void CStreamConnection::routeLiveFrame(uint32_t length) {
  uint8_t* body = body_.get();
  const uint16_t status = length >= kLiveFramePrefixSize ? readBe16(body) : 0;
  if (status != 1 || !channel_.isRunning()) {
    router_->onLiveFrameAnswer(nullptr, 0, 0);
    return;
  }
  const uint16_t frameType = readBe16(body + 4);
  uint8_t* areaEnd = body + length;
  uint8_t* frame = std::find(body + kLiveFramePrefixSize, areaEnd, kFrameMarker);
  // A frame must hold its channel byte to be routed; anything less answers without a frame.
  if (areaEnd - frame < 2 || frame[1] >= kMaxFrameChannels) {
    router_->onLiveFrameAnswer(nullptr, 0, 0);
    return;
  }
  router_->onLiveFrameAnswer(frame, static_cast<uint32_t>(areaEnd - frame), frameType);
}

void CStreamConnection::onLiveData(uint32_t length) {
  uint8_t* body = body_.get();
  uint8_t* end = body + length;
  uint8_t* frame = std::find(body, end, kFrameMarker);
  if (frame == end || frame[1] >= kMaxFrameChannels) return;
  if (router_ != nullptr) {
    if (end - frame >= 2) router_->onLiveData(frame, static_cast<uint32_t>(end - frame));
    return;
  }
  decoder_->decodeFrame(frame, static_cast<uint32_t>(end - frame));
}
