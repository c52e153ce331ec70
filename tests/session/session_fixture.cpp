#include "session_fixture.h"

#include "platform/message_window.h"

void CRecordingListener::onFrame(const LiveFrame& frame) {
  const uint8_t channel = frame.channel;
  if (channel >= kChannels || frame.data == nullptr || frame.length < 2 ||
      frame.data[1] != channel || frame.sequence != lastSequence[channel] + 1) {
    faultCount.fetch_add(1);
    if (channel >= kChannels) return;
  }
  lastSequence[channel] = frame.sequence;
  constexpr uint32_t kFrameHeaderSize = 16;
  if (frame.codec == LiveCodec::Jpeg && frame.length > kFrameHeaderSize) {
    std::lock_guard lock(mutex_);
    if (jpegs_[channel].empty()) jpegs_[channel].assign(frame.data, frame.data + frame.length);
  }
  frameCounts[channel].fetch_add(1);
}

std::vector<uint8_t> CRecordingListener::firstJpeg(uint8_t channel) const {
  std::lock_guard lock(mutex_);
  return jpegs_[channel];
}

CTestDvr::CTestDvr(const std::vector<std::string>& options) {
  std::vector<std::string> args{
      "--listen", "127.0.0.1:0", "--user",           "demo", "--password", "demo",
      "--fps",    "25",          "--alive-interval", "0"};
  args.insert(args.end(), options.begin(), options.end());
  const auto parsed = dvremu::parseCommandLine(args);
  EXPECT_TRUE(parsed.error.empty()) << parsed.error;
  emulator_ = std::make_unique<dvremu::DvrEmulator>(parsed.config);
  std::string error;
  EXPECT_TRUE(emulator_->start(&error)) << error;
}

CTestDvr::~CTestDvr() {
  emulator_->stop();
}

int CTestDvr::connections(dvremu::ConnectionKind kind) {
  int count = 0;
  for (const auto& connection : emulator_->core().connections()) {
    if (connection && !connection->isShutdown() && connection->kind() == kind) ++count;
  }
  return count;
}

SessionTarget targetFor(const CTestDvr& dvr, const std::string& password) {
  SessionTarget target;
  target.address = "127.0.0.1";
  target.port = dvr.port();
  target.userId = "demo";
  target.password = password;
  return target;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  return platform::processMessagesUntil(done, timeoutMs);
}
