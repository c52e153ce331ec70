// Reading sizes and key frames from the bytes of live frames, without decoding them.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "recording/frame_inspect.h"
#include "tap_fixtures.h"

using recording::PictureSize;

namespace {

TEST(FrameInspect, JpegSizeIsTheImagesOwn) {
  for (const PictureSize size : {PictureSize{100, 75}, PictureSize{704, 480}, PictureSize{1, 1}}) {
    const std::vector<uint8_t> jpeg = testing_video::encodeJpeg(
        testing_video::testScene(size.width, size.height), size.width, size.height);
    EXPECT_EQ(recording::jpegPictureSize(jpeg.data(), jpeg.size()), size);
    // Cut anywhere before the frame header's size fields: no size, and no read past the cut
    // (ASan watches the exact-size copy).
    const uint8_t marker[] = {0xFF, 0xC0};
    const auto sof = std::search(jpeg.begin(), jpeg.end(), std::begin(marker), std::end(marker));
    ASSERT_NE(sof, jpeg.end());
    for (size_t cut = 0; cut < static_cast<size_t>(sof - jpeg.begin()) + 9; ++cut) {
      const std::vector<uint8_t> head(jpeg.begin(), jpeg.begin() + static_cast<long>(cut));
      EXPECT_FALSE(recording::jpegPictureSize(head.data(), head.size())) << cut;
    }
  }
  const std::vector<uint8_t> filler = {0, 0, 0x01, 0xFF, 0xD8, 0xFF};
  EXPECT_EQ(recording::findJpegStart(filler.data(), filler.size()), 3u);
  EXPECT_FALSE(recording::findJpegStart(filler.data(), 4));
}

// Key frames, VOL headers and sizes over real encoder output, including sizes that are not
// multiples of 16 and a VOL with a fixed frame rate.
TEST(FrameInspect, Mpeg4KeyFramesAndVolSizes) {
  for (const PictureSize size :
       {PictureSize{352, 288}, PictureSize{176, 144}, PictureSize{322, 242}}) {
    SCOPED_TRACE(std::to_string(size.width));
    const auto pictures = testing_video::encodeMpeg4(size.width, size.height, 7, 3);
    for (size_t i = 0; i < pictures.size(); ++i) {
      const std::vector<uint8_t> frame = testing_video::dvrFrame(pictures[i].packet);
      const auto info = recording::inspectMpeg4(frame.data() + 16, frame.size() - 16);
      EXPECT_TRUE(info.hasPicture);
      EXPECT_EQ(info.keyFrame, i % 3 == 0) << i;
      if (i == 0) {
        ASSERT_GT(info.volLength, 0u);
        EXPECT_EQ(info.size, size);
        EXPECT_EQ(frame[16 + info.volOffset + 3] & 0xF0, 0x20);
      }
    }
  }
  // A VOL that ends inside its size fields gives no size.
  const auto key = testing_video::dvrFrame(testing_video::encodeMpeg4(176, 144, 1, 1)[0].packet);
  const auto info = recording::inspectMpeg4(key.data() + 16, key.size() - 16);
  for (size_t cut = 4; cut < 12; ++cut) {
    const std::vector<uint8_t> vol(key.begin() + 16 + static_cast<long>(info.volOffset),
                                   key.begin() + 16 + static_cast<long>(info.volOffset + cut));
    EXPECT_FALSE(recording::mpeg4VolPictureSize(vol.data(), vol.size())) << cut;
  }
}

}  // namespace
