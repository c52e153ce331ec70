#pragma once
// Live frames for the tile decoding tests (header only): the emulator's pictures encoded as the
// DVR sends them, and an independent decode with libjpeg-turbo's own reduced scaling to compare
// tiles with.
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>

#include <QImage>
#include <QPainter>
#include <QRect>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "jpeg_codec.h"
#include "mpeg4_encoder.h"
#include "ptz_camera.h"
#include "rgb_image.h"
#include "session/session_listener.h"
#include "synthetic_scene.h"

namespace tile_frames {

// The emulator's view of a channel at a moment.
inline dvremu::RgbImage scene(int channel, int width, int height, double seconds = 0.0) {
  dvremu::SyntheticScene synthetic(channel, width, height);
  dvremu::RgbImage image;
  image.resize(width, height);
  synthetic.render(seconds, dvremu::PtzPosition{}, 0, image);
  return image;
}

inline dvremu::RgbImage solid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
  dvremu::RgbImage image;
  image.resize(width, height);
  for (size_t i = 0; i < image.pixels.size(); i += 3) {
    image.pixels[i] = r;
    image.pixels[i + 1] = g;
    image.pixels[i + 2] = b;
  }
  return image;
}

inline std::vector<uint8_t> jpeg(const dvremu::RgbImage& image, int quality = 85) {
  std::vector<uint8_t> out;
  if (!dvremu::encodeJpeg(image, quality, &out)) std::abort();
  return out;
}

// The FrameHeader the DVR puts before a coded picture, then the picture.
inline std::vector<uint8_t> frame(const std::vector<uint8_t>& payload, uint8_t channel,
                                  LiveCodec codec) {
  std::vector<uint8_t> bytes(16 + payload.size(), 0);
  bytes[0] = 0x01;
  bytes[1] = channel;
  bytes[2] = codec == LiveCodec::Jpeg ? 1 : 0;
  std::copy(payload.begin(), payload.end(), bytes.begin() + 16);
  return bytes;
}

inline LiveFrame live(const std::vector<uint8_t>& bytes, uint8_t channel, LiveCodec codec,
                      uint64_t sequence) {
  LiveFrame f;
  f.channel = channel;
  f.codec = codec;
  f.data = bytes.data();
  f.length = static_cast<uint32_t>(bytes.size());
  f.arrival = std::chrono::steady_clock::now();
  f.sequence = sequence;
  return f;
}

// count MPEG-4 frames of the emulator's encoder (a key frame every gop) of channel's scene.
inline std::vector<std::vector<uint8_t>> mpeg4Frames(int channel, int width, int height, int count,
                                                     int gop) {
  dvremu::Mpeg4Encoder encoder;
  if (!encoder.open(width, height, 25, gop)) std::abort();
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> payload;
    bool key = false;
    if (!encoder.encode(scene(channel, width, height, i * 0.04), &payload, &key)) std::abort();
    frames.push_back(frame(payload, static_cast<uint8_t>(channel), LiveCodec::Mpeg4));
  }
  return frames;
}

// libjpeg-turbo's decode at 1/denominator, as an RGB32 image.
inline QImage referenceDecode(const std::vector<uint8_t>& data, int denominator) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr error{};
  info.err = jpeg_std_error(&error);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  info.scale_num = 1;
  info.scale_denom = static_cast<unsigned>(denominator);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  QImage image(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
               QImage::Format_RGB32);
  std::vector<uint8_t> row(info.output_width * 3);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row.data()};
    const int y = static_cast<int>(info.output_scanline);
    jpeg_read_scanlines(&info, rows, 1);
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (JDIMENSION x = 0; x < info.output_width; ++x)
      out[x] = qRgb(row[x * 3], row[x * 3 + 1], row[x * 3 + 2]);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return image;
}

// The reference picture scaled (bilinear) into target of a black tile.
inline QImage referenceTile(const QImage& decoded, QSize tile, QRect target) {
  QImage out(tile, QImage::Format_RGB32);
  out.fill(Qt::black);
  QPainter painter(&out);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, decoded);
  return out;
}

struct Difference {
  double mean = 1e9;  // per colour component
  int max = 1 << 16;
};

inline Difference difference(const QImage& a, const QImage& b) {
  Difference d;
  if (a.size() != b.size() || a.isNull()) return d;
  uint64_t sum = 0;
  int worst = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      const int dr = std::abs(qRed(p) - qRed(q)), dg = std::abs(qGreen(p) - qGreen(q)),
                dbl = std::abs(qBlue(p) - qBlue(q));
      sum += uint64_t(dr + dg + dbl);
      worst = std::max({worst, dr, dg, dbl});
    }
  }
  d.mean = double(sum) / (3.0 * a.width() * a.height());
  d.max = worst;
  return d;
}

}  // namespace tile_frames
