#include "monitor/tile_frame_queue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A codec frame whose first picture is intra coded (key) or predicted.
std::vector<uint8_t> codecFrame(bool key, uint8_t fill = 0x55) {
  std::vector<uint8_t> bytes(16, 0);
  bytes[0] = 0x01;
  const std::vector<uint8_t> picture = {0, 0, 1, 0xB6, uint8_t(key ? 0x00 : 0x40), fill, fill};
  bytes.insert(bytes.end(), picture.begin(), picture.end());
  return bytes;
}

LiveFrame live(const std::vector<uint8_t>& bytes, LiveCodec codec, uint64_t sequence) {
  LiveFrame frame;
  frame.codec = codec;
  frame.data = bytes.data();
  frame.length = uint32_t(bytes.size());
  frame.sequence = sequence;
  return frame;
}

std::vector<uint64_t> drain(CTileFrameQueue& queue) {
  std::vector<uint64_t> sequences;
  while (!queue.empty()) sequences.push_back(queue.take().sequence);
  return sequences;
}

TEST(TileFrameQueue, NewerJpegReplacesTheWaitingOneAndIsCopiedWithZeroPadding) {
  CTileFrameQueue queue;
  std::vector<uint8_t> bytes = {0x01, 0, 0xFF, 0xD8, 1, 2, 3};
  EXPECT_EQ(queue.admit(live(bytes, LiveCodec::Jpeg, 1)), 0u);
  EXPECT_EQ(queue.admit(live(bytes, LiveCodec::Jpeg, 2)), 1u);
  bytes[4] = 9;  // the caller's buffer is reused at once
  QueuedFrame frame = queue.take();
  EXPECT_EQ(frame.sequence, 2u);
  ASSERT_EQ(frame.length, 7u);
  ASSERT_GE(frame.bytes.size(), frame.length + CTileFrameQueue::kPadding);
  EXPECT_EQ(frame.bytes[4], 1);
  for (size_t i = frame.length; i < frame.bytes.size(); ++i) ASSERT_EQ(frame.bytes[i], 0) << i;
  EXPECT_TRUE(queue.empty());
}

TEST(TileFrameQueue, Mpeg4FramesWaitFromAKeyFrameAndOverflowDropsToTheNextOne) {
  CTileFrameQueue queue;
  const auto key = codecFrame(true), predicted = codecFrame(false);
  // A stream joined in the middle waits for its key frame.
  EXPECT_EQ(queue.admit(live(predicted, LiveCodec::Mpeg4, 0)), 1u);
  EXPECT_TRUE(queue.empty());
  queue.admit(live(key, LiveCodec::Mpeg4, 1));
  uint64_t s = 2;
  while (queue.size() < CTileFrameQueue::kMaxCodecFrames)
    queue.admit(live(predicted, LiveCodec::Mpeg4, s++));
  // One more predicted frame: everything waiting and the frame itself go.
  EXPECT_EQ(queue.admit(live(predicted, LiveCodec::Mpeg4, s++)),
            CTileFrameQueue::kMaxCodecFrames + 1);
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(queue.admit(live(predicted, LiveCodec::Mpeg4, s++)), 1u);
  EXPECT_EQ(queue.admit(live(key, LiveCodec::Mpeg4, s)), 0u);
  EXPECT_EQ(drain(queue), std::vector<uint64_t>{s});

  // Overflowing behind a waiting key frame keeps that key frame and what follows it.
  queue.admit(live(key, LiveCodec::Mpeg4, 50));
  queue.admit(live(predicted, LiveCodec::Mpeg4, 51));
  queue.admit(live(key, LiveCodec::Mpeg4, 52));
  for (uint64_t p = 53; queue.size() < CTileFrameQueue::kMaxCodecFrames; ++p)
    queue.admit(live(predicted, LiveCodec::Mpeg4, p));
  EXPECT_EQ(queue.admit(live(predicted, LiveCodec::Mpeg4, 58)), 2u);
  EXPECT_EQ(drain(queue), (std::vector<uint64_t>{52, 53, 54, 55, 56, 57, 58}));

  // A key frame that overflows the backlog starts it afresh.
  queue.admit(live(key, LiveCodec::Mpeg4, 100));
  while (queue.size() < CTileFrameQueue::kMaxCodecFrames)
    queue.admit(live(predicted, LiveCodec::Mpeg4, 100 + queue.size()));
  EXPECT_EQ(queue.admit(live(key, LiveCodec::Mpeg4, 200)), CTileFrameQueue::kMaxCodecFrames);
  EXPECT_EQ(queue.admit(live(predicted, LiveCodec::Mpeg4, 201)), 0u);
  EXPECT_EQ(drain(queue), (std::vector<uint64_t>{200, 201}));
}

TEST(TileFrameQueue, BacklogIsBoundedInBytesToo) {
  CTileFrameQueue queue;
  std::vector<uint8_t> big = codecFrame(true);
  big.resize(CTileFrameQueue::kMaxCodecBytes / 2 + 1, 0x55);
  std::vector<uint8_t> bigPredicted = codecFrame(false);
  bigPredicted.resize(big.size(), 0x55);
  EXPECT_EQ(queue.admit(live(big, LiveCodec::Mpeg4, 1)), 0u);
  EXPECT_EQ(queue.admit(live(bigPredicted, LiveCodec::Mpeg4, 2)), 2u);
  EXPECT_TRUE(queue.empty());
}

TEST(TileFrameQueue, CodecSwitchDropsWhatWaitsAndMpeg4RestartsAtAKeyFrame) {
  CTileFrameQueue queue;
  const auto key = codecFrame(true), predicted = codecFrame(false);
  const std::vector<uint8_t> jpeg = {0x01, 0, 0xFF, 0xD8};
  queue.admit(live(key, LiveCodec::Mpeg4, 1));
  queue.admit(live(predicted, LiveCodec::Mpeg4, 2));
  EXPECT_EQ(queue.admit(live(jpeg, LiveCodec::Jpeg, 3)), 2u);
  // The JPEG picture is older than any MPEG-4 picture after it; the stream needs a key frame.
  EXPECT_EQ(queue.admit(live(predicted, LiveCodec::Mpeg4, 4)), 2u);
  EXPECT_EQ(queue.admit(live(key, LiveCodec::Mpeg4, 5)), 0u);
  EXPECT_EQ(drain(queue), std::vector<uint64_t>{5});
}

}  // namespace
