#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <tuple>

#include "mpeg4_stream.h"
#include "platform/display.h"
#include "platform/display_memory_backend.h"
#include "video/codec/video_codec_library.h"

using namespace testing_video;

namespace {

constexpr uint16_t kSentinel = 0x1234;

// Passes every call on to the real video decoder library and records it.
class CRecordingCodecLibrary final : public IVideoCodecLibrary {
 public:
  // channel, width, left, top, mode flags, last
  using Creation = std::tuple<int, int, int, int, uint32_t, int>;
  struct Decode {
    const uint8_t* data;
    uint32_t length;
    int result;
  };

  int channelCreation(int channel, int width, int left, int top, uint32_t modeFlags,
                      int last) override {
    const int result = DecChannelCreation(channel, width, left, top, modeFlags, last);
    std::lock_guard lock(mutex);
    creations.push_back({channel, width, left, top, modeFlags, last});
    return result;
  }
  int decode(int channel, const uint8_t* data, uint32_t length, uint16_t* memory) override {
    const int result =
        forcedDecodeResult != 0 ? forcedDecodeResult : VCDecoder(channel, data, length, memory);
    std::lock_guard lock(mutex);
    decodes.push_back({data, length, result});
    return result;
  }
  void channelEnd(int channel) override {
    DecChannelEnd(channel);
    std::lock_guard lock(mutex);
    ends.push_back(channel);
  }

  std::mutex mutex;
  std::vector<Creation> creations;
  std::vector<Decode> decodes;
  std::vector<int> ends;
  int forcedDecodeResult = 0;  // non-zero: returned instead of decoding
};

// Re-places the library channel as the main window does when the view changes.
int place(const DecChannelPlacement& view) {
  return DecChannelCreation(1, view.width, view.left, view.top, view.modeFlags, view.last);
}

class VideoDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(display.GXOpenDisplay(nullptr, 0), 0);
    display.fill(kSentinel);
    ASSERT_TRUE(decoder.bind(0, &gates));
  }
  void TearDown() override { decoder.endChannel(); }

  bool decode(const std::vector<uint8_t>& frame) {
    // The connection guarantees readable zeroed room after every frame.
    lastBuffer = frame;
    lastBuffer.resize(frame.size() + kFrameReadSlack, 0);
    return decoder.decodeFrame(lastBuffer.data(), static_cast<uint32_t>(frame.size()));
  }
  // The window area matches FFmpeg's own decode of the packet, scaled the same way: exactly
  // (tolerance 0 per RGB565 component), since both scale with libswscale to 24 bits and truncate
  // to 5/6/5 bits.
  void expectWindowShows(CReferenceDecoder& reference, const std::vector<uint8_t>& packet) {
    const std::vector<uint16_t> expected = reference.decode(packet);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(maxComponentDifference(shownPicture(display.snapshot(), false), expected), 0);
  }

  CMemoryDisplayBackend backend;
  Display display{backend};
  CTestGates gates;
  CRecordingCodecLibrary library;
  CVideoDecoder decoder{display, library};
  std::vector<uint8_t> lastBuffer;
};

// A 352 x 240 stream, the window switched to full screen, then a new sequence header (704 x 480):
// the channel is created again in the window view and shows FFmpeg's own decode there.
TEST_F(VideoDecoderTest, WindowViewMatchesFfmpegDecodeAndNewHeadersRecreateIt) {
  for (const auto& frame : dvrFrames(encodeMpeg4(352, 240, 3, 10, 1))) ASSERT_TRUE(decode(frame));
  ASSERT_EQ(place(kDecFullScreenView), 0);
  display.fill(kSentinel);
  CReferenceDecoder reference(214);
  for (const auto& picture : encodeMpeg4(704, 480, 8, 4, 2)) {
    ASSERT_TRUE(decode(dvrFrame(picture.packet)));
    expectWindowShows(reference, picture.packet);
  }
  EXPECT_EQ(writtenOutsideWindowArea(display.snapshot(), kSentinel), 0);
  EXPECT_EQ(display.beginCount(), 11u);
  EXPECT_EQ(display.endCount(), 11u);
  ASSERT_EQ(library.creations.size(), 2u);
  const CRecordingCodecLibrary::Creation window{1, 214, 14, 43, 0xC0000007u, 1};
  EXPECT_EQ(library.creations, std::vector(2, window));
}

// The window re-places the channel for full screen without ending it: the stream goes on
// decoding (no new configuration needed) and is drawn turned over the whole display.
TEST_F(VideoDecoderTest, FullScreenPlacementDrawsThePictureTurned) {
  const auto pictures = encodeMpeg4(352, 240, 6, 6);
  CReferenceDecoder fullReference(320);
  for (size_t i = 0; i < pictures.size(); ++i) {
    if (i == 2) {
      ASSERT_EQ(place(kDecFullScreenView), 0);
    }
    ASSERT_TRUE(decode(dvrFrame(pictures[i].packet)));
    const std::vector<uint16_t> expected = fullReference.decode(pictures[i].packet);
    if (i >= 2) {
      EXPECT_EQ(maxComponentDifference(shownPicture(display.snapshot(), true), expected), 0)
          << "picture " << i;
    }
  }
  EXPECT_EQ(library.creations.size(), 1u);
  EXPECT_TRUE(library.ends.empty());
}

// The view is the decoder's to keep: a channel that opens while full screen is shown (a switch
// to a codec channel there) opens full screen at once, and leaving re-places the open channel,
// which goes on decoding in the window.
TEST_F(VideoDecoderTest, ChannelsOpenInTheViewShownNow) {
  decoder.setFullScreen(true);
  const auto pictures = encodeMpeg4(352, 240, 6, 6);
  CReferenceDecoder fullReference(320);
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(decode(dvrFrame(pictures[i].packet)));
    const std::vector<uint16_t> expected = fullReference.decode(pictures[i].packet);
    EXPECT_EQ(maxComponentDifference(shownPicture(display.snapshot(), true), expected), 0) << i;
  }
  decoder.setFullScreen(false);
  display.fill(kSentinel);
  for (size_t i = 3; i < pictures.size(); ++i) ASSERT_TRUE(decode(dvrFrame(pictures[i].packet)));
  EXPECT_EQ(writtenOutsideWindowArea(display.snapshot(), kSentinel), 0);
  const CRecordingCodecLibrary::Creation full{1, 320, 0, 0, 7u, 1};
  const CRecordingCodecLibrary::Creation window{1, 214, 14, 43, 0xC0000007u, 1};
  EXPECT_EQ(library.creations, (std::vector{full, window}));
  EXPECT_TRUE(library.ends.empty());
}

// Three key pictures with the same configuration, and pictures between them whose first bytes
// differ from the stored header but hold no 00 00 01 01: one creation for all.
TEST_F(VideoDecoderTest, UnchangedSequenceHeaderKeepsTheChannel) {
  const auto frames = dvrFrames(encodeMpeg4(352, 240, 9, 3));
  ASSERT_TRUE(decode(frames[0]));
  ASSERT_NE(std::memcmp(frames[1].data() + 16, decoder.sequenceHeader().data(), 19), 0);
  for (size_t i = 1; i < frames.size(); ++i) ASSERT_TRUE(decode(frames[i]));
  EXPECT_EQ(library.creations.size(), 1u);
  EXPECT_TRUE(library.ends.empty());
  ASSERT_EQ(library.decodes.size(), 9u);
  for (const auto& call : library.decodes) EXPECT_EQ(call.result, kDecDrawn);
}

TEST_F(VideoDecoderTest, FirstFrameAfterEndChannelStartsAtItsLastVideoObjectStart) {
  const auto pictures = encodeMpeg4(352, 240, 4, 2);
  const auto frames = dvrFrames(pictures);
  ASSERT_TRUE(decode(frames[0]));
  ASSERT_TRUE(decode(frames[1]));
  decoder.endChannel();
  EXPECT_EQ(library.ends.size(), 1u);
  EXPECT_TRUE(decoder.firstFrame());
  EXPECT_FALSE(decoder.isCreated());

  // A key frame with a stale, cut-off configuration in front of the real one.
  std::vector<uint8_t> frame = frames[2];
  const std::vector<uint8_t> stale = {0, 0, 1, 1, 0, 0, 1, 0x20, 0xAA, 0xBB};
  frame.insert(frame.begin() + 16, stale.begin(), stale.end());
  const uint32_t last = 16 + static_cast<uint32_t>(stale.size());
  library.decodes.clear();
  CReferenceDecoder reference(214);
  EXPECT_TRUE(decode(frame));
  expectWindowShows(reference, pictures[2].packet);
  ASSERT_EQ(library.creations.size(), 2u);
  ASSERT_EQ(library.decodes.size(), 1u);
  EXPECT_EQ(library.decodes[0].data, lastBuffer.data() + last);
  EXPECT_EQ(library.decodes[0].length, frame.size() - last);
  EXPECT_FALSE(decoder.firstFrame());

  // Later frames are decoded from their first picture start code, and still match FFmpeg.
  ASSERT_TRUE(decode(frames[3]));
  ASSERT_EQ(library.decodes.size(), 2u);
  EXPECT_EQ(std::vector<uint8_t>(library.decodes[1].data, library.decodes[1].data + 4),
            (std::vector<uint8_t>{0, 0, 1, 0xB6}));
  expectWindowShows(reference, pictures[3].packet);
}

TEST_F(VideoDecoderTest, FirstFrameWithoutVideoObjectStartIsPassedWhole) {
  const auto frame = dvrFrame(encodeMpeg4(352, 240, 2, 10)[1].packet);  // no configuration
  decode(frame);
  ASSERT_EQ(library.creations.size(), 1u);
  ASSERT_EQ(library.decodes.size(), 1u);
  EXPECT_EQ(library.decodes[0].data, lastBuffer.data());
  EXPECT_EQ(library.decodes[0].length, frame.size());
  EXPECT_EQ(display.beginCount(), display.endCount());
}

// Each gate alone stops the frame before any decoder call or display access; a disconnect
// requested after the begin ends the draw undecoded; no display memory means no draw and no end.
TEST_F(VideoDecoderTest, GatesAndMissingMemoryStopTheFrame) {
  const auto frame = dvrFrame(encodeMpeg4(352, 240, 1, 1)[0].packet);
  for (int gate = 0; gate < 3; ++gate) {
    gates.closeOnly(gate);
    EXPECT_TRUE(decode(frame));
  }
  EXPECT_EQ(library.creations.size() + library.decodes.size() + library.ends.size(), 0u);
  EXPECT_EQ(display.beginCount(), 0u);
  EXPECT_FALSE(decoder.isCreated());

  CDisconnectMidFrame midFrame;
  decoder.bind(0, &midFrame);
  EXPECT_TRUE(decode(frame));
  EXPECT_TRUE(library.decodes.empty());
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.endCount(), 1u);
  EXPECT_EQ(display.snapshot(), std::vector<uint16_t>(display::kPixels, kSentinel));

  decoder.bind(0, &gates);
  gates.closeOnly(-1);
  display.GXSuspend();
  EXPECT_FALSE(decode(frame));
  EXPECT_TRUE(library.decodes.empty());
  EXPECT_EQ(display.endCount(), 1u);
  display.GXResume();
  EXPECT_TRUE(decode(frame));
  EXPECT_EQ(library.decodes.size(), 1u);
}

TEST_F(VideoDecoderTest, DecoderFailureEndsTheLibraryChannelAndTheDraw) {
  const auto frames = dvrFrames(encodeMpeg4(352, 240, 4, 10));
  ASSERT_TRUE(decode(frames[0]));
  library.forcedDecodeResult = -1;
  EXPECT_FALSE(decode(frames[1]));
  library.forcedDecodeResult = 0;
  EXPECT_EQ(library.ends.size(), 1u);
  EXPECT_EQ(display.beginCount(), display.endCount());
  EXPECT_TRUE(decoder.isOpen());
  // The library channel is gone: the next frame fails harmlessly, still ending its draw.
  EXPECT_FALSE(decode(frames[2]));
  EXPECT_EQ(library.decodes.back().result, kDecFailed);
  EXPECT_EQ(display.beginCount(), display.endCount());
  EXPECT_EQ(library.creations.size(), 1u);
}

// Missing, empty, truncated, garbled and picture-less frames draw nothing; only the frame
// without a picture start code is refused before any decoder call or display access.
TEST_F(VideoDecoderTest, BadFramesDrawNothing) {
  EXPECT_FALSE(decoder.decodeFrame(nullptr, 100));
  const std::vector<uint8_t> empty(kFrameReadSlack, 0);
  EXPECT_FALSE(decoder.decodeFrame(empty.data(), 0));
  EXPECT_EQ(display.beginCount(), 0u);
  const auto frames = dvrFrames(encodeMpeg4(352, 240, 6, 10));
  ASSERT_TRUE(decode(frames[0]));
  ASSERT_TRUE(decode(frames[1]));
  const auto shown = display.snapshot();
  std::vector<uint8_t> noPicture(200, 0x55);
  noPicture[0] = 0x01;
  EXPECT_FALSE(decode(noPicture));
  EXPECT_EQ(library.decodes.size(), 2u);
  EXPECT_EQ(display.beginCount(), 2u);
  decode(std::vector<uint8_t>(frames[2].begin(), frames[2].begin() + frames[2].size() / 2));
  std::vector<uint8_t> garbage = frames[3];
  for (size_t i = 40; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37);
  decode(garbage);
  EXPECT_EQ(display.snapshot(), shown);
  EXPECT_EQ(display.beginCount(), display.endCount());
}

// The live-stream thread decodes while the UI thread ends the channel, switches views and
// suspends the display: every begun draw is ended and nothing breaks.
TEST_F(VideoDecoderTest, UiThreadChangesNeverMeetAFrameHalfway) {
  const auto frames = dvrFrames(encodeMpeg4(352, 240, 20, 5));
  std::atomic<bool> stop{false};
  std::thread live([&] {
    std::vector<std::vector<uint8_t>> buffers = frames;
    for (auto& buffer : buffers) buffer.resize(buffer.size() + kFrameReadSlack, 0);
    for (size_t i = 0; !stop; i = (i + 1) % frames.size()) {
      decoder.decodeFrame(buffers[i].data(), static_cast<uint32_t>(frames[i].size()));
    }
  });
  for (int round = 0; round < 60; ++round) {
    display.GXSuspend();
    gates.displayOk = false;
    place(round % 2 == 0 ? kDecFullScreenView : kDecWindowView);
    gates.displayOk = true;
    display.GXResume();
    if (round % 7 == 0) decoder.endChannel();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stop = true;
  live.join();
  EXPECT_EQ(display.beginCount(), display.endCount());
  EXPECT_GT(display.beginCount(), 0u);
}

TEST_F(VideoDecoderTest, BindNeedsGatesAndCreateNeedsAHeader) {
  {
    CVideoDecoder other(display);
    EXPECT_FALSE(other.bind(0, nullptr));
    EXPECT_TRUE(other.bind(3, &gates));
    EXPECT_EQ(other.channelIndex(), 3);
  }

  const uint8_t header[19] = {0, 0, 1, 1};
  EXPECT_TRUE(decoder.createChannel(header, 19));
  EXPECT_TRUE(decoder.isOpen());
  EXPECT_FALSE(decoder.createChannel(header, 0));
  EXPECT_FALSE(decoder.isOpen());
  EXPECT_FALSE(decoder.isCreated());
  EXPECT_EQ(library.ends.size(), 1u);
}

}  // namespace
