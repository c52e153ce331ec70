#include "video/video_decoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "mpeg4_stream.h"
#include "platform/display.h"
#include "platform/display_memory_backend.h"
#include "recording_codec_library.h"

using namespace testing_video;

namespace {

constexpr uint16_t kSentinel = 0x1234;

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
    std::vector<uint8_t> buffer(frame);
    buffer.resize(frame.size() + kFrameReadSlack, 0);
    lastBuffer = buffer;
    return decoder.decodeFrame(lastBuffer.data(), static_cast<uint32_t>(frame.size()));
  }
  std::vector<uint16_t> windowArea() { return displayArea(display.snapshot(), 14, 43, 214, 160); }

  CMemoryDisplayBackend backend;
  Display display{backend};
  CTestGates gates;
  CRecordingCodecLibrary library;
  CVideoDecoder decoder{display, library};
  std::vector<uint8_t> lastBuffer;
};

// Bytes outside the window's picture area that differ from the sentinel.
int writtenOutsideWindowArea(const std::vector<uint16_t>& memory) {
  int written = 0;
  for (int row = 0; row < 320; ++row) {
    for (int col = 0; col < 240; ++col) {
      const bool inside = row >= 43 && row < 203 && col >= 14 && col < 228;
      if (!inside && memory[row * 240 + col] != kSentinel) ++written;
    }
  }
  return written;
}

// The decoded picture in the display memory matches FFmpeg's own decode of the same packets,
// scaled the same way: exactly (tolerance 0 per RGB565 component), since both scale with
// libswscale to 24 bits and truncate to 5/6/5 bits.
TEST_F(VideoDecoderTest, WindowViewMatchesFfmpegDecodeOfTheSameFrames) {
  const auto pictures = encodeMpeg4(704, 480, 8, 4);
  CReferenceDecoder reference(214);
  for (const EncodedPicture& picture : pictures) {
    ASSERT_TRUE(decode(dvrFrame(picture.packet)));
    const std::vector<uint16_t> expected = reference.decode(picture.packet);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(maxComponentDifference(windowArea(), expected), 0);
  }
  EXPECT_EQ(writtenOutsideWindowArea(display.snapshot()), 0);
  EXPECT_EQ(display.beginCount(), pictures.size());
  EXPECT_EQ(display.endCount(), pictures.size());
  ASSERT_EQ(library.creations.size(), 1u);
  const auto& creation = library.creations[0];
  EXPECT_EQ(creation.channel, 1);
  EXPECT_EQ(creation.width, 214);
  EXPECT_EQ(creation.left, 14);
  EXPECT_EQ(creation.top, 43);
  EXPECT_EQ(creation.modeFlags, 0xC0000007u);
  EXPECT_EQ(creation.last, 1);
}

// The window re-places the channel for full screen without ending it: the stream goes on
// decoding (no new configuration needed) and is drawn turned over the whole display.
TEST_F(VideoDecoderTest, FullScreenPlacementDrawsThePictureTurned) {
  const auto pictures = encodeMpeg4(352, 240, 6, 6);
  CReferenceDecoder windowReference(214);
  CReferenceDecoder fullReference(320);
  for (size_t i = 0; i < pictures.size(); ++i) {
    if (i == 2) {
      const DecChannelPlacement& full = kDecFullScreenView;
      ASSERT_EQ(DecChannelCreation(1, full.width, full.left, full.top, full.modeFlags, full.last),
                0);
    }
    ASSERT_TRUE(decode(dvrFrame(pictures[i].packet)));
    windowReference.decode(pictures[i].packet);
    const std::vector<uint16_t> expected = fullReference.decode(pictures[i].packet);
    if (i >= 2) {
      EXPECT_EQ(maxComponentDifference(turnedBack(display.snapshot(), 320, 240), expected), 0)
          << "picture " << i;
    }
  }
  EXPECT_EQ(library.creations.size(), 1u);
  EXPECT_TRUE(library.ends.empty());
}

TEST_F(VideoDecoderTest, UnchangedSequenceHeaderKeepsTheChannel) {
  const auto pictures = encodeMpeg4(352, 240, 9, 3);  // three key pictures, same configuration
  for (const auto& frame : dvrFrames(pictures)) ASSERT_TRUE(decode(frame));
  EXPECT_EQ(library.creations.size(), 1u);
  EXPECT_TRUE(library.ends.empty());
  ASSERT_EQ(library.decodes.size(), 9u);
  for (const auto& call : library.decodes) EXPECT_EQ(call.result, kDecDrawn);
}

TEST_F(VideoDecoderTest, FirstFrameAfterEndChannelStartsAtItsLastVideoObjectStart) {
  const auto pictures = encodeMpeg4(352, 240, 4, 2);
  auto frames = dvrFrames(pictures);
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
  EXPECT_EQ(maxComponentDifference(windowArea(), reference.decode(pictures[2].packet)), 0);
  ASSERT_EQ(library.creations.size(), 2u);
  ASSERT_EQ(library.decodes.size(), 1u);
  EXPECT_EQ(library.decodes[0].data, lastBuffer.data() + last);
  EXPECT_EQ(library.decodes[0].length, frame.size() - last);
  EXPECT_FALSE(decoder.firstFrame());

  // Later frames are decoded from their first picture start code.
  library.decodes.clear();
  ASSERT_TRUE(decode(frames[3]));
  ASSERT_EQ(library.decodes.size(), 1u);
  const uint8_t* input = library.decodes[0].data;
  EXPECT_EQ(input[0], 0);
  EXPECT_EQ(input[1], 0);
  EXPECT_EQ(input[2], 1);
  EXPECT_EQ(input[3], 0xB6);
}

TEST_F(VideoDecoderTest, KeyFrameAfterEndChannelDecodesTheSameAsFfmpeg) {
  const auto pictures = encodeMpeg4(352, 240, 6, 3);
  auto frames = dvrFrames(pictures);
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(decode(frames[i]));
  decoder.endChannel();
  CReferenceDecoder reference(214);
  for (size_t i = 3; i < frames.size(); ++i) {
    ASSERT_TRUE(decode(frames[i]));
    EXPECT_EQ(maxComponentDifference(windowArea(), reference.decode(pictures[i].packet)), 0);
  }
  EXPECT_EQ(library.creations.size(), 2u);
}

TEST_F(VideoDecoderTest, FirstFrameWithoutVideoObjectStartIsPassedWhole) {
  const auto pictures = encodeMpeg4(352, 240, 2, 10);
  const auto frame = dvrFrame(pictures[1].packet);  // a picture without configuration
  decode(frame);
  ASSERT_EQ(library.creations.size(), 1u);
  ASSERT_EQ(library.decodes.size(), 1u);
  EXPECT_EQ(library.decodes[0].data, lastBuffer.data());
  EXPECT_EQ(library.decodes[0].length, frame.size());
  EXPECT_EQ(display.beginCount(), display.endCount());
}

TEST_F(VideoDecoderTest, FrameWithoutPictureStartIsDropped) {
  const auto pictures = encodeMpeg4(352, 240, 2, 10);
  ASSERT_TRUE(decode(dvrFrame(pictures[0].packet)));
  const auto before = display.snapshot();
  std::vector<uint8_t> frame(200, 0x55);
  frame[0] = 0x01;
  EXPECT_FALSE(decode(frame));
  EXPECT_EQ(library.decodes.size(), 1u);
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.snapshot(), before);
}

TEST_F(VideoDecoderTest, HeaderBytesWithoutVideoObjectStartDoNotRecreate) {
  const auto pictures = encodeMpeg4(352, 240, 3, 10);
  ASSERT_TRUE(decode(dvrFrame(pictures[0].packet)));
  auto frame = dvrFrame(pictures[1].packet);
  // Bytes 16..34 differ from the stored header but hold no 00 00 01 01.
  ASSERT_NE(std::memcmp(frame.data() + 16, decoder.sequenceHeader().data(), 19), 0);
  ASSERT_TRUE(decode(frame));
  EXPECT_EQ(library.creations.size(), 1u);
}

TEST_F(VideoDecoderTest, ChangedSequenceHeaderRecreatesInTheWindowViewEvenWhenFullScreen) {
  const auto small = encodeMpeg4(352, 240, 3, 10, 1);
  const auto large = encodeMpeg4(704, 480, 3, 10, 2);
  for (const auto& frame : dvrFrames(small)) ASSERT_TRUE(decode(frame));
  const DecChannelPlacement& full = kDecFullScreenView;
  ASSERT_EQ(DecChannelCreation(1, full.width, full.left, full.top, full.modeFlags, full.last), 0);
  display.fill(kSentinel);
  CReferenceDecoder reference(214);
  for (const auto& picture : large) {
    ASSERT_TRUE(decode(dvrFrame(picture.packet)));
    EXPECT_EQ(maxComponentDifference(windowArea(), reference.decode(picture.packet)), 0);
  }
  ASSERT_EQ(library.creations.size(), 2u);
  EXPECT_EQ(library.creations[1].width, 214);
  EXPECT_EQ(library.creations[1].modeFlags, 0xC0000007u);
  EXPECT_EQ(writtenOutsideWindowArea(display.snapshot()), 0);
}

// Each gate alone stops the frame before any decoder call or display access.
TEST_F(VideoDecoderTest, ClosedGatesConsumeFramesWithoutTouchingDecoderOrDisplay) {
  const auto frame = dvrFrame(encodeMpeg4(352, 240, 1, 1)[0].packet);
  for (int gate = 0; gate < 3; ++gate) {
    gates.disconnect = gate == 0;
    gates.live = gate != 1;
    gates.displayOk = gate != 2;
    EXPECT_TRUE(decode(frame));
  }
  EXPECT_EQ(library.calls(), 0u);
  EXPECT_EQ(display.beginCount(), 0u);
  EXPECT_FALSE(decoder.isCreated());
  gates.disconnect = false;
  gates.live = true;
  gates.displayOk = true;
  EXPECT_TRUE(decode(frame));
  EXPECT_EQ(display.beginCount(), 1u);
}

// Reports a disconnect only from its second question on: the request arrives mid-frame.
class CDisconnectMidFrame final : public IDrawGates {
 public:
  bool disconnectRequested() const override { return ++asked_ > 1; }
  bool liveReady() const override { return true; }
  bool displayReady() const override { return true; }

 private:
  mutable int asked_ = 0;
};

TEST_F(VideoDecoderTest, DisconnectAfterBeginEndsTheDrawWithoutDecoding) {
  CDisconnectMidFrame midFrame;
  decoder.bind(0, &midFrame);
  EXPECT_TRUE(decode(dvrFrame(encodeMpeg4(352, 240, 1, 1)[0].packet)));
  EXPECT_TRUE(library.decodes.empty());
  EXPECT_EQ(display.beginCount(), 1u);
  EXPECT_EQ(display.endCount(), 1u);
  EXPECT_EQ(display.snapshot(), std::vector<uint16_t>(display::kPixels, kSentinel));
}

TEST_F(VideoDecoderTest, NoDisplayMemoryDrawsNothingAndEndsNothing) {
  display.GXSuspend();
  EXPECT_FALSE(decode(dvrFrame(encodeMpeg4(352, 240, 1, 1)[0].packet)));
  EXPECT_TRUE(library.decodes.empty());
  EXPECT_EQ(display.endCount(), 0u);
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

TEST_F(VideoDecoderTest, DamagedAndTruncatedFramesDrawNothing) {
  const auto pictures = encodeMpeg4(352, 240, 6, 10);
  auto frames = dvrFrames(pictures);
  ASSERT_TRUE(decode(frames[0]));
  ASSERT_TRUE(decode(frames[1]));
  const auto shown = display.snapshot();
  // Cut in half, then garbage after the picture start code.
  std::vector<uint8_t> truncated(frames[2].begin(), frames[2].begin() + frames[2].size() / 2);
  decode(truncated);
  std::vector<uint8_t> garbage = frames[3];
  for (size_t i = 40; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37);
  decode(garbage);
  EXPECT_EQ(display.snapshot(), shown);
  EXPECT_EQ(display.beginCount(), display.endCount());
}

TEST_F(VideoDecoderTest, EmptyOrMissingFramesAreRefused) {
  EXPECT_FALSE(decoder.decodeFrame(nullptr, 100));
  std::vector<uint8_t> one(1 + kFrameReadSlack, 0);
  EXPECT_FALSE(decoder.decodeFrame(one.data(), 0));
  EXPECT_EQ(display.beginCount(), 0u);
}

// The live-stream thread decodes while the UI thread ends the channel, switches views and
// suspends the display: every begun draw is ended and nothing breaks.
TEST_F(VideoDecoderTest, UiThreadChangesNeverMeetAFrameHalfway) {
  const auto frames = dvrFrames(encodeMpeg4(352, 240, 20, 5));
  std::atomic<bool> stop{false};
  std::thread live([&] {
    std::vector<std::vector<uint8_t>> buffers;
    for (const auto& frame : frames) {
      buffers.push_back(frame);
      buffers.back().resize(frame.size() + kFrameReadSlack, 0);
    }
    for (size_t i = 0; !stop; i = (i + 1) % frames.size()) {
      decoder.decodeFrame(buffers[i].data(), static_cast<uint32_t>(frames[i].size()));
    }
  });
  for (int round = 0; round < 60; ++round) {
    display.GXSuspend();
    gates.displayOk = false;
    const DecChannelPlacement& view = round % 2 == 0 ? kDecFullScreenView : kDecWindowView;
    DecChannelCreation(1, view.width, view.left, view.top, view.modeFlags, view.last);
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

TEST(VideoDecoderBind, RefusesMissingGates) {
  CMemoryDisplayBackend backend;
  Display display(backend);
  CVideoDecoder decoder(display);
  EXPECT_FALSE(decoder.bind(0, nullptr));
  CTestGates gates;
  EXPECT_TRUE(decoder.bind(3, &gates));
  EXPECT_EQ(decoder.channelIndex(), 3);
}

TEST(VideoDecoderCreate, MissingHeaderEndsTheChannel) {
  CMemoryDisplayBackend backend;
  Display display(backend);
  CRecordingCodecLibrary library;
  CVideoDecoder decoder(display, library);
  const uint8_t header[19] = {0, 0, 1, 1};
  EXPECT_TRUE(decoder.createChannel(header, 19));
  EXPECT_TRUE(decoder.isOpen());
  EXPECT_FALSE(decoder.createChannel(header, 0));
  EXPECT_FALSE(decoder.isOpen());
  EXPECT_FALSE(decoder.isCreated());
  EXPECT_EQ(library.ends.size(), 1u);
}

}  // namespace
