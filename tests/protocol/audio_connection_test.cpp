// The audio connection: login, pass-on of the verdict, block assembly and codec switching.
#include <thread>

#include "client_fixture.h"
#include "platform/result_codes.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes block(size_t payload) {
  return Bytes(16 + payload, 0x33);
}

class AudioConnection : public ClientFixture {
 protected:
  void startAudio() {
    connectAndLogin();
    openAudio();
  }
  bool waitForPlays(size_t n) {
    return waitFor([&] { return player.plays() >= n; });
  }
};

TEST_F(AudioConnection, LogsInInTwoPartsAndPassesTheVerdictOnAsKindEight) {
  startAudio();
  audio->sendMessage(REQ_AUTHLOGIN);
  const auto login = audio->readMessage();
  ASSERT_TRUE(login);
  EXPECT_EQ(login->command(), RSP_AUTHLOGIN);
  EXPECT_EQ(login->subCode(), RSP_AUTHLOGIN);
  ASSERT_EQ(login->body.size(), 64u);
  EXPECT_EQ(std::string(login->body.begin(), login->body.begin() + 6), std::string("admin\0", 6));
  audio->sendMessage(RSP_AUTHRESULT, Bytes{0, 1, 0});
  const auto replies = waitForReplies(1);
  ASSERT_EQ(replies.size(), 1u);  // RSP_AUDIOOPEN itself is not passed on
  EXPECT_EQ(replies[0].record.command, RSP_AUTHRESULT);
  EXPECT_EQ(replies[0].record.kind, kReplyFromAudio);
}

TEST_F(AudioConnection, AssemblesSplitHeadersAndBodies) {
  startAudio();
  Bytes message = buildMessage(RSP_AUDIOG726, block(100));
  audio->send(std::span(message).first(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  audio->send(std::span(message).subspan(10, 7));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  // A body read of exactly 17 bytes, then the rest.
  audio->send(std::span(message).subspan(17, 17));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  audio->send(std::span(message).subspan(34));
  ASSERT_TRUE(waitForPlays(1));
  EXPECT_EQ(player.log(), (std::vector<std::string>{"g726:100"}));
  EXPECT_EQ(client->audio().expected(), 17);
  EXPECT_EQ(client->audio().filled(), 0);
}

TEST_F(AudioConnection, SwitchesTheCodecOnlyWhenTheKindChanges) {
  startAudio();
  audio->sendMessage(RSP_AUDIOG726, block(1024));
  audio->sendMessage(RSP_AUDIOADPCM, block(768));
  audio->sendMessage(RSP_AUDIOADPCM, block(0));  // exactly 16 bytes: zero samples
  audio->sendMessage(RSP_AUDIOG726, block(4));
  ASSERT_TRUE(waitForPlays(4));
  EXPECT_EQ(player.log(),
            (std::vector<std::string>{"g726:1024", "close", "open", "mode:adpcm", "adpcm:768",
                                      "adpcm:0", "close", "open", "mode:g726", "g726:4"}));
}

TEST_F(AudioConnection, DropsBlocksThatDontFitAndKeepsReading) {
  startAudio();
  audio->sendMessage(RSP_AUDIOG726, block(1025));
  audio->sendMessage(RSP_AUDIOADPCM, block(769));
  audio->sendMessage(RSP_AUDIOG726, Bytes(15, 0));
  audio->sendHeader(RSP_AUDIOG726, 5121);  // over the buffer: read past and dropped
  audio->send(Bytes(5121, 0x5A));
  audio->sendHeader(RSP_AUDIOG726, 0xFFFFFFFF);
  audio->send(Bytes(3000, 0x5A));
  // The skip above swallows the next 0xFFFFFFFF bytes; check what came before it played nothing.
  EXPECT_FALSE(waitFor([&] { return player.plays() > 0; }, 200));
  EXPECT_TRUE(client->audio().isConnected());
}

TEST_F(AudioConnection, OversizedBodyIsSkippedAndTheNextMessagePlays) {
  startAudio();
  audio->sendHeader(RSP_AUDIOG726, 20000);
  audio->send(Bytes(20000, 0x5A));
  audio->sendMessage(RSP_AUDIOG726, block(8));
  ASSERT_TRUE(waitForPlays(1));
  EXPECT_EQ(player.log(), (std::vector<std::string>{"g726:8"}));
}

TEST_F(AudioConnection, WrongMagicDropsSeventeenBytesAndLengthZeroDispatchesAtOnce) {
  startAudio();
  auto bad = MessageHeader::build(RSP_AUDIOG726, 0);
  bad[1] = 'X';
  audio->send(bad);
  auto zero = MessageHeader::build(REQ_AUTHLOGIN, 0);
  zero[4] = 0x7F;
  audio->send(zero);
  const auto login = audio->readMessage();
  ASSERT_TRUE(login);
  EXPECT_EQ(login->command(), RSP_AUTHLOGIN);
}

TEST_F(AudioConnection, AudioCloseConfirmationResetsTheReceiveState) {
  startAudio();
  Bytes message = buildMessage(RSP_AUDIOG726, block(10));
  audio->send(std::span(message).first(20));  // half a message
  ASSERT_TRUE(waitFor([&] { return client->audio().filled() == 20; }));
  Bytes closed(67, 0);
  writeBe16(closed.data(), 1);
  control->sendMessage(RSP_AUDIOCLOSE, closed);
  control->sendMessage(RSP_INFO05);  // marker: the close confirmation has been handled
  ASSERT_EQ(waitForReplies(1).size(), 1u);
  // The rest of the old message is now read as a new header and dropped; a fresh block plays.
  audio->send(std::span(message).subspan(20));
  audio->sendMessage(RSP_AUDIOG726, block(6));
  ASSERT_TRUE(waitForPlays(1));
  EXPECT_EQ(player.log(), (std::vector<std::string>{"g726:6"}));
}

TEST_F(AudioConnection, CloseResetsAndCanBeOpenedAgain) {
  startAudio();
  EXPECT_EQ(client->requestAudioClose(), 1);
  const auto sent = control->readMessage();
  ASSERT_TRUE(sent);
  EXPECT_EQ(sent->command(), REQ_AUDIOCLOSE);
  EXPECT_EQ(sent->length(), 0u);
  EXPECT_EQ(client->closeAudio(), S_DONE);
  EXPECT_TRUE(audio->closedByClient());
  EXPECT_EQ(client->closeAudio(), E_FAIL);  // not running any more
  EXPECT_EQ(client->audio().expected(), 17);
  openAudio();
}

TEST_F(AudioConnection, ReadErrorResetsWithoutAnyMessage) {
  startAudio();
  audio->close();
  ASSERT_TRUE(waitFor([&] { return !client->audio().isConnected(); }));
  waitFor([] { return false; }, 100);
  EXPECT_EQ(window.messages.size(), 1u);  // only the control connection's 2041
  EXPECT_EQ(client->audio().expected(), 17);
}

}  // namespace
