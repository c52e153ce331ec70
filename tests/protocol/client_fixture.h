#pragma once
// A CDvrClient attached to a recording window and a running reply queue, with scripted peers for
// its connections.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "scripted_peer.h"
#include "test_doubles.h"

inline Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The golden bytes of a header: "ZEMO", NUL, big-endian length, command and subCode = command.
inline Bytes goldenHeader(uint32_t command, uint32_t length) {
  Bytes bytes{'Z', 'E', 'M', 'O', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    bytes[5 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    bytes[9 + i] = bytes[13 + i] = static_cast<uint8_t>(command >> (24 - 8 * i));
  }
  return bytes;
}

// RSP_AUTHLOGIN as it must be on the wire: two NUL-padded 32-byte fields.
inline Bytes goldenLogin(const std::string& user, const std::string& password) {
  Bytes body(64, 0);
  std::copy_n(user.begin(), std::min<size_t>(user.size(), 32), body.begin());
  std::copy_n(password.begin(), std::min<size_t>(password.size(), 32), body.begin() + 32);
  return concat(goldenHeader(RSP_AUTHLOGIN, 64), body);
}

// An RSP_LIVEOPEN or RSP_AUDIOOPEN body: status, then the port at portOffset.
inline Bytes openReply(uint16_t status, uint16_t port, size_t portOffset, size_t size) {
  Bytes body(size, 0);
  writeBe16(body.data(), status);
  writeBe16(body.data() + portOffset, port);
  return body;
}

class ClientFixture : public ::testing::Test {
 protected:
  // Not 0, so "wParam = index" can't pass by accident.
  static constexpr int32_t kIndex = 3;

  void SetUp() override {
    ASSERT_EQ(queue.start(window.windowId()), 1);
    newClient();
  }
  // A client attached as the main window attaches it, replacing the one before.
  void newClient() {
    client = std::make_unique<CDvrClient>();
    ASSERT_EQ(client->attach(kIndex, window.windowId(), &queue), 1);
    ASSERT_EQ(client->attachSubConnections(&codec, &jpeg, &player), 1);
    ASSERT_EQ(client->state().setUserId("admin"), 1);
    ASSERT_EQ(client->state().setPassword("secret"), 1);
  }
  void TearDown() override {
    client.reset();
    queue.stop();
  }

  // Connects the control connection, accepts it and the notice connection and answers the
  // control login; the login's bytes are returned.
  Bytes connectAndLogin(const std::string& host = "127.0.0.1") {
    EXPECT_EQ(client->connectControl(host, listener.port()), 1);
    control = listener.accept();
    notice = listener.accept();
    EXPECT_TRUE(control && notice);
    if (!control || !notice) return {};
    EXPECT_TRUE(waitFor([&] { return client->state().connected(); }));
    return loginOf(*control);
  }
  // Sends REQ_AUTHLOGIN and returns the 81 bytes of the answer.
  Bytes loginOf(CScriptedPeer& peer) {
    peer.sendMessage(REQ_AUTHLOGIN);
    return peer.readBytes(81).value_or(Bytes{});
  }
  // Opens the live-stream connection through RSP_LIVEOPEN and accepts it.
  void openStream() {
    control->sendMessage(RSP_LIVEOPEN, openReply(1, streamListener.port(), 2, 4));
    ASSERT_TRUE(stream = streamListener.accept());
    ASSERT_TRUE(waitFor([&] { return client->stream().isRunning(); }));
  }
  // Opens the audio connection through RSP_AUDIOOPEN and accepts it.
  void openAudio() {
    control->sendMessage(RSP_AUDIOOPEN, openReply(1, audioListener.port(), 67, 69));
    ASSERT_TRUE(audio = audioListener.accept());
    ASSERT_TRUE(waitFor([&] { return client->audio().isConnected(); }));
  }

  // The replies, once n have arrived (or the time-out); each must carry the client's session.
  std::vector<ReceivedMessage> waitForReplies(size_t n) {
    waitFor([&] { return window.replies().size() >= n; });
    const auto replies = window.replies();
    for (const auto& r : replies) {
      EXPECT_NE(r.record.session, 0u);
      if (client) {
        EXPECT_EQ(r.record.session, client->session()) << commandName(r.record.command);
      }
    }
    return replies;
  }
  // The commands of the replies passed on, once n have arrived (or the time-out).
  std::vector<uint32_t> replyCommands(size_t n) {
    std::vector<uint32_t> commands;
    for (const auto& r : waitForReplies(n)) commands.push_back(r.record.command);
    return commands;
  }
  // True when more than n replies arrive within a short while.
  bool moreRepliesThan(size_t n) {
    return waitFor([&] { return window.replies().size() > n; }, 100);
  }

  CRecordingWindow window;
  ReplyQueue queue;
  CRecordingCodecSink codec;
  CRecordingJpegSink jpeg;
  CRecordingAudioSink player;
  CScriptedListener listener, streamListener, audioListener;
  std::unique_ptr<CDvrClient> client;
  std::unique_ptr<CScriptedPeer> control, notice, stream, audio;
};

using Commands = std::vector<uint32_t>;
