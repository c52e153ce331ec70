// Many channels on one live-stream connection: the requests the puller sends (exact bytes),
// one outstanding per channel, round robin, rate caps, and where the answers go.
#include <algorithm>
#include <chrono>
#include <mutex>

#include "client_fixture.h"
#include "platform/dialog_host.h"
#include "platform/result_codes.h"
#include "protocol/live_frame_puller.h"

namespace {

// An RSP_LIVEFRAME body: status, 2 bytes, frame type, then a frame for channel.
Bytes liveFrame(uint16_t status, uint16_t type, uint8_t channel) {
  Bytes body(6, 0);
  writeBe16(body.data(), status);
  writeBe16(body.data() + 4, type);
  body.push_back(0x01);
  body.push_back(channel);
  for (int i = 0; i < 20; ++i) body.push_back(static_cast<uint8_t>(0x40 + i));
  return body;
}

struct Delivered {
  uint8_t channel;
  uint16_t frameType;
  uint64_t sequence;
  uint32_t length;
  uint8_t firstByte;
};

class CRecordingFrameSink final : public IChannelFrameSink {
 public:
  void onChannelFrame(const ChannelFrame& frame) override {
    std::lock_guard lock(mutex_);
    frames_.push_back(
        {frame.channel, frame.frameType, frame.sequence, frame.length, frame.data[0]});
  }
  std::vector<Delivered> frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Delivered> frames_;
};

// A client whose live stream is routed to a puller, as a session attaches it.
class RoutedClient : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    client = std::make_unique<CDvrClient>();
    ASSERT_EQ(client->attach(kIndex, window.windowId(), &queue), 1);
    ASSERT_EQ(client->attachRouted(&puller, &player), 1);
    ASSERT_EQ(client->state().setUserId("admin"), 1);
    ASSERT_EQ(client->state().setPassword("secret"), 1);
  }
  void TearDown() override {
    // The client's stream thread routes into the puller: it goes while the puller lives.
    puller.stop();
    client.reset();
    ClientFixture::TearDown();
  }

  CRecordingFrameSink sink;
  CLiveFramePuller puller{sink};
};

class LiveFramePuller : public RoutedClient {
 protected:
  void SetUp() override {
    RoutedClient::SetUp();
    connectAndLogin();
    openStream();
    loginOf(*stream);
    ASSERT_TRUE(puller.start(client->stream()));
  }
  // The channel of the next request (counted from 0), after checking its bytes; -1 for none.
  int nextRequest(int timeoutMs = 2000) {
    const auto bytes = stream->readBytes(21, timeoutMs);
    if (!bytes) return -1;
    const Bytes expected =
        concat(goldenHeader(REQ_LIVEFRAME, 4), {static_cast<uint8_t>((*bytes)[17]), 1, 0, 1});
    EXPECT_EQ(*bytes, expected);
    return (*bytes)[17] - 1;
  }
  std::vector<int> requests(size_t n) {
    std::vector<int> channels;
    for (size_t i = 0; i < n; ++i) channels.push_back(nextRequest());
    return channels;
  }
};

}  // namespace

TEST_F(LiveFramePuller, AsksEachPulledChannelOnceAndAgainOnlyAfterItsAnswer) {
  puller.setPulled(0b1011);
  EXPECT_EQ(requests(3), (std::vector<int>{0, 1, 3}));
  EXPECT_TRUE(stream->quietFor(150));

  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 1));
  EXPECT_EQ(nextRequest(), 1);
  EXPECT_TRUE(stream->quietFor(100));
  // Answers in any order free exactly their own channels.
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 0, 3));
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 1));
  auto next = requests(2);
  std::sort(next.begin(), next.end());
  EXPECT_EQ(next, (std::vector<int>{1, 3}));
  EXPECT_TRUE(stream->quietFor(100));

  const auto frames = sink.frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].channel, 1);
  EXPECT_EQ(frames[0].sequence, 1u);
  EXPECT_EQ(frames[0].frameType, 1);
  EXPECT_EQ(frames[0].firstByte, 0x01);  // the frame header, not the prefix
  EXPECT_EQ(frames[0].length, 22u);
  EXPECT_EQ(frames[1].channel, 3);
  EXPECT_EQ(frames[1].frameType, 0);
  EXPECT_EQ(frames[1].sequence, 1u);
  EXPECT_EQ(frames[2].channel, 1);
  EXPECT_EQ(frames[2].sequence, 2u);
  EXPECT_EQ(puller.requested(1), 3u);
  EXPECT_EQ(puller.delivered(1), 2u);
  EXPECT_EQ(puller.requested(2), 0u);
}

TEST_F(LiveFramePuller, FramesOfChannelsNotPulledAreDroppedAndNotAskedAgain) {
  puller.setPulled(0b101);
  EXPECT_EQ(requests(2), (std::vector<int>{0, 2}));
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 5));  // nobody wants channel 5
  EXPECT_TRUE(stream->quietFor(100));
  puller.setPulled(0b001);
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 2));  // channel 2 was taken out meanwhile
  EXPECT_TRUE(stream->quietFor(100));
  EXPECT_TRUE(sink.frames().empty());
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 0));
  EXPECT_EQ(nextRequest(), 0);
  // The next request may overtake the delivery on its way to the sink.
  ASSERT_TRUE(waitFor([&] { return sink.frames().size() == 1; }, 5000));
  EXPECT_EQ(sink.frames()[0].channel, 0);
  // A frame type that is neither codec answers its request but reaches nobody.
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 2, 0));
  EXPECT_EQ(nextRequest(), 0);
  EXPECT_EQ(sink.frames().size(), 1u);
}

TEST_F(LiveFramePuller, AnAnswerWithoutAChannelNeverStallsAChannelForEver) {
  puller.setStallTimeoutMs(400);
  puller.setPulled(0b1);
  EXPECT_EQ(nextRequest(), 0);
  // With one request outstanding a failure can only be its answer: asked again at once.
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(0, 1, 0));
  EXPECT_EQ(nextRequest(300), 0);
  stream->sendMessage(RSP_LIVEFRAME, Bytes{0, 1});  // shorter than the prefix
  EXPECT_EQ(nextRequest(300), 0);

  // With two outstanding it can't be told whose it is; the stall timeout frees both.
  puller.setPulled(0b11);
  EXPECT_EQ(nextRequest(), 1);
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(0, 1, 0));
  EXPECT_TRUE(stream->quietFor(150));
  auto again = requests(2);
  std::sort(again.begin(), again.end());
  EXPECT_EQ(again, (std::vector<int>{0, 1}));
  EXPECT_GE(puller.stalled(), 2u);
  EXPECT_TRUE(sink.frames().empty());
}

TEST_F(LiveFramePuller, ARateCapSpacesTheRequestsOfItsChannelOnly) {
  puller.setRateCap(0, 4);
  puller.setPulled(0b11);
  EXPECT_EQ(requests(2), (std::vector<int>{0, 1}));
  // Both channels answered at once, for a second: channel 1 runs free, channel 0 at 4 a second.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  int asked0 = 1, asked1 = 1;
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 0));
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 1));
  while (std::chrono::steady_clock::now() < until) {
    const int channel = nextRequest(300);
    if (channel < 0) continue;
    ++(channel == 0 ? asked0 : asked1);
    stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, static_cast<uint8_t>(channel)));
  }
  EXPECT_LE(asked0, 6);
  EXPECT_GE(asked0, 2);
  EXPECT_GT(asked1, 3 * asked0);
}

// A consumer that falls behind holds its channel: nothing new is asked for it until it lets go,
// and a hold it forgets ends by itself.
TEST_F(LiveFramePuller, AHeldChannelIsAskedAgainOnlyOnceReleased) {
  puller.setHoldOnDelivery(true);
  puller.setPulled(0b11);
  auto first = requests(2);
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (std::vector<int>{0, 1}));
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 0));
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 1));
  ASSERT_TRUE(waitFor([&] { return sink.frames().size() == 2; }, 5000));
  EXPECT_TRUE(stream->quietFor(200)) << "both channels are held by their delivery";
  puller.setHeld(0, false);
  EXPECT_EQ(nextRequest(), 0);
  // An answer that reaches nobody (neither codec) holds nothing: asked again at once.
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 2, 0));
  EXPECT_EQ(nextRequest(300), 0);
  // A hold set by hand works the same; channel 1, never released, is asked again after the
  // hold's time runs out.
  puller.setHeld(0, true);
  stream->sendMessage(RSP_LIVEFRAME, liveFrame(1, 1, 0));
  EXPECT_EQ(nextRequest(CLiveFramePuller::kHoldTimeoutMs + 1000), 1);
  EXPECT_EQ(nextRequest(CLiveFramePuller::kHoldTimeoutMs + 1000), 0);
  EXPECT_EQ(puller.stalled(), 0u);
}

// Several sessions live beside the compact window: their news reaches their own window only.
TEST_F(RoutedClient, ReportsToItsOwnWindowAndAFailedStreamConnectShowsNoBox) {
  CRecordingWindow mainWindow;
  platform::setMainWindow(mainWindow.windowId());
  CRecordingDialogHost host;
  platform::setDialogHost(&host);
  connectAndLogin();
  control->sendMessage(RSP_LIVEOPEN, openReply(1, unusedLoopbackPort(), 2, 4));
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kLiveStreamLost) == 1; }));
  EXPECT_TRUE(client->stream().lost());
  EXPECT_TRUE(client->stream().connectFailed());
  EXPECT_EQ(client->closeStream(), S_DONE);
  EXPECT_FALSE(client->stream().connectFailed());

  control.reset();  // the DVR goes away
  ASSERT_TRUE(waitFor([&] { return window.count(msg::kControlLinkLost) == 1; }));
  waitFor([] { return false; }, 50);
  platform::setDialogHost(nullptr);
  platform::setMainWindow(kNoWindow);
  EXPECT_TRUE(host.messages().empty());
  EXPECT_TRUE(mainWindow.messages.empty());
}
