// The audio connection: after the control side has started audio and selected a channel, one
// block every 200 ms in real time.
#include <chrono>
#include <map>

#include "audio_block_source.h"
#include "emulator_core.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "reply_bodies.h"
#include "send_jitter.h"
#include "sub_connection_login.h"

namespace dvremu {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kBlockPeriod = std::chrono::milliseconds(kAudioBlockMs);
constexpr auto kIdlePoll = std::chrono::milliseconds(50);  // how soon a start is noticed

class AudioStream {
 public:
  AudioStream(EmulatorCore& core, std::shared_ptr<WireConnection> connection,
              std::shared_ptr<SessionState> session)
      : core_(core),
        connection_(std::move(connection)),
        session_(std::move(session)),
        jitter_(core_.config().audioJitterMs) {}
  void run();

 private:
  bool sendBlock(int channel);

  EmulatorCore& core_;
  std::shared_ptr<WireConnection> connection_;
  std::shared_ptr<SessionState> session_;
  std::map<int, std::unique_ptr<AudioSynth>> synths_;  // per channel, so each keeps its voice
  std::unique_ptr<G726BlockEncoder> encoder_;
  uint32_t sequence_ = 0;
  std::vector<uint8_t> body_;
  SendJitter jitter_;
};

void AudioStream::run() {
  Clock::time_point next = Clock::now();  // the block's time on the real-time schedule
  Clock::duration late{};                 // how long after it this block goes out
  bool active = false;
  while (true) {
    ReceivedMessage message;
    const auto deadline = active ? next + late : Clock::now() + kIdlePoll;
    const auto got = connection_->read(millisecondsUntil(deadline), &message);
    if (got == WireConnection::ReadStatus::Closed) return;
    int channel = -1;
    {
      std::lock_guard lock(session_->mutex);
      if (session_->audioStarted) channel = session_->audioChannel;
    }
    const bool nowActive = channel >= 0;
    if (nowActive && !active) {  // the first block goes out at once
      next = Clock::now();
      late = Clock::duration::zero();
    }
    active = nowActive;
    if (!active) continue;
    const auto now = Clock::now();
    if (now < next + late) continue;
    if (!sendBlock(channel) && connection_->isShutdown()) return;
    // The schedule moves on from the block's time, not from when it went out.
    next += kBlockPeriod;
    late = jitter_.next();
    if (next < now - std::chrono::seconds(1) - jitter_.maximum()) next = now;  // start afresh
  }
}

bool AudioStream::sendBlock(int channel) {
  const AudioCodec codec = core_.audioCodec();
  if (!encoder_ || encoder_->codec() != codec) {
    encoder_ = std::make_unique<G726BlockEncoder>(codec, core_.config().g726Packing);
  }
  auto& synth = synths_[channel];
  if (!synth) synth = std::make_unique<AudioSynth>(core_.config().audioSource, channel);
  int16_t samples[kAudioBlockSamples];
  synth->fill(samples, kAudioBlockSamples);

  // Prefix: status, channel (from 1), codec, sequence, milliseconds since start, rate, samples.
  body_.assign(kAudioPrefixSize, 0);
  writeBe16(body_.data(), kStatusOk);
  body_[2] = static_cast<uint8_t>(channel + 1);
  body_[3] = codec == AudioCodec::G726 ? 1 : 0;
  writeBe32(body_.data() + 4, ++sequence_);
  const auto elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - core_.epoch());
  writeBe32(body_.data() + 8, static_cast<uint32_t>(elapsed.count()));
  writeBe16(body_.data() + 12, kAudioSampleRate);
  writeBe16(body_.data() + 14, kAudioBlockSamples);
  encoder_->encode(samples, kAudioBlockSamples, &body_);
  const bool sent =
      connection_->send(codec == AudioCodec::G726 ? RSP_AUDIOG726 : RSP_AUDIOADPCM, body_);
  if (sent) core_.stats().audioBlocksSent.fetch_add(1, std::memory_order_relaxed);
  return sent;
}

}  // namespace

void runAudio(EmulatorCore& core, const std::shared_ptr<WireConnection>& connection,
              const std::shared_ptr<SessionState>& session) {
  if (!loginSubConnection(core, *connection, ConnectionKind::Audio, *session)) return;
  AudioStream(core, connection, session).run();
}

}  // namespace dvremu
