// The live-stream connection: one RSP_LIVEFRAME for each REQ_LIVEFRAME, each channel paced to
// its own frame rate, so one connection carries every started channel at once.
#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <map>

#include "emulator_core.h"
#include "mpeg4_encoder.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "reply_bodies.h"
#include "send_jitter.h"
#include "sub_connection_login.h"

namespace dvremu {
namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kMaxPendingRequests = 32;

class LiveStream {
 public:
  LiveStream(EmulatorCore& core, std::shared_ptr<WireConnection> connection,
             std::shared_ptr<SessionState> session)
      : core_(core),
        connection_(std::move(connection)),
        session_(std::move(session)),
        jitter_(core_.config().liveJitterMs) {}
  void run();

 private:
  // Answers one request for `number` (counted from 1); returns the channel's frame period.
  Clock::duration serve(uint8_t number);
  bool sendEmpty(uint16_t status, uint16_t type);

  EmulatorCore& core_;
  std::shared_ptr<WireConnection> connection_;
  std::shared_ptr<SessionState> session_;
  std::map<int, std::unique_ptr<Mpeg4Encoder>> encoders_;  // per channel, this viewer's stream
  std::map<int, size_t> loopPosition_;                     // per channel, in a pre-encoded loop
  std::vector<uint8_t> head_;
  std::vector<uint8_t> payload_;
  SendJitter jitter_;
};

void LiveStream::run() {
  std::deque<uint8_t> pending;             // requested channel numbers, oldest first
  std::array<Clock::time_point, 256> due;  // per channel number: when its next frame may go
  due.fill(Clock::now());
  // per channel number: how long after its due time the next frame goes out
  std::array<Clock::duration, 256> late{};
  const auto sendTime = [&](uint8_t number) { return due[number] + late[number]; };
  auto waitingFor = [&pending](uint8_t number) {
    return std::find(pending.begin(), pending.end(), number) != pending.end();
  };
  while (true) {
    int timeoutMs = -1;
    if (!pending.empty()) {
      auto soonest = sendTime(pending.front());
      for (const uint8_t number : pending) soonest = std::min(soonest, sendTime(number));
      timeoutMs = millisecondsUntil(soonest);
    }
    ReceivedMessage message;
    const auto got = connection_->read(timeoutMs, &message);
    if (got == WireConnection::ReadStatus::Closed) return;
    if (got == WireConnection::ReadStatus::Message && message.header.command == REQ_LIVEFRAME &&
        !message.body.empty() && pending.size() < kMaxPendingRequests) {
      const uint8_t number = message.body[0];
      core_.stats().countChannelRequest(number - 1);
      // A channel nobody pulled for a while starts afresh instead of catching up.
      if (!waitingFor(number) && Clock::now() > due[number]) due[number] = Clock::now();
      pending.push_back(number);
    }
    // Every channel whose frame is due gets it, oldest request first; the others wait their turn.
    for (auto it = pending.begin(); it != pending.end();) {
      const uint8_t number = *it;
      if (Clock::now() < sendTime(number)) {
        ++it;
        continue;
      }
      it = pending.erase(it);
      const auto period = serve(number);
      if (connection_->isShutdown()) return;
      // The next frame is due one period after this one was (not after it went out); a late
      // viewer gets no burst.
      const auto now = Clock::now();
      due[number] = std::max(due[number] + period, now - late[number] - period);
      late[number] = jitter_.next();
      it = pending.begin();  // a second request of this channel waits for its new due time
    }
  }
}

bool LiveStream::sendEmpty(uint16_t status, uint16_t type) {
  std::vector<uint8_t> body(kFramePrefixSize, 0);
  writeBe16(body.data(), status);
  writeBe16(body.data() + 4, type);
  return connection_->send(RSP_LIVEFRAME, body);
}

Clock::duration LiveStream::serve(uint8_t number) {
  const int channel = number - 1;
  ChannelFeed* feed = core_.feed(channel);
  const auto period = [&]() -> Clock::duration {
    const double fps = feed ? feed->config().fps : 5.0;
    if (fps <= 0) return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
  }();
  bool started = false;
  {
    std::lock_guard lock(session_->mutex);
    started = channel >= 0 && channel < kMaxChannels && (session_->startedMask & (1u << channel));
  }
  if (feed == nullptr || !started) {
    sendEmpty(0, 1);
    return period == Clock::duration::zero() ? std::chrono::milliseconds(200) : period;
  }
  const auto& config = feed->config();
  const VideoCodec codec = core_.videoCodec(channel);
  const uint16_t type = codec == VideoCodec::Jpeg ? 1 : 0;
  // A channel switched to MPEG-4 while running starts its new stream with a key frame.
  if (codec != VideoCodec::Mpeg4) encoders_.erase(channel);
  if (auto failure = core_.faults().takeFailure(RSP_LIVEFRAME)) {
    sendEmpty(*failure, type);
    return period;
  }

  std::shared_ptr<const EncodedFrame> shared;
  bool key = true;
  uint64_t frameNumber = 0;
  const uint8_t* payload = nullptr;
  size_t payloadSize = 0;
  const auto now = Clock::now();
  if (feed->loopLength() > 0 && codec == config.codec) {
    shared = feed->loopFrame(loopPosition_[channel]++);
  } else if (codec == VideoCodec::Jpeg) {
    shared = feed->jpegFrame(now);
  } else {
    auto& encoder = encoders_[channel];
    const int fps = static_cast<int>(config.fps > 0 ? config.fps : 25.0);
    if (!encoder) {
      encoder = std::make_unique<Mpeg4Encoder>();
      if (!encoder->open(config.width, config.height, std::max(1, fps), std::max(2, fps * 2)))
        encoder.reset();
    }
    const auto picture = feed->picture(now);
    if (encoder && encoder->encode(picture->image, &payload_, &key)) {
      payload = payload_.data();
      payloadSize = payload_.size();
      frameNumber = picture->number;
    }
  }
  if (shared) {
    payload = shared->data.data();
    payloadSize = shared->data.size();
    key = shared->key;
    frameNumber = shared->number;
  }
  if (payload == nullptr || payloadSize == 0) {
    sendEmpty(0, type);
    return period;
  }

  // Prefix, optional filler, the 16-byte frame header, then the coded picture.
  const size_t filler = static_cast<size_t>(core_.config().fillerBytes);
  head_.assign(kFramePrefixSize + filler + kFrameHeaderSize, 0);
  writeBe16(head_.data(), kStatusOk);
  writeBe16(head_.data() + 4, type);
  uint8_t* header = head_.data() + kFramePrefixSize + filler;
  header[0] = 0x01;
  header[1] = static_cast<uint8_t>(channel);
  header[2] = static_cast<uint8_t>(type);
  header[3] = key ? 1 : 0;
  writeBe16(header + 4, static_cast<uint16_t>(config.width));
  writeBe16(header + 6, static_cast<uint16_t>(config.height));
  writeBe32(header + 8, static_cast<uint32_t>(frameNumber));
  writeBe32(header + 12, static_cast<uint32_t>(payloadSize));
  const FrameEdit edit{header, 1};
  core_.log().recordFrameSend({channel, frameNumber});
  if (connection_->sendParts(RSP_LIVEFRAME, RSP_LIVEFRAME, {head_, {payload, payloadSize}},
                             &edit)) {
    core_.stats().countFrame(channel, payloadSize);
    session_->framesServed[static_cast<size_t>(channel)].fetch_add(1, std::memory_order_relaxed);
  }
  return period;
}

}  // namespace

void runLiveStream(EmulatorCore& core, const std::shared_ptr<WireConnection>& connection,
                   const std::shared_ptr<SessionState>& session) {
  if (!loginSubConnection(core, *connection, ConnectionKind::Live, *session)) return;
  LiveStream(core, connection, session).run();
}

}  // namespace dvremu
