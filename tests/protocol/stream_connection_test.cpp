// The live-stream connection: login, frame pull and dispatch to the decoders.
#include <thread>

#include "client_fixture.h"
#include "platform/dialog_host.h"
#include "platform/result_codes.h"

namespace {

// An RSP_LIVEFRAME body: status, 2 bytes, frame type, then padding and a frame.
Bytes liveFrame(uint16_t status, uint16_t type, uint8_t channel, size_t payload = 20,
                size_t padding = 0) {
  Bytes body(6 + padding, 0);
  writeBe16(body.data(), status);
  writeBe16(body.data() + 4, type);
  body.push_back(0x01);
  body.push_back(channel);
  for (size_t i = 0; i < payload; ++i) body.push_back(static_cast<uint8_t>(0x80 + (i % 64)));
  return body;
}

// REQ_LIVEFRAME for a channel: the channel counted from one, then 01 00 01.
Bytes frameRequest(uint8_t channel) {
  return concat(goldenHeader(REQ_LIVEFRAME, 4), {static_cast<uint8_t>(channel + 1), 1, 0, 1});
}

class StreamConnection : public ClientFixture {
 protected:
  // Control login, stream opened and logged in, channel 0 selected and the first frame asked.
  void startStreaming() {
    connectAndLogin();
    openStream();
    loginOf(*stream);
    ASSERT_TRUE(client->stream().selectChannel(0));
    ASSERT_TRUE(client->stream().requestNextFrame());
    ASSERT_EQ(stream->readBytes(21), frameRequest(0));
  }
  bool nextRequestArrives() { return stream->readBytes(21, 2000) == frameRequest(0); }
};

TEST_F(StreamConnection, LogsInWithTheUsersAccountAndPassesTheResultOnAsKindOne) {
  connectAndLogin();
  openStream();
  EXPECT_EQ(loginOf(*stream), goldenLogin("admin", "secret"));
  stream->sendMessage(RSP_AUTHRESULT, Bytes{0, 1, 0});
  // RSP_LIVEOPEN and the stream's login result, in either order: the control thread passes
  // RSP_LIVEOPEN on only after it has started the stream connection.
  const auto replies = waitForReplies(2);
  ASSERT_EQ(replies.size(), 2u);
  const auto& result = replies[0].record.command == RSP_AUTHRESULT ? replies[0] : replies[1];
  EXPECT_EQ(
      fields(result),
      (ReplyFields{RSP_AUTHRESULT, RSP_AUTHRESULT, kReplyFromStream, kIndex, 3, {0, 1, 0}, false}));
}

TEST_F(StreamConnection, EachHandledFrameIsFollowedByExactlyOneRequest) {
  startStreaming();
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 0, 3));
  EXPECT_TRUE(nextRequestArrives());
  EXPECT_EQ(client->stream().codecMode(), 1);
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 15, 30, 5));  // zero bytes before the frame
  EXPECT_TRUE(nextRequestArrives());
  EXPECT_TRUE(stream->quietFor(100));
  ASSERT_EQ(codec.count(), 1u);
  ASSERT_EQ(jpeg.count(), 1u);
  EXPECT_EQ(codec.frames()[0].size(), 22u);
  EXPECT_EQ(codec.frames()[0][1], 3);
  EXPECT_EQ(jpeg.frames()[0].size(), 32u);
  EXPECT_EQ(jpeg.frames()[0][0], 0x01);
  EXPECT_EQ(client->stream().codecMode(), 0);
  // A failed status, an unknown type and a body shorter than its prefix draw nothing and leave
  // the mode alone, but still end their handling with a request.
  for (const Bytes& body : {liveFrame(0, 0, 0), liveFrame(1, 2, 0), Bytes{0, 1, 0}}) {
    stream->sendMessage(RSP_LIVEFRAME, body);
    EXPECT_TRUE(nextRequestArrives());
  }
  EXPECT_TRUE(stream->quietFor(100));
  EXPECT_EQ(codec.count() + jpeg.count(), 2u);
  EXPECT_EQ(client->stream().codecMode(), 0);
  // The channel goes on the wire counted from one.
  ASSERT_TRUE(client->stream().selectChannel(15));
  ASSERT_TRUE(client->stream().requestNextFrame());
  EXPECT_EQ(stream->readBytes(21), frameRequest(15));
  EXPECT_FALSE(client->stream().selectChannel(16));
  EXPECT_FALSE(client->stream().selectChannel(-2));
  EXPECT_EQ(client->stream().requestedChannel(), 15);
}

TEST_F(StreamConnection, DroppedFramesAndClearedChannelsAreNotFollowedByARequest) {
  startStreaming();
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 0, 16));  // channel out of range
  Bytes noMarker(40, 0);
  writeBe16(noMarker.data(), 1);
  stream->sendMessage(RSP_LIVEFRAME, noMarker);
  stream->sendMessage(RSP_LIVEDATA, Bytes{0, 0, 1, 2, 9, 9});  // codec data, never a request
  stream->sendMessage(RSP_LIVEDATA, Bytes{1, 16, 0});          // channel 16: dropped
  ASSERT_TRUE(waitFor([&] { return codec.count() == 1; }));
  EXPECT_TRUE(stream->quietFor(150));
  EXPECT_EQ(codec.frames()[0], (Bytes{1, 2, 9, 9}));
  EXPECT_EQ(jpeg.count(), 0u);
  ASSERT_TRUE(client->stream().selectChannel(-1));
  EXPECT_FALSE(client->stream().requestNextFrame());
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 0, 2));  // already on its way: still decoded
  ASSERT_TRUE(waitFor([&] { return codec.count() == 2; }));
  EXPECT_TRUE(stream->quietFor(150));
}

TEST_F(StreamConnection, SkipsBodiesLargerThanItsBufferAndKeepsTheSlackZeroed) {
  // The peer sends only when asked: a skipped frame is still followed by one request.
  startStreaming();
  const uint32_t tooBig = CStreamConnection::kBufferSize + 1;
  stream->sendHeader(RSP_LIVEFRAME, tooBig);
  stream->send(liveFrame(1, 1, 0, tooBig - 8));
  EXPECT_TRUE(nextRequestArrives());
  stream->sendHeader(RSP_LIVEDATA, tooBig);  // not a pulled frame: no request
  stream->send(Bytes(tooBig, 1));
  // The largest body that fits: its JPEG frame ends at the buffer's last byte.
  const Bytes largest = liveFrame(1, 1, 0, CStreamConnection::kBufferSize - 8);
  ASSERT_EQ(largest.size(), CStreamConnection::kBufferSize);
  stream->sendMessage(RSP_LIVEFRAME, largest);
  EXPECT_TRUE(nextRequestArrives());
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 0, 10));
  EXPECT_TRUE(nextRequestArrives());
  ASSERT_EQ(jpeg.count(), 2u);
  EXPECT_EQ(jpeg.frames()[0].size(), CStreamConnection::kBufferSize - 6);
  EXPECT_TRUE(jpeg.slackAlwaysZero());
  EXPECT_TRUE(client->stream().isRunning());
  EXPECT_TRUE(stream->quietFor(100));
}

TEST_F(StreamConnection, AnAbsurdLengthEndsTheStreamAsALoss) {
  startStreaming();
  stream->sendHeader(RSP_LIVEFRAME, 0xFFFFFFFF);
  stream->send(Bytes(1000, 1));
  EXPECT_TRUE(stream->closedByClient());
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kLiveStreamLost) == 1; }));
  EXPECT_TRUE(client->stream().lost());
  EXPECT_TRUE(client->state().connected());
}

TEST_F(StreamConnection, LostStreamPostsMessage2051AndCanBeOpenedAgain) {
  startStreaming();
  stream->close();
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kLiveStreamLost) == 1; }));
  EXPECT_EQ(window.find(msg::kLiveStreamLost)->wParam, uintptr_t{kIndex});
  EXPECT_EQ(window.find(msg::kLiveStreamLost)->lParam, 0);
  EXPECT_TRUE(client->stream().lost());
  EXPECT_FALSE(client->stream().isRunning());
  EXPECT_TRUE(client->state().connected());  // the control connection carries on
  openStream();
  EXPECT_FALSE(client->stream().lost());
}

TEST_F(StreamConnection, CloseFromTheUiThreadPostsNothing) {
  startStreaming();
  EXPECT_EQ(client->closeStream(), S_DONE);
  EXPECT_TRUE(stream->closedByClient());
  EXPECT_FALSE(waitFor([&] { return window.count(msg::kLiveStreamLost) > 0; }, 100));
  EXPECT_EQ(client->closeStream(), S_DONE);  // not running: nothing to do
}

TEST_F(StreamConnection, CloseRunsNoReplyHandlerAndAHandlerMayDeleteTheClientAfterwards) {
  startStreaming();
  codec.delayMs = 300;
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 0, 3));
  ASSERT_TRUE(waitFor([&] { return codec.decoding.load(); }));
  // A reply waits for the UI thread, which doesn't pump until the close has returned.
  control->sendMessage(RSP_INFO05);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  bool closing = false, ranInsideClose = false;
  window.onReply = [&](const ReplyRecord&) {
    if (closing)
      ranInsideClose = true;
    else
      client.reset();  // as the main window does after RSP_DISCONNECT
  };
  closing = true;
  EXPECT_EQ(client->closeStream(), S_DONE);
  closing = false;
  EXPECT_FALSE(ranInsideClose);
  EXPECT_TRUE(waitFor([&] { return !client; }));
}

TEST_F(StreamConnection, OpenRefusesEmptyCredentialsAndASecondOpen) {
  CStreamConnection& connection = client->stream();
  EXPECT_EQ(connection.open("127.0.0.1", streamListener.port(), "admin", ""), E_FAIL);
  EXPECT_EQ(connection.open("127.0.0.1", streamListener.port(), "", "x"), E_FAIL);
  connectAndLogin();
  openStream();
  EXPECT_EQ(client->openStream("127.0.0.1", streamListener.port(), "admin", "secret"), E_FAIL);
}

TEST_F(StreamConnection, FailedConnectShowsTheBoxAndIsALoss) {
  CRecordingDialogHost host;
  platform::setDialogHost(&host);
  connectAndLogin();
  control->sendMessage(RSP_LIVEOPEN, openReply(1, unusedLoopbackPort(), 2, 4));
  EXPECT_TRUE(waitFor([&] { return host.messages().size() == 1; }));
  platform::setDialogHost(nullptr);
  ASSERT_EQ(host.messages().size(), 1u);
  EXPECT_EQ(host.messages()[0].text, QStringLiteral("Error : Live Stream Connect"));
  // The window waits for the stream: it hears of the failure like of any other loss.
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kLiveStreamLost) == 1; }));
  EXPECT_TRUE(client->stream().lost());
  EXPECT_EQ(client->closeStream(), S_DONE);
  EXPECT_FALSE(client->stream().lost());
}

}  // namespace
