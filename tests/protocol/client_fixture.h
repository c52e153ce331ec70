#pragma once
// A CDvrClient attached to a recording window and a running reply queue, with scripted peers for
// its connections.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/messages.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "protocol/reply_queue.h"
#include "scripted_peer.h"
#include "test_doubles.h"

class ClientFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(queue.start(window.windowId()), 1);
    client = std::make_unique<CDvrClient>();
    ASSERT_EQ(client->attach(0, window.windowId(), &queue), 1);
    ASSERT_EQ(client->attachSubConnections(&codec, &jpeg, &player), 1);
    ASSERT_EQ(client->state().setUserId("admin"), 1);
    ASSERT_EQ(client->state().setPassword("secret"), 1);
  }

  void TearDown() override {
    client.reset();
    queue.stop();
  }

  // Connects the control connection, accepts it and the notice connection and answers the
  // control login; the login body is returned for inspection.
  PeerMessage connectAndLogin() {
    EXPECT_EQ(client->connectControl("127.0.0.1", listener.port()), 1);
    control = listener.accept();
    notice = listener.accept();
    EXPECT_TRUE(control && notice);
    if (!control || !notice) return {};
    EXPECT_TRUE(waitFor([&] { return client->state().connected(); }));
    control->sendMessage(REQ_AUTHLOGIN);
    auto login = control->readMessage();
    EXPECT_TRUE(login.has_value());
    return login.value_or(PeerMessage{});
  }

  // Sends RSP_LIVEOPEN for the stream listener's port, accepts the live-stream connection and
  // answers its login.
  void openStream() {
    std::vector<uint8_t> body(4);
    writeBe16(body.data(), 1);
    writeBe16(body.data() + 2, streamListener.port());
    control->sendMessage(RSP_LIVEOPEN, body);
    stream = streamListener.accept();
    ASSERT_TRUE(stream);
    ASSERT_TRUE(waitFor([&] { return client->stream().isRunning(); }));
  }

  // Sends RSP_AUDIOOPEN for the audio listener's port and accepts the audio connection.
  void openAudio() {
    std::vector<uint8_t> body(69);
    writeBe16(body.data(), 1);
    writeBe16(body.data() + 67, audioListener.port());
    control->sendMessage(RSP_AUDIOOPEN, body);
    audio = audioListener.accept();
    ASSERT_TRUE(audio);
    ASSERT_TRUE(waitFor([&] { return client->audio().isConnected(); }));
  }

  std::vector<ReceivedMessage> waitForReplies(size_t n) {
    waitFor([&] { return window.replies().size() >= n; });
    return window.replies();
  }

  CRecordingWindow window;
  ReplyQueue queue;
  CRecordingCodecSink codec;
  CRecordingJpegSink jpeg;
  CRecordingAudioSink player;
  CScriptedListener listener;
  CScriptedListener streamListener;
  CScriptedListener audioListener;
  std::unique_ptr<CDvrClient> client;
  std::unique_ptr<CScriptedPeer> control, notice, stream, audio;
};
