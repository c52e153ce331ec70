// MPEG-4 channels as JPEG pictures: frames as the DVR codes them come out as pictures of their
// size, a stream joined between key frames waits for the next one, channels keep their own
// decoder.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include <jpeglib.h>

#include "bridge/frame_hub.h"
#include "bridge/mpeg4_transcoder.h"
#include "mpeg4_encoder.h"

using namespace std::chrono_literals;

namespace {

// Frames of a moving gradient as the emulator codes them; a key frame every gop frames.
std::vector<std::pair<std::vector<uint8_t>, bool>> codedFrames(int width, int height, int count,
                                                               int gop) {
  dvremu::Mpeg4Encoder encoder;
  EXPECT_TRUE(encoder.open(width, height, 25, gop));
  std::vector<std::pair<std::vector<uint8_t>, bool>> frames;
  dvremu::RgbImage image;
  image.resize(width, height);
  for (int n = 0; n < count; ++n) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        uint8_t* p = image.at(x, y);
        p[0] = static_cast<uint8_t>(x + n * 4);
        p[1] = static_cast<uint8_t>(y);
        p[2] = 128;
      }
    std::vector<uint8_t> out;
    bool key = false;
    EXPECT_TRUE(encoder.encode(image, &out, &key));
    frames.emplace_back(std::move(out), key);
  }
  return frames;
}

// The size libjpeg reads from the picture's header; {0, 0} when it isn't a JPEG image.
std::pair<int, int> jpegSize(const std::vector<uint8_t>& jpeg) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  std::pair<int, int> size{0, 0};
  if (jpeg.size() > 4 && jpeg[0] == 0xFF && jpeg[1] == 0xD8) {
    jpeg_mem_src(&info, jpeg.data(), jpeg.size());
    if (jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK)
      size = {static_cast<int>(info.image_width), static_cast<int>(info.image_height)};
  }
  jpeg_destroy_decompress(&info);
  return size;
}

bool waitForPictures(CFrameHub& hub, uint8_t channel, uint64_t count) {
  for (int i = 0; i < 400; ++i) {
    if (hub.counters(channel).picturesIn >= count) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

}  // namespace

TEST(Mpeg4Transcoder, CodedFramesBecomeJpegPicturesFromAKeyFrameOn) {
  const auto frames = codedFrames(352, 240, 12, 6);  // key frames at 0 and 6
  ASSERT_TRUE(frames[0].second);
  ASSERT_FALSE(frames[1].second);
  ASSERT_TRUE(frames[6].second);
  EXPECT_TRUE(CMpeg4Transcoder::startsWithIntra(frames[0].first.data(), frames[0].first.size()));
  EXPECT_FALSE(CMpeg4Transcoder::startsWithIntra(frames[1].first.data(), frames[1].first.size()));

  CFrameHub hub;
  CMpeg4Transcoder transcoder(hub);
  const auto now = std::chrono::steady_clock::now();
  // Channel 4 joins mid-stream: the frames before the next key frame can't be decoded.
  for (int n = 2; n < 12; ++n)
    transcoder.queue(4, frames[n].first.data(), frames[n].first.size(), now);
  // Channel 0 gets the whole stream.
  for (const auto& [frame, key] : frames) transcoder.queue(0, frame.data(), frame.size(), now);
  ASSERT_TRUE(waitForPictures(hub, 0, 12));
  ASSERT_TRUE(waitForPictures(hub, 4, 6));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(hub.counters(0).picturesIn, 12u);
  EXPECT_EQ(hub.counters(4).picturesIn, 6u);
  EXPECT_EQ(transcoder.dropped(4), 4u);
  EXPECT_EQ(jpegSize(hub.newest(0)->jpeg), std::make_pair(352, 240));
  EXPECT_EQ(jpegSize(hub.newest(4)->jpeg), std::make_pair(352, 240));

  // Garbage is not a picture, and a channel number past 15 is ignored.
  const std::vector<uint8_t> junk(500, 0x55);
  transcoder.queue(7, junk.data(), junk.size(), now);
  transcoder.queue(16, frames[0].first.data(), frames[0].first.size(), now);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(hub.counters(7).picturesIn, 0u);
}
