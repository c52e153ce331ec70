#include "monitor/tile_decode_pool.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "monitor/tile_frames.h"
#include "monitor/tile_geometry.h"
#include "monitor/tile_scaler.h"

namespace {

using namespace std::chrono_literals;
using tile_frames::difference;

constexpr auto kWait = 20s;

// Every pixel of a Format_RGB32 image must have its top byte set.
bool opaque(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(row[x]) != 255) return false;
  }
  return true;
}

// Decodes one channel's codec frames with a decoder of its own and scales each picture into a
// tile the way the tile decoder is expected to.
class ReferenceMpeg4 {
 public:
  ReferenceMpeg4() {
    context_ = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_MPEG4));
    context_->thread_count = 1;
    EXPECT_EQ(avcodec_open2(context_, avcodec_find_decoder(AV_CODEC_ID_MPEG4), nullptr), 0);
  }
  ~ReferenceMpeg4() {
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&context_);
  }
  QImage decode(const std::vector<uint8_t>& dvrFrame, QSize tile) {
    std::vector<uint8_t> data(dvrFrame.begin() + 16, dvrFrame.end());
    data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    packet_->data = data.data();
    packet_->size = int(dvrFrame.size() - 16);
    QImage out;
    if (avcodec_send_packet(context_, packet_) < 0) return out;
    while (avcodec_receive_frame(context_, frame_) == 0) {
      const QRect target = letterboxRect({frame_->width, frame_->height}, tile);
      out = QImage(tile, QImage::Format_RGB32);
      out.fill(Qt::black);
      SwsContext* sws = sws_getContext(frame_->width, frame_->height, AVPixelFormat(frame_->format),
                                       target.width(), target.height(), AV_PIX_FMT_RGB32,
                                       tileScaleFlags(), nullptr, nullptr, nullptr);
      uint8_t* planes[4] = {out.scanLine(target.top()) + target.left() * 4, nullptr, nullptr,
                            nullptr};
      int strides[4] = {int(out.bytesPerLine()), 0, 0, 0};
      sws_scale(sws, frame_->data, frame_->linesize, 0, frame_->height, planes, strides);
      sws_freeContext(sws);
      av_frame_unref(frame_);
    }
    return out;
  }

 private:
  AVCodecContext* context_ = nullptr;
  AVFrame* frame_ = av_frame_alloc();
  AVPacket* packet_ = av_packet_alloc();
};

TEST(TileDecodePool, JpegTilesShowTheirOwnChannelAtTheSmallestCoveringScale) {
  struct Case {
    uint8_t channel;
    QSize tile;
    int denominator;  // the smallest JPEG scale that still covers the picture's rectangle
  };
  const std::array<Case, 4> cases = {{{0, {320, 180}, 2},  // 16-tile grid at 1280 x 720
                                      {3, {352, 240}, 2},  // a quarter of the source: no scaling
                                      {7, {160, 120}, 4},
                                      {12, {640, 360}, 1}}};
  CTileDecodePool pool(2);
  std::map<uint8_t, std::vector<uint8_t>> jpegs;
  for (const Case& c : cases) {
    jpegs[c.channel] = tile_frames::jpeg(tile_frames::scene(c.channel, 704, 480));
    pool.setTileSize(c.channel, c.tile);
  }
  std::atomic<int> ready{0};
  pool.setPictureReady([&](uint8_t) { ++ready; });
  for (const Case& c : cases) {
    const auto bytes = tile_frames::frame(jpegs[c.channel], c.channel, LiveCodec::Jpeg);
    pool.submit(tile_frames::live(bytes, c.channel, LiveCodec::Jpeg, 41));
  }
  ASSERT_TRUE(pool.waitIdle(kWait));
  EXPECT_EQ(ready.load(), 4);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.channel);
    std::optional<TilePicture> picture = pool.takePicture(c.channel);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->channel, c.channel);
    EXPECT_EQ(picture->sequence, 41u);
    EXPECT_EQ(picture->sourceSize, QSize(704, 480));
    ASSERT_EQ(picture->image.format(), QImage::Format_RGB32);
    ASSERT_EQ(picture->image.size(), c.tile);
    EXPECT_TRUE(opaque(picture->image));
    const QRect target = letterboxRect({704, 480}, c.tile);
    for (const Case& other : cases) {
      const QImage reference = tile_frames::referenceTile(
          tile_frames::referenceDecode(jpegs[other.channel], c.denominator), c.tile, target);
      const tile_frames::Difference d = difference(picture->image, reference);
      if (other.channel == c.channel) {
        EXPECT_LT(d.mean, 0.75);
        EXPECT_LE(d.max, 24);
      } else {
        EXPECT_GT(d.mean, 8.0) << "like channel " << int(other.channel);
      }
    }
    EXPECT_FALSE(pool.takePicture(c.channel)) << "a picture is taken once";
  }
  const TileDecodeStats stats = pool.stats();
  EXPECT_EQ(stats.submitted, 4u);
  EXPECT_EQ(stats.decoded, 4u);
  EXPECT_EQ(stats.jpegAtScale[0], 1u);  // 1/1
  EXPECT_EQ(stats.jpegAtScale[1], 2u);  // 1/2
  EXPECT_EQ(stats.jpegAtScale[2], 1u);  // 1/4
  EXPECT_EQ(stats.jpegAtScale[3], 0u);
  EXPECT_GT(stats.decodeNs, 0u);
}

TEST(TileDecodePool, PictureIsLetterboxedInBlack) {
  const auto white = tile_frames::jpeg(tile_frames::solid(704, 480, 255, 255, 255));
  const auto bytes = tile_frames::frame(white, 1, LiveCodec::Jpeg);
  CTileDecodePool pool(1);
  uint64_t sequence = 0;
  for (const QSize tile : {QSize(300, 300), QSize(100, 300), QSize(1920, 1080)}) {
    SCOPED_TRACE(tile.width());
    pool.setTileSize(1, tile);
    pool.submit(tile_frames::live(bytes, 1, LiveCodec::Jpeg, ++sequence));
    ASSERT_TRUE(pool.waitIdle(kWait));
    std::optional<TilePicture> picture = pool.takePicture(1);
    ASSERT_TRUE(picture);
    const QRect target = letterboxRect({704, 480}, tile);
    if (target.width() > 704) {
      // To be enlarged: the picture as decoded, scaled up by the tile as it paints.
      ASSERT_EQ(picture->image.size(), QSize(704, 480));
      int dark = 0;
      for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 704; ++x) dark += qGray(picture->image.pixel(x, y)) < 250;
      EXPECT_EQ(dark, 0);
      continue;
    }
    ASSERT_EQ(picture->image.size(), tile);
    EXPECT_TRUE(opaque(picture->image));
    int wrong = 0;
    for (int y = 0; y < tile.height(); ++y) {
      for (int x = 0; x < tile.width(); ++x) {
        const QRgb p = picture->image.pixel(x, y);
        if (target.contains(x, y) ? qGray(p) < 250 : (p & 0xFFFFFF) != 0) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << "picture at " << target.x() << "," << target.y();
  }
}

TEST(TileDecodePool, DamagedFramesAreCountedAndKeepThePreviousPicture) {
  const auto good = tile_frames::jpeg(tile_frames::scene(2, 352, 240));
  const auto goodFrame = tile_frames::frame(good, 2, LiveCodec::Jpeg);
  CTileDecodePool pool(2);
  pool.setTileSize(2, {176, 120});
  pool.setTileSize(4, {176, 120});
  pool.submit(tile_frames::live(goodFrame, 2, LiveCodec::Jpeg, 1));
  ASSERT_TRUE(pool.waitIdle(kWait));
  ASSERT_TRUE(pool.takePicture(2));

  // No image at all, the headers without a scan, a frame header claiming a gigantic picture,
  // a frame shorter than its header, and codec frames of noise.
  std::vector<std::vector<uint8_t>> damaged;
  damaged.push_back(tile_frames::frame(std::vector<uint8_t>(500, 0x37), 2, LiveCodec::Jpeg));
  damaged.push_back(tile_frames::frame(std::vector<uint8_t>(good.begin(), good.begin() + 300), 2,
                                       LiveCodec::Jpeg));
  std::vector<uint8_t> huge = good;
  for (size_t i = 0; i + 8 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF;  // 65535 x 65535
      break;
    }
  }
  damaged.push_back(tile_frames::frame(huge, 2, LiveCodec::Jpeg));
  damaged.push_back({0x01, 0x02, 0x01});
  uint64_t sequence = 2;
  for (const auto& frame : damaged)
    pool.submit(tile_frames::live(frame, 2, LiveCodec::Jpeg, sequence++));
  ASSERT_TRUE(pool.waitIdle(kWait));
  EXPECT_EQ(pool.stats().failed + pool.stats().skipped, damaged.size());
  EXPECT_FALSE(pool.takePicture(2)) << "a damaged frame must not replace the picture";

  // Random damage anywhere in real frames of both codecs: whatever comes out, nothing reads or
  // writes outside its buffers (the sanitizers watch) and the pool keeps working.
  std::mt19937 random(7);
  const auto codec = tile_frames::mpeg4Frames(4, 176, 144, 6, 3);
  for (int round = 0; round < 120; ++round) {
    const bool jpeg = round % 2 == 0;
    std::vector<uint8_t> frame = jpeg ? goodFrame : codec[size_t(round / 2) % codec.size()];
    for (int hits = 0; hits < 1 + round % 8; ++hits)
      frame[16 + random() % (frame.size() - 16)] = uint8_t(random());
    if (round % 5 == 0) frame.resize(16 + random() % (frame.size() - 16));
    const uint8_t channel = jpeg ? 2 : 4;
    pool.submit(
        tile_frames::live(frame, channel, jpeg ? LiveCodec::Jpeg : LiveCodec::Mpeg4, sequence++));
    if (round % 10 == 0) {
      ASSERT_TRUE(pool.waitIdle(kWait));
    }
  }
  ASSERT_TRUE(pool.waitIdle(kWait));
  pool.submit(tile_frames::live(goodFrame, 2, LiveCodec::Jpeg, sequence++));
  ASSERT_TRUE(pool.waitIdle(kWait));
  std::optional<TilePicture> picture = pool.takePicture(2);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->sequence, sequence - 1);
}

// Pictures of one colour per channel and frame, so a tile's pixels tell where they came from.
QRgb floodColour(int channel, int frame) {
  return qRgb(40 + channel * 50, 60 + frame * 40, channel % 2 ? 200 : 30);
}

TEST(TileDecodePool, FloodFromSeveralThreadsNeverShowsAnOlderOrForeignPicture) {
  constexpr int kChannels = 4, kFrames = 4, kPerChannel = 400;
  std::vector<std::vector<uint8_t>> frames[kChannels];
  for (int c = 0; c < kChannels; ++c) {
    for (int f = 0; f < kFrames; ++f) {
      const QRgb colour = floodColour(c, f);
      frames[c].push_back(tile_frames::frame(
          tile_frames::jpeg(tile_frames::solid(176, 120, uint8_t(qRed(colour)),
                                               uint8_t(qGreen(colour)), uint8_t(qBlue(colour)))),
          uint8_t(c), LiveCodec::Jpeg));
    }
  }
  CTileDecodePool pool(2);
  for (int c = 0; c < kChannels; ++c) pool.setTileSize(uint8_t(c), {88, 60});

  std::atomic<int> running{kChannels};
  std::vector<std::thread> senders;
  for (int c = 0; c < kChannels; ++c) {
    senders.emplace_back([&, c] {
      for (int s = 1; s <= kPerChannel; ++s) {
        pool.submit(tile_frames::live(frames[c][size_t(s % kFrames)], uint8_t(c), LiveCodec::Jpeg,
                                      uint64_t(s)));
        if (s % 50 == 0) std::this_thread::sleep_for(1ms);
      }
      --running;
    });
  }
  uint64_t last[kChannels] = {};
  int shown = 0, wrong = 0;
  auto check = [&] {
    for (int c = 0; c < kChannels; ++c) {
      std::optional<TilePicture> picture = pool.takePicture(uint8_t(c));
      if (!picture) continue;
      ++shown;
      EXPECT_EQ(picture->channel, c);
      EXPECT_GT(picture->sequence, last[c]) << "channel " << c;
      last[c] = picture->sequence;
      const QRgb expected = floodColour(c, int(picture->sequence % kFrames));
      const QRgb centre = picture->image.pixel(44, 30);
      if (std::abs(qRed(centre) - qRed(expected)) > 6 ||
          std::abs(qGreen(centre) - qGreen(expected)) > 6 ||
          std::abs(qBlue(centre) - qBlue(expected)) > 6)
        ++wrong;
    }
  };
  while (running.load() > 0) check();
  for (std::thread& sender : senders) sender.join();
  ASSERT_TRUE(pool.waitIdle(kWait));
  check();
  EXPECT_EQ(wrong, 0);
  EXPECT_GE(shown, kChannels);
  // The newest frame of every channel is always shown in the end.
  for (int c = 0; c < kChannels; ++c) EXPECT_EQ(last[c], uint64_t(kPerChannel)) << c;
  const TileDecodeStats stats = pool.stats();
  EXPECT_EQ(stats.submitted, uint64_t(kChannels * kPerChannel));
  EXPECT_EQ(stats.failed, 0u);
  EXPECT_EQ(stats.decoded + stats.skipped, stats.submitted);
}

// The owner stops fetching a channel that is behind: every channel must be reported caught up
// again once its frames are done, or dropped, or its tile went away, or its tile never was.
TEST(TileDecodePool, TellsWhenAChannelFallsBehindAndAlwaysWhenItCaughtUp) {
  std::mutex mutex;
  std::map<int, bool> behind;
  int reports = 0;
  CTileDecodePool pool(1);
  pool.setBacklog([&](uint8_t channel, bool late) {
    std::lock_guard lock(mutex);
    behind[channel] = late;
    ++reports;
  });
  const auto jpeg =
      tile_frames::frame(tile_frames::jpeg(tile_frames::scene(1, 352, 240)), 1, LiveCodec::Jpeg);
  for (uint8_t c : {1, 2, 3}) pool.setTileSize(c, {176, 120});
  {
    std::lock_guard lock(mutex);
    reports = 0;
  }
  pool.submit(tile_frames::live(jpeg, 1, LiveCodec::Jpeg, 1));
  {
    std::lock_guard lock(mutex);
    EXPECT_GE(reports, 1);  // a frame waits or is being decoded: behind at once
  }
  // A flood on three channels from two threads, a channel without a tile, and a tile that goes
  // away while its frames wait.
  std::thread other([&] {
    for (uint64_t s = 1; s <= 200; ++s) {
      pool.submit(tile_frames::live(jpeg, 2, LiveCodec::Jpeg, s));
      pool.submit(tile_frames::live(jpeg, 9, LiveCodec::Jpeg, s));
    }
  });
  for (uint64_t s = 2; s <= 200; ++s) {
    pool.submit(tile_frames::live(jpeg, 1, LiveCodec::Jpeg, s));
    pool.submit(tile_frames::live(jpeg, 3, LiveCodec::Jpeg, s));
    if (s == 150) pool.setTileSize(3, {});
  }
  other.join();
  ASSERT_TRUE(pool.waitIdle(kWait));
  EXPECT_GT(pool.stats().skipped, 0u) << "the flood should outrun the worker";
  // The pool reports with its lock held: never call it under the lock its reports take.
  std::lock_guard lock(mutex);
  for (int c : {1, 2, 3, 9}) {
    ASSERT_TRUE(behind.count(c)) << c;
    EXPECT_FALSE(behind[c]) << "channel " << c << " left behind";
  }
}

TEST(TileDecodePool, Mpeg4AndJpegChannelsDecodeSideBySideEachWithItsOwnDecoder) {
  // Two MPEG-4 channels interleaved frame by frame: a decoder shared between them, or frames
  // decoded out of order, would show the wrong picture from the first predicted frame on.
  const QSize tile(320, 180);
  const auto first = tile_frames::mpeg4Frames(0, 352, 240, 12, 6);
  const auto second = tile_frames::mpeg4Frames(5, 352, 240, 12, 6);
  const auto jpeg = tile_frames::jpeg(tile_frames::scene(9, 704, 480));
  const auto jpegFrame = tile_frames::frame(jpeg, 9, LiveCodec::Jpeg);
  const QImage jpegReference = tile_frames::referenceTile(tile_frames::referenceDecode(jpeg, 2),
                                                          tile, letterboxRect({704, 480}, tile));
  ReferenceMpeg4 referenceFirst, referenceSecond;
  CTileDecodePool pool(2);
  for (uint8_t c : {0, 5, 9}) pool.setTileSize(c, tile);
  for (size_t i = 0; i < first.size(); ++i) {
    SCOPED_TRACE(i);
    pool.submit(tile_frames::live(first[i], 0, LiveCodec::Mpeg4, i + 1));
    pool.submit(tile_frames::live(second[i], 5, LiveCodec::Mpeg4, i + 1));
    pool.submit(tile_frames::live(jpegFrame, 9, LiveCodec::Jpeg, i + 1));
    ASSERT_TRUE(pool.waitIdle(kWait));
    const QImage expected[2] = {referenceFirst.decode(first[i], tile),
                                referenceSecond.decode(second[i], tile)};
    const uint8_t channels[2] = {0, 5};
    for (int k = 0; k < 2; ++k) {
      std::optional<TilePicture> picture = pool.takePicture(channels[k]);
      ASSERT_TRUE(picture);
      EXPECT_EQ(picture->sequence, i + 1);
      EXPECT_EQ(picture->sourceSize, QSize(352, 240));
      ASSERT_EQ(picture->image.size(), tile);
      EXPECT_TRUE(opaque(picture->image));
      EXPECT_LE(difference(picture->image, expected[k]).max, 2) << "channel " << int(channels[k]);
      EXPECT_GT(difference(picture->image, expected[1 - k]).mean, 8.0);
    }
    std::optional<TilePicture> picture = pool.takePicture(9);
    ASSERT_TRUE(picture);
    EXPECT_LT(difference(picture->image, jpegReference).mean, 0.75);
  }
  EXPECT_EQ(pool.stats().failed, 0u);
}

TEST(TileDecodePool, Mpeg4FloodDecodesEveryFrameSoTheLastPictureIsRight) {
  // Frames handed in faster than they are decoded: pictures in between may go unshown, but none
  // of the frames after the last key frame may be lost, or the last picture comes out wrong.
  const QSize tile(176, 120);
  const auto frames = tile_frames::mpeg4Frames(3, 352, 240, 30, 5);
  ReferenceMpeg4 reference;
  QImage expected;
  for (const auto& frame : frames) expected = reference.decode(frame, tile);
  CTileDecodePool pool(1);
  pool.setTileSize(3, tile);
  for (size_t i = 0; i < frames.size(); ++i)
    pool.submit(tile_frames::live(frames[i], 3, LiveCodec::Mpeg4, i + 1));
  ASSERT_TRUE(pool.waitIdle(kWait));
  std::optional<TilePicture> picture = pool.takePicture(3);
  const TileDecodeStats stats = pool.stats();
  ASSERT_TRUE(picture) << stats.submitted << " " << stats.decoded << " " << stats.skipped << " "
                       << stats.failed;
  EXPECT_EQ(picture->sequence, frames.size());
  EXPECT_LE(difference(picture->image, expected).max, 2);
  EXPECT_EQ(stats.failed, 0u);
  EXPECT_EQ(stats.decoded + stats.skipped, stats.submitted);
}

TEST(TileDecodePool, ATileThatGoesAwayOrANewSessionStartsAfresh) {
  const QSize tile(176, 120);
  const auto frames = tile_frames::mpeg4Frames(6, 352, 240, 4, 10);  // one key frame, then P
  CTileDecodePool pool(1);
  pool.setTileSize(6, tile);
  pool.submit(tile_frames::live(frames[0], 6, LiveCodec::Mpeg4, 1));
  pool.submit(tile_frames::live(frames[1], 6, LiveCodec::Mpeg4, 2));
  ASSERT_TRUE(pool.waitIdle(kWait));
  ASSERT_TRUE(pool.takePicture(6));
  pool.submit(tile_frames::live(frames[2], 6, LiveCodec::Mpeg4, 3));
  ASSERT_TRUE(pool.waitIdle(kWait));

  // No tile: its picture and frames are dropped, and its decoder state with them, so a predicted
  // frame after the tile came back is not decoded against a stale picture.
  pool.setTileSize(6, {});
  EXPECT_FALSE(pool.takePicture(6));
  const uint64_t submitted = pool.stats().submitted;
  pool.submit(tile_frames::live(frames[3], 6, LiveCodec::Mpeg4, 4));
  EXPECT_EQ(pool.stats().submitted, submitted) << "frames of a channel without a tile";
  pool.setTileSize(6, tile);
  pool.submit(tile_frames::live(frames[3], 6, LiveCodec::Mpeg4, 5));
  ASSERT_TRUE(pool.waitIdle(kWait));
  EXPECT_FALSE(pool.takePicture(6));
  pool.submit(tile_frames::live(frames[0], 6, LiveCodec::Mpeg4, 6));
  ASSERT_TRUE(pool.waitIdle(kWait));
  ASSERT_TRUE(pool.takePicture(6));

  // A new session numbers its frames from the start again; its pictures are shown.
  const auto jpeg =
      tile_frames::frame(tile_frames::jpeg(tile_frames::scene(6, 352, 240)), 6, LiveCodec::Jpeg);
  pool.submit(tile_frames::live(jpeg, 6, LiveCodec::Jpeg, 100));
  pool.reset();
  EXPECT_FALSE(pool.takePicture(6));
  pool.submit(tile_frames::live(jpeg, 6, LiveCodec::Jpeg, 1));
  ASSERT_TRUE(pool.waitIdle(kWait));
  std::optional<TilePicture> picture = pool.takePicture(6);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->sequence, 1u);
}

}  // namespace
