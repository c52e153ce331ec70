#include "protocol/audio_connection.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/result_codes.h"
#include "protocol/audio_sink.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "protocol/message_sending.h"
#include "protocol/reply_queue.h"

namespace {
constexpr int32_t kHeaderSize = static_cast<int32_t>(MessageHeader::kSize);
}

CAudioConnection::CAudioConnection() = default;

CAudioConnection::~CAudioConnection() {
  channel_.close();
}

int CAudioConnection::attach(int32_t index, WindowId window, IAudioSink* player, CDvrClient* client,
                             ReplyQueue* queue, uint64_t session) {
  if (!platform::isWindow(window) || index < 0 || client == nullptr || queue == nullptr) return 0;
  if (channel_.hasLiveThread()) return 0;
  if (!rx_) {
    rx_.reset(new (std::nothrow) uint8_t[kBufferSize]());
    if (!rx_) return 0;
  }
  index_ = index;
  window_ = window;
  player_ = player;
  client_ = client;
  queue_ = queue;
  session_ = session;
  channel_.setOwner(this);
  return 1;
}

int32_t CAudioConnection::open(std::string_view address, uint32_t port, std::string_view userId,
                               std::string_view password) {
  if (!rx_ || channel_.isRunning() || userId.empty() || password.empty()) return E_FAIL;
  {
    std::lock_guard lock(credentialsMutex_);
    userId_.assign(userId);
    password_.assign(password);
  }
  return channel_.connect(address, port) == 1 ? S_DONE : E_FAIL;
}

int32_t CAudioConnection::close() {
  // Whatever the thread was doing (connecting, logging in, playing, or already ended by itself),
  // it is stopped and joined; the buffer is then ours again.
  channel_.close();
  resetBuffer();
  clearCredentials();
  return S_DONE;
}

void CAudioConnection::resetReceiveState() {
  clearCredentials();
  // Only the audio side touches the buffer: a reset asked for by another thread is applied by
  // the receive thread before its next read, or by close() after the join.
  if (channel_.onReceiveThread())
    resetBuffer();
  else
    resetRequested_ = true;
}

void CAudioConnection::resetBuffer() {
  resetRequested_ = false;
  expected_.exchange(kHeaderSize);
  filled_.exchange(0);
  discardLeft_ = 0;
  if (rx_) std::memset(rx_.get(), 0, kBufferSize);
}

void CAudioConnection::clearCredentials() {
  std::lock_guard lock(credentialsMutex_);
  std::fill(userId_.begin(), userId_.end(), '\0');
  std::fill(password_.begin(), password_.end(), '\0');
  userId_.clear();
  password_.clear();
}

void CAudioConnection::onConnectResult(int /*error*/) {}

void CAudioConnection::onChannelError() {
  resetReceiveState();
}

bool CAudioConnection::channelReceiveStep() {
  return receiveStep() == S_DONE;
}

void CAudioConnection::finishMessage() {
  filled_.exchange(0);
  expected_.exchange(kHeaderSize);
  std::memset(rx_.get(), 0, MessageHeader::kSize);
}

int32_t CAudioConnection::receiveStep() {
  if (!channel_.isRunning() || !rx_) return S_DONE;
  if (resetRequested_) resetBuffer();
  uint8_t* buffer = rx_.get();

  const uint64_t discarding = discardLeft_.load();
  uint8_t* target = nullptr;
  size_t want = 0;
  if (discarding > 0) {
    // The body of an oversized message is read over the body area and thrown away.
    target = buffer + MessageHeader::kSize;
    want = static_cast<size_t>(std::min<uint64_t>(discarding, kMaxBodySize));
  } else {
    target = buffer + filled_.load();
    want = static_cast<size_t>(expected_.load());
  }
  size_t got = 0;
  if (!channel_.receive(target, want, &got)) return E_FAIL;
  if (resetRequested_) {
    resetBuffer();  // the DVR closed audio meanwhile: what was read belongs to nothing
    return S_DONE;
  }
  if (discarding > 0) {
    discardLeft_ = discarding - got;
    if (discardLeft_ == 0) std::memset(buffer + MessageHeader::kSize, 0, kMaxBodySize);
    return S_DONE;
  }

  const bool readingHeader = filled_.load() < kHeaderSize;
  const int32_t filled = filled_.fetch_add(static_cast<int32_t>(got)) + static_cast<int32_t>(got);
  expected_.fetch_sub(static_cast<int32_t>(got));
  if (readingHeader && filled == kHeaderSize) {
    if (!MessageHeader::hasMagic(buffer)) {
      finishMessage();  // dropped; the next 17 bytes are a new header
      return S_DONE;
    }
    const uint32_t length = readBe32(buffer + 5);
    if (length > kSanityBound) {
      channel_.failConnection();  // the connection's own close: its receive state is reset
      return E_FAIL;
    }
    if (length > static_cast<uint32_t>(kMaxBodySize)) {
      finishMessage();
      discardLeft_ = length;
      return S_DONE;
    }
    expected_.exchange(static_cast<int32_t>(length));
  }
  if (expected_.load() == 0) {
    dispatch();
    finishMessage();
  }
  return S_DONE;
}

int32_t CAudioConnection::dispatch() {
  const uint8_t* buffer = rx_.get();
  const uint32_t command = readBe32(buffer + 9);
  const uint32_t length = static_cast<uint32_t>(filled_.load() - kHeaderSize);
  const uint8_t* body = buffer + MessageHeader::kSize;
  switch (command) {
    case REQ_AUTHLOGIN: {
      std::string userId, password;
      {
        std::lock_guard lock(credentialsMutex_);
        userId = userId_;
        password = password_;
      }
      sendLoginInTwoParts(channel_, userId, password);
      return S_DONE;
    }
    case RSP_AUTHRESULT:
      if (queue_ == nullptr) return E_FAIL;
      return queue_->post(index_, buffer, length > 0 ? body : nullptr, kReplyFromAudio, session_) ==
                     1
                 ? S_DONE
                 : E_FAIL;
    case RSP_AUDIOG726:
      return playBlock(true, body, length);
    case RSP_AUDIOADPCM:
      return playBlock(false, body, length);
    default:
      return S_DONE;
  }
}

int32_t CAudioConnection::playBlock(bool g726, const uint8_t* body, uint32_t length) {
  if (!channel_.isRunning()) return E_FAIL;
  // Blocks whose payload doesn't fit the player's buffers, or without a whole prefix, are dropped.
  if (length < kBlockPrefixSize || player_ == nullptr) return S_DONE;
  const uint32_t payloadLength = length - kBlockPrefixSize;
  if (payloadLength > (g726 ? kMaxG726Payload : kMaxAdpcmPayload)) return S_DONE;
  const uint8_t* payload = body + kBlockPrefixSize;
  // A codec switch changes only the decoder. Closing and reopening the device here would drop
  // the sound still queued, play the new coding's first block twice (once queued by hand, once
  // by the open notification) and then a second of filler. The blocks stay prepared at 200 ms,
  // the length of the DVR's blocks in either coding.
  const AudioCodecMode mode = g726 ? AudioCodecMode::G726 : AudioCodecMode::Adpcm;
  if (player_->mode() != mode) player_->setMode(mode);
  if (g726)
    player_->playG726(payload, payloadLength);
  else
    player_->playAdpcm(payload, payloadLength);
  return S_DONE;
}
