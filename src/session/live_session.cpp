#include "session/live_session.h"

#include "session/session_engine.h"

struct CLiveSession::Impl {
  Impl(ISessionListener& listener, IAudioSink* audio) : engine(listener, audio) {}
  CSessionEngine engine;
};

CLiveSession::CLiveSession(ISessionListener& listener, IAudioSink* audio)
    : impl_(std::make_unique<Impl>(listener, audio)) {}

CLiveSession::~CLiveSession() = default;

bool CLiveSession::connect(const SessionTarget& target) {
  return impl_->engine.connect(target);
}

void CLiveSession::disconnect() {
  impl_->engine.disconnect();
}

SessionPhase CLiveSession::phase() const {
  return impl_->engine.phase();
}

const DvrInfo& CLiveSession::dvrInfo() const {
  return impl_->engine.dvrInfo();
}

int16_t CLiveSession::loginStatus() const {
  return impl_->engine.loginStatus();
}

void CLiveSession::setWantedChannels(uint32_t mask) {
  impl_->engine.setWantedChannels(mask);
}

uint32_t CLiveSession::wantedChannels() const {
  return impl_->engine.wantedChannels();
}

uint32_t CLiveSession::runningChannels() const {
  return impl_->engine.runningChannels();
}

void CLiveSession::setChannelRateCap(uint8_t channel, int fps) {
  impl_->engine.setChannelRateCap(channel, fps);
}

void CLiveSession::holdChannel(uint8_t channel, bool held) {
  impl_->engine.puller().setHeld(channel, held);
}

void CLiveSession::setHoldOnDelivery(bool on) {
  impl_->engine.puller().setHoldOnDelivery(on);
}

void CLiveSession::setAudioChannel(int channel) {
  impl_->engine.setAudioChannel(channel);
}

int CLiveSession::audioChannel() const {
  return impl_->engine.audioChannel();
}

bool CLiveSession::ptzControl(uint8_t channel, uint8_t command, uint8_t value) {
  return impl_->engine.ptzControl(channel, command, value);
}

bool CLiveSession::ptzPreset(uint8_t channel, uint8_t preset) {
  return impl_->engine.ptzPreset(channel, preset);
}

uint64_t CLiveSession::framesRequested(uint8_t channel) const {
  return impl_->engine.framesRequested(channel);
}

uint64_t CLiveSession::framesDelivered(uint8_t channel) const {
  return impl_->engine.framesDelivered(channel);
}
