// The audio connection: login, pass-on of the verdict, block assembly and codec switching.
#include <thread>

#include "client_fixture.h"
#include "platform/result_codes.h"

namespace {

using Log = std::vector<std::string>;

Bytes block(size_t payload) {
  return Bytes(16 + payload, 0x33);
}

class AudioConnection : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    connectAndLogin();
    openAudio();
  }
  bool waitForPlays(size_t n) {
    return waitFor([&] { return player.plays() >= n; });
  }
  // Audio on again after a close: a new REQ_AUDIOOPEN, then the DVR's answer.
  void reopen() {
    EXPECT_EQ(client->requestAudioOpen(), 1);
    EXPECT_EQ(control->readBytes(17), goldenHeader(REQ_AUDIOOPEN, 0));
    openAudio();
  }
};

TEST_F(AudioConnection, LogsInAndPassesTheVerdictOnAsKindEight) {
  EXPECT_EQ(loginOf(*audio), goldenLogin("admin", "secret"));
  audio->sendMessage(RSP_AUTHRESULT, Bytes{0, 1, 0});
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);  // RSP_AUDIOOPEN itself is not passed on
  EXPECT_EQ(
      fields(replies[0]),
      (ReplyFields{RSP_AUTHRESULT, RSP_AUTHRESULT, kReplyFromAudio, kIndex, 3, {0, 1, 0}, false}));
}

TEST_F(AudioConnection, AssemblesSplitHeadersAndBodies) {
  const Bytes message = buildMessage(RSP_AUDIOG726, block(100));
  // Part of a header, its rest, a body read of exactly 17 bytes, then the rest.
  const std::pair<size_t, size_t> parts[]{{0, 10}, {10, 7}, {17, 17}, {34, 99}};
  for (const auto& [from, size] : parts) {
    audio->send(std::span(message).subspan(from, size));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(waitForPlays(1));
  EXPECT_EQ(player.log(), Log{"g726:100"});
  EXPECT_EQ(client->audio().expected(), 17);
  EXPECT_EQ(client->audio().filled(), 0);
}

TEST_F(AudioConnection, SwitchesTheCodecOnlyWhenTheKindChanges) {
  audio->sendMessage(RSP_AUDIOG726, block(1024));
  audio->sendMessage(RSP_AUDIOADPCM, block(768));
  audio->sendMessage(RSP_AUDIOADPCM, block(0));  // exactly 16 bytes: zero samples
  audio->sendMessage(RSP_AUDIOG726, block(4));
  ASSERT_TRUE(waitForPlays(4));
  // The device stays open across a switch: what it still has queued plays on.
  EXPECT_EQ(player.log(),
            (Log{"g726:1024", "mode:adpcm", "adpcm:768", "adpcm:0", "mode:g726", "g726:4"}));
}

TEST_F(AudioConnection, DropsBlocksThatDontFitAndKeepsReading) {
  audio->sendMessage(RSP_AUDIOG726, block(1025));
  audio->sendMessage(RSP_AUDIOADPCM, block(769));
  audio->sendMessage(RSP_AUDIOG726, Bytes(15, 0));
  for (uint32_t over : {5121u, 20000u}) {  // over the buffer: read past and dropped
    audio->sendHeader(RSP_AUDIOG726, over);
    audio->send(Bytes(over, 0x5A));
  }
  audio->sendMessage(RSP_AUDIOG726, block(8));
  ASSERT_TRUE(waitForPlays(1));
  EXPECT_EQ(player.plays(), 1u);
  EXPECT_EQ(player.log().back(), "g726:8");
  // An absurd length isn't read past: the connection closes and plays nothing more.
  audio->sendHeader(RSP_AUDIOG726, 0xFFFFFFFF);
  audio->send(Bytes(3000, 0x5A));
  audio->sendMessage(RSP_AUDIOG726, block(8));
  EXPECT_TRUE(audio->closedByClient());
  EXPECT_TRUE(waitFor([&] { return !client->audio().isConnected(); }));
  EXPECT_EQ(player.plays(), 1u);
  EXPECT_EQ(client->audio().expected(), 17);
  // Only the control connection's 2041 reaches the window. The waits above may have found what
  // they waited for without pumping the window's messages, so they are pumped here.
  EXPECT_TRUE(waitFor([&] { return !window.messages.empty(); }));
  waitFor([] { return false; }, 100);  // whatever the audio connection posted arrives meanwhile
  EXPECT_EQ(window.messages.size(), 1u);
}

TEST_F(AudioConnection, WrongMagicDropsSeventeenBytesAndLengthZeroDispatchesAtOnce) {
  auto bad = goldenHeader(RSP_AUDIOG726, 0);
  bad[1] = 'X';
  auto zero = goldenHeader(REQ_AUTHLOGIN, 0);
  zero[4] = 0x7F;
  audio->send(concat(bad, zero));
  EXPECT_EQ(audio->readBytes(81), goldenLogin("admin", "secret"));
}

TEST_F(AudioConnection, AudioCloseConfirmationResetsTheReceiveState) {
  const Bytes message = buildMessage(RSP_AUDIOG726, block(10));
  audio->send(std::span(message).first(20));  // half a message
  ASSERT_TRUE(waitFor([&] { return client->audio().filled() == 20; }));
  control->sendMessage(RSP_AUDIOCLOSE, openReply(1, 0, 2, 67));
  control->sendMessage(RSP_INFO05);  // marker: the close confirmation has been handled
  ASSERT_EQ(waitForReplies(1).size(), 1u);
  // The rest of the old message is now read as a new header and dropped; a fresh block plays.
  audio->send(std::span(message).subspan(20));
  audio->sendMessage(RSP_AUDIOG726, block(6));
  ASSERT_TRUE(waitForPlays(1));
  EXPECT_EQ(player.log(), Log{"g726:6"});
}

TEST_F(AudioConnection, CloseResetsAndCanBeOpenedAgain) {
  EXPECT_EQ(client->requestAudioClose(), 1);
  EXPECT_EQ(control->readBytes(17), goldenHeader(REQ_AUDIOCLOSE, 0));
  EXPECT_EQ(client->closeAudio(), S_DONE);
  EXPECT_TRUE(audio->closedByClient());
  EXPECT_EQ(client->closeAudio(), S_DONE);  // nothing runs: nothing to do
  EXPECT_EQ(client->audio().expected(), 17);
  reopen();
}

TEST_F(AudioConnection, TheDvrsCloseConfirmationRacingTheUsersCloseLeavesTheBufferSound) {
  // RSP_AUDIOCLOSE on the control thread and the user's close on the UI thread, with nothing to
  // order them: the reset of the receive buffer is left to the audio side (the receive thread or
  // the close after its join), never done from the control thread. ThreadSanitizer checks it,
  // with the audio thread still running and with the audio connection already lost.
  const Bytes message = buildMessage(RSP_AUDIOG726, block(10));
  for (int i = 0; i < 10; ++i) {
    if (i > 0) reopen();
    audio->send(std::span(message).first(20));
    ASSERT_TRUE(waitFor([&] { return client->audio().filled() == 20; }));
    if (i % 2 == 1) {
      audio->close();
      ASSERT_TRUE(waitUnpumped([&] { return !client->audio().channel().hasLiveThread(); }));
    }
    control->sendMessage(RSP_AUDIOCLOSE, openReply(1, 0, 2, 67));
    std::this_thread::sleep_for(std::chrono::microseconds(i % 2 == 1 ? 50000 : 200 * i));
    EXPECT_EQ(client->closeAudio(), S_DONE);
    EXPECT_EQ(client->audio().filled(), 0);
  }
  reopen();
  audio->sendMessage(RSP_AUDIOG726, block(6));
  ASSERT_TRUE(waitForPlays(1));
  EXPECT_EQ(player.log(), Log{"g726:6"});
}

TEST_F(AudioConnection, ReadErrorResetsWithoutAnyMessage) {
  audio->close();
  ASSERT_TRUE(waitFor([&] { return !client->audio().isConnected(); }));
  waitFor([] { return false; }, 100);
  EXPECT_EQ(window.messages.size(), 1u);  // only the control connection's 2041
  EXPECT_EQ(client->audio().expected(), 17);
  // The thread ended by itself: closing it is still a success, so a disconnect carries on.
  EXPECT_EQ(client->closeAudio(), S_DONE);
}

}  // namespace
