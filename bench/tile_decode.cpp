// The monitor's tile decoding without a window: live frames of the emulator's scenes handed to
// CTileDecodePool for a grid of tiles, as fast as the pool turns them into tile pictures.
//
// Each channel has one frame in the pool at a time (the next one is handed in when its picture
// is ready), so no frame is skipped and every figure is a decoded and scaled picture. For each
// case and each worker count it prints pictures per second in all, the decode and scale thread
// CPU time per picture, and the process CPU time per picture. A second table compares ways of
// scaling a decoded JPEG picture into its tile on the same sizes: QImage::scaled's smooth
// (area-averaging) scaling, QPainter's bilinear drawing (which the pool uses), and libswscale's
// bilinear filter.
//
//   bench_tile_decode [--seconds S]
#include <QImage>

extern "C" {
#include <libswscale/swscale.h>
}

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jpeg_codec.h"
#include "monitor/tile_decode_pool.h"
#include "monitor/tile_geometry.h"
#include "monitor/tile_scaler.h"
#include "mpeg4_encoder.h"
#include "ptz_camera.h"
#include "rgb_image.h"
#include "synthetic_scene.h"
#include "video/jpeg_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFramesPerChannel = 8;

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<uint8_t> withHeader(const std::vector<uint8_t>& payload, int channel, bool jpeg) {
  std::vector<uint8_t> frame(16 + payload.size(), 0);
  frame[0] = 0x01;
  frame[1] = uint8_t(channel);
  frame[2] = jpeg ? 1 : 0;
  std::copy(payload.begin(), payload.end(), frame.begin() + 16);
  return frame;
}

// kFramesPerChannel frames of a channel's moving scene, JPEG (quality 75) or MPEG-4.
std::vector<std::vector<uint8_t>> channelFrames(int channel, bool jpeg) {
  dvremu::SyntheticScene scene(channel, 704, 480);
  dvremu::RgbImage image;
  image.resize(704, 480);
  dvremu::Mpeg4Encoder encoder;
  if (!jpeg && !encoder.open(704, 480, 25, kFramesPerChannel)) std::abort();
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < kFramesPerChannel; ++i) {
    scene.render(i * 0.04, dvremu::PtzPosition{}, uint64_t(i), image);
    std::vector<uint8_t> payload;
    bool key = false;
    if (jpeg ? !dvremu::encodeJpeg(image, 75, &payload) : !encoder.encode(image, &payload, &key))
      std::abort();
    frames.push_back(withHeader(payload, channel, jpeg));
  }
  return frames;
}

struct Case {
  const char* name;
  int jpegChannels;
  int mpeg4Channels;
  QSize tile;
};

struct Result {
  double picturesPerSecond = 0;
  double decodeMs = 0, scaleMs = 0, cpuMs = 0;  // per picture
  uint64_t skipped = 0, failed = 0;
};

Result run(const Case& c, int workers, double seconds,
           const std::vector<std::vector<std::vector<uint8_t>>>& jpegFrames,
           const std::vector<std::vector<std::vector<uint8_t>>>& mpeg4Frames) {
  const int channels = c.jpegChannels + c.mpeg4Channels;
  CTileDecodePool pool(workers);
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<uint8_t> ready;
  pool.setPictureReady([&](uint8_t channel) {
    std::lock_guard lock(mutex);
    ready.push_back(channel);
    wake.notify_one();
  });
  std::vector<size_t> next(size_t(channels), 0);
  std::vector<uint64_t> sequence(size_t(channels), 0);
  auto submit = [&](int channel) {
    const bool jpeg = channel < c.jpegChannels;
    const auto& frames =
        jpeg ? jpegFrames[size_t(channel)] : mpeg4Frames[size_t(channel - c.jpegChannels)];
    const std::vector<uint8_t>& bytes = frames[next[size_t(channel)]++ % frames.size()];
    LiveFrame frame;
    frame.channel = uint8_t(channel);
    frame.codec = jpeg ? LiveCodec::Jpeg : LiveCodec::Mpeg4;
    frame.data = bytes.data();
    frame.length = uint32_t(bytes.size());
    frame.arrival = Clock::now();
    frame.sequence = ++sequence[size_t(channel)];
    pool.submit(frame);
  };
  for (int ch = 0; ch < channels; ++ch) pool.setTileSize(uint8_t(ch), c.tile);

  // A short warm-up, then the measured run.
  uint64_t pictures = 0;
  const TileDecodeStats before = pool.stats();
  double cpuBefore = processCpuSeconds();
  Clock::time_point start = Clock::now();
  const Clock::time_point warmEnd = start + std::chrono::milliseconds(300);
  bool warm = true;
  TileDecodeStats base{};
  for (int ch = 0; ch < channels; ++ch) submit(ch);
  const auto end =
      warmEnd + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    uint8_t channel = 0;
    {
      std::unique_lock lock(mutex);
      wake.wait(lock, [&] { return !ready.empty(); });
      channel = ready.front();
      ready.pop_front();
    }
    if (!pool.takePicture(channel)) continue;
    const Clock::time_point now = Clock::now();
    if (warm && now >= warmEnd) {
      warm = false;
      base = pool.stats();
      cpuBefore = processCpuSeconds();
      start = now;
      pictures = 0;
    }
    ++pictures;
    if (now >= end) break;
    submit(channel);
  }
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = processCpuSeconds() - cpuBefore;
  pool.setPictureReady(nullptr);
  pool.waitIdle(std::chrono::seconds(10));
  const TileDecodeStats after = pool.stats();
  (void)before;
  Result r;
  const double n = double(std::max<uint64_t>(1, after.decoded - base.decoded));
  r.picturesPerSecond = double(pictures) / wall;
  r.decodeMs = double(after.decodeNs - base.decodeNs) / 1e6 / n;
  r.scaleMs = double(after.scaleNs - base.scaleNs) / 1e6 / n;
  r.cpuMs = cpu * 1e3 / double(std::max<uint64_t>(1, pictures));
  r.skipped = after.skipped;
  r.failed = after.failed;
  return r;
}

// Median process CPU time of fn over rounds, in microseconds: Qt's scaling may spread its work
// over Qt's own thread pool, which the calling thread's CPU time would not show.
template <typename Fn>
double medianUs(int rounds, Fn fn) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    timespec t0{}, t1{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
    fn();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t1);
    times.push_back(double(t1.tv_sec - t0.tv_sec) * 1e6 + double(t1.tv_nsec - t0.tv_nsec) / 1e3);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void compareScalers(const std::vector<uint8_t>& jpegFrame) {
  std::printf("\nScaling a decoded 704x480 JPEG picture into its tile (median process CPU, us)\n");
  std::printf("%-28s %-10s %12s %12s %12s\n", "tile (picture rectangle)", "decoded at", "QImage",
              "QPainter", "swscale");
  for (const QSize tile : {QSize(320, 180), QSize(640, 360), QSize(1920, 1080)}) {
    const QRect target = letterboxRect({704, 480}, tile);
    const int d = jpegScaleDenominator({704, 480}, target.size());
    std::vector<uint8_t> data(jpegFrame.begin() + 16, jpegFrame.end());
    data.resize(data.size() + 64, 0);
    CJpegDecoder decoder;
    decoder.setData(data.data());
    if (!decoder.decodeScaled(uint32_t(jpegFrame.size() - 16), d,
                              CJpegDecoder::PixelFormat::Bgrx32))
      std::abort();
    const int w = decoder.scaledWidth(), h = decoder.scaledHeight();
    QImage image = letterboxedTile(tile, target);
    const QImage source(decoder.scaledPicture(), w, h, w * 4, QImage::Format_RGB32);
    const double qt = medianUs(60, [&] {
      const QImage scaled =
          source.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      for (int y = 0; y < target.height(); ++y)
        std::memcpy(image.scanLine(target.top() + y) + target.left() * 4, scaled.constScanLine(y),
                    size_t(target.width()) * 4);
    });
    const double painter = medianUs(
        60, [&] { placeBgrxPicture(decoder.scaledPicture(), w, h, w * 4, image, target); });
    SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_BGRA, target.width(), target.height(),
                                     AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const double ff = medianUs(60, [&] {
      const uint8_t* src[4] = {decoder.scaledPicture(), nullptr, nullptr, nullptr};
      const int srcStride[4] = {w * 4, 0, 0, 0};
      uint8_t* dst[4] = {image.scanLine(target.top()) + target.left() * 4, nullptr, nullptr,
                         nullptr};
      const int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
      sws_scale(sws, src, srcStride, 0, h, dst, dstStride);
    });
    sws_freeContext(sws);
    char label[64];
    std::snprintf(label, sizeof label, "%dx%d (%dx%d)", tile.width(), tile.height(), target.width(),
                  target.height());
    std::printf("%-28s 1/%-8d %12.0f %12.0f %12.0f\n", label, d, qt, painter, ff);
  }
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3.0;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atof(argv[i + 1]);

  std::vector<std::vector<std::vector<uint8_t>>> jpegFrames, mpeg4Frames;
  for (int ch = 0; ch < 16; ++ch) jpegFrames.push_back(channelFrames(ch, true));
  for (int ch = 12; ch < 16; ++ch) mpeg4Frames.push_back(channelFrames(ch, false));

  const Case cases[] = {{"16 JPEG tiles 320x180 (1280x720 grid)", 16, 0, {320, 180}},
                        {"4 JPEG tiles 640x360", 4, 0, {640, 360}},
                        {"1 JPEG tile 1920x1080", 1, 0, {1920, 1080}},
                        {"12 JPEG + 4 MPEG-4 tiles 320x180", 12, 4, {320, 180}}};
  std::printf("704x480 frames of the emulator's scenes, %.1f s per run, %u cores\n", seconds,
              std::thread::hardware_concurrency());
  std::printf("%-40s %7s %12s %10s %10s %10s\n", "case", "workers", "pictures/s", "decode ms",
              "scale ms", "cpu ms");
  for (const Case& c : cases) {
    double single = 0;
    for (int workers : {1, 2}) {
      const Result r = run(c, workers, seconds, jpegFrames, mpeg4Frames);
      std::printf("%-40s %7d %12.0f %10.2f %10.2f %10.2f", c.name, workers, r.picturesPerSecond,
                  r.decodeMs, r.scaleMs, r.cpuMs);
      if (workers == 1) single = r.picturesPerSecond;
      if (workers == 2 && single > 0) std::printf("   x%.2f", r.picturesPerSecond / single);
      if (r.skipped || r.failed)
        std::printf("   (%llu skipped, %llu failed)", (unsigned long long)r.skipped,
                    (unsigned long long)r.failed);
      std::printf("\n");
    }
  }
  compareScalers(jpegFrames[0][0]);
  return 0;
}
