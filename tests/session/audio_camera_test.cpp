// Audio of one channel and the camera commands of a session, against the emulator.
#include <atomic>
#include <mutex>

#include "platform/message_window.h"
#include "protocol/audio_sink.h"
#include "session_fixture.h"

namespace {

class CRecordingAudioSink final : public IAudioSink {
 public:
  int32_t open(WindowId window) override {
    openedFor = window;
    opens.fetch_add(1);
    return 0;
  }
  void close() override { closes.fetch_add(1); }
  int32_t playG726(const uint8_t*, uint32_t length) override {
    bytes.fetch_add(length);
    return 0;
  }
  int32_t playAdpcm(const uint8_t*, uint32_t length) override {
    bytes.fetch_add(length);
    return 0;
  }
  AudioCodecMode mode() const override { return mode_.load(); }
  void setMode(AudioCodecMode mode) override { mode_.store(mode); }
  void onDeviceMessage(uint32_t msg, uintptr_t) override { deviceMessages.push_back(msg); }

  std::atomic<WindowId> openedFor{kNoWindow};
  std::atomic<int> opens{0}, closes{0};
  std::atomic<uint64_t> bytes{0};
  std::vector<uint32_t> deviceMessages;  // owner's thread

 private:
  std::atomic<AudioCodecMode> mode_{AudioCodecMode::G726};
};

int audioChannelAtDvr(CTestDvr& dvr) {
  const auto sessions = dvr.emulator().core().sessions();
  if (sessions.empty()) return -2;
  std::lock_guard lock(sessions[0]->mutex);
  return sessions[0]->audioChannel;
}

}  // namespace

TEST(sessionAudio, PlaysTheChosenChannelFollowsChangesAndStops) {
  CTestDvr dvr;
  CRecordingListener listener;
  CRecordingAudioSink sink;
  CLiveSession session(listener, &sink);
  session.setAudioChannel(1);  // wanted before the session is ready: started once it is
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return audioChannelAtDvr(dvr) == 1 && sink.bytes > 0; }));
  EXPECT_EQ(sink.opens, 1);
  // The device's notifications come to a window that lives and hands them to the sink.
  ASSERT_TRUE(platform::isWindow(sink.openedFor));
  platform::postMessage(sink.openedFor, 955, 7, 0);
  ASSERT_TRUE(waitFor([&] { return !sink.deviceMessages.empty(); }));
  EXPECT_EQ(sink.deviceMessages[0], 955u);

  session.setAudioChannel(3);
  EXPECT_EQ(session.audioChannel(), 3);
  ASSERT_TRUE(waitFor([&] { return audioChannelAtDvr(dvr) == 3; }));
  EXPECT_EQ(sink.opens, 1);  // the same connection, another channel

  session.setAudioChannel(-1);
  EXPECT_EQ(sink.closes, 1);
  EXPECT_TRUE(waitFor([&] {
    return dvr.connections(dvremu::ConnectionKind::Audio) == 0 && audioChannelAtDvr(dvr) == -1;
  }));
  EXPECT_EQ(session.phase(), SessionPhase::Ready);
}

TEST(sessionCamera, SendsCommandsToCamerasOnlyAndReportsABusyCamera) {
  CTestDvr dvr;
  CRecordingListener listener;
  CLiveSession session(listener);
  EXPECT_FALSE(session.ptzControl(0, 1, 0));  // not ready yet
  ASSERT_TRUE(session.connect(targetFor(dvr)));
  ASSERT_TRUE(waitFor([&] { return session.phase() == SessionPhase::Ready; }));
  auto& stats = dvr.emulator().core().stats();

  EXPECT_TRUE(session.ptzControl(0, 1, 0));
  EXPECT_TRUE(session.ptzControl(0, 0, 0));
  EXPECT_TRUE(session.ptzPreset(2, 3));
  EXPECT_TRUE(waitFor([&] { return stats.ptzCommands.load() == 3; }));
  EXPECT_FALSE(session.ptzControl(5, 1, 0));  // channel 6 has no camera on this DVR
  EXPECT_FALSE(session.ptzPreset(0, 0));
  EXPECT_FALSE(session.ptzPreset(0, 9));
  EXPECT_TRUE(listener.messages.empty());

  dvr.command("fail RSP_PTZCONTROL 1");
  EXPECT_TRUE(session.ptzControl(1, 3, 0));
  ASSERT_TRUE(waitFor([&] { return !listener.messages.empty(); }));
  EXPECT_EQ(listener.messages[0], "Already using PTZ Camera Control. Please check it again.");
  EXPECT_EQ(stats.ptzCommands.load(), 4u);
}
