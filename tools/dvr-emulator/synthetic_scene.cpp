#include "synthetic_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "bitmap_text.h"

namespace dvremu {
namespace {

// One distinct hue per channel so cameras are told apart at a glance.
void channelColour(int channel, double shade, uint8_t rgb[3]) {
  const double hue = std::fmod(channel * 0.618034, 1.0) * 6.0;
  const double f = hue - std::floor(hue);
  double r = 0, g = 0, b = 0;
  switch (static_cast<int>(hue)) {
    case 0:
      r = 1, g = f, b = 0;
      break;
    case 1:
      r = 1 - f, g = 1, b = 0;
      break;
    case 2:
      r = 0, g = 1, b = f;
      break;
    case 3:
      r = 0, g = 1 - f, b = 1;
      break;
    case 4:
      r = f, g = 0, b = 1;
      break;
    default:
      r = 1, g = 0, b = 1 - f;
      break;
  }
  rgb[0] = static_cast<uint8_t>(std::clamp(r * shade * 255.0, 0.0, 255.0));
  rgb[1] = static_cast<uint8_t>(std::clamp(g * shade * 255.0, 0.0, 255.0));
  rgb[2] = static_cast<uint8_t>(std::clamp(b * shade * 255.0, 0.0, 255.0));
}

}  // namespace

SyntheticScene::SyntheticScene(int channel, int width, int height)
    : channel_(channel), width_(width), height_(height) {
  paintWorld();
}

void SyntheticScene::paintWorld() {
  const int w = width_ * 2, h = height_ * 2;
  world_.resize(w, h);
  const int horizon = h * 11 / 20;
  uint8_t tint[3];
  channelColour(channel_, 1.0, tint);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = world_.at(x, y);
      if (y < horizon) {  // sky: a gradient tinted by the channel
        const double t = static_cast<double>(y) / horizon;
        p[0] = static_cast<uint8_t>(70 + 60 * t + tint[0] * 0.15);
        p[1] = static_cast<uint8_t>(110 + 70 * t + tint[1] * 0.15);
        p[2] = static_cast<uint8_t>(200 + 40 * t);
      } else {  // ground: a checkerboard that recedes, then a road
        const int cx = x / 32, cy = (y - horizon) / 16;
        const bool dark = ((cx + cy) & 1) != 0;
        p[0] = static_cast<uint8_t>(dark ? 60 : 90);
        p[1] = static_cast<uint8_t>(dark ? 120 : 150);
        p[2] = static_cast<uint8_t>(dark ? 50 : 70);
      }
    }
  }
  // A road across the ground.
  const uint8_t asphalt[3] = {70, 70, 75}, stripe[3] = {235, 225, 120};
  const int roadTop = horizon + (h - horizon) / 2;
  fillRect(world_, 0, roadTop, w, h / 10, asphalt);
  for (int x = 0; x < w; x += 80) fillRect(world_, x, roadTop + h / 20 - 3, 40, 6, stripe);
  // A row of buildings with windows, heights varying per channel.
  unsigned seed = 1234567u + static_cast<unsigned>(channel_) * 7919u;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int x = 20; x < w - 60;) {
    const int bw = 60 + static_cast<int>(next() % 90);
    const int bh = h / 8 + static_cast<int>(next() % static_cast<unsigned>(h / 4));
    uint8_t wall[3];
    channelColour(channel_ + static_cast<int>(next() % 5), 0.45 + (next() % 30) / 100.0, wall);
    fillRect(world_, x, horizon - bh, bw, bh, wall);
    const uint8_t lit[3] = {250, 235, 160}, unlit[3] = {40, 45, 60};
    for (int wy = horizon - bh + 10; wy < horizon - 16; wy += 22) {
      for (int wx = x + 8; wx < x + bw - 14; wx += 18)
        fillRect(world_, wx, wy, 9, 12, (next() % 3) ? lit : unlit);
    }
    x += bw + 10 + static_cast<int>(next() % 40);
  }
  // The channel number painted large on the scene, so a zoomed view still shows it.
  char label[16];
  std::snprintf(label, sizeof label, "CAM %d", channel_ + 1);
  const uint8_t white[3] = {255, 255, 255};
  const int scale = std::max(4, height_ / 40);
  drawText(world_, w / 2 - textWidth(label, scale) / 2, horizon / 6, label, scale, white);
  // Eight preset markers, numbered, around the scene.
  const double spots[8][2] = {{0, 0},     {-0.8, -0.6}, {0.8, -0.6}, {-0.8, 0.7},
                              {0.8, 0.7}, {0, 0.5},     {-0.4, 0},   {0.5, -0.2}};
  const uint8_t marker[3] = {230, 60, 60};
  for (int i = 0; i < 8; ++i) {
    const int px = static_cast<int>((spots[i][0] * 0.5 + 0.5) * (w - width_) + width_ / 2);
    const int py = static_cast<int>((spots[i][1] * 0.5 + 0.5) * (h - height_) + height_ / 2);
    fillRect(world_, px - 14, py - 14, 28, 28, marker);
    const char digit[2] = {static_cast<char>('1' + i), 0};
    drawText(world_, px - 8, py - 10, digit, 3, white);
  }
}

void SyntheticScene::render(double seconds, const PtzPosition& view, uint64_t frameNumber,
                            RgbImage& out) const {
  if (out.width != width_ || out.height != height_) out.resize(width_, height_);
  const double zoom = std::clamp(view.zoom, 1.0, 4.0);
  const double regionW = world_.width / zoom, regionH = world_.height / zoom;
  const double x0 = (std::clamp(view.pan, -1.0, 1.0) * 0.5 + 0.5) * (world_.width - regionW);
  const double y0 = (std::clamp(view.tilt, -1.0, 1.0) * 0.5 + 0.5) * (world_.height - regionH);
  const int block = 1 + static_cast<int>(std::fabs(view.focus) * 1.5);  // defocus as coarse blocks

  std::vector<int> columns(static_cast<size_t>(width_));
  for (int x = 0; x < width_; ++x) {
    const int bx = x - x % block;
    columns[static_cast<size_t>(x)] =
        std::min(world_.width - 1, static_cast<int>(x0 + bx * regionW / width_));
  }
  for (int y = 0; y < height_; ++y) {
    const int by = y - y % block;
    const int sy = std::min(world_.height - 1, static_cast<int>(y0 + by * regionH / height_));
    const uint8_t* src = world_.at(0, sy);
    uint8_t* dst = out.at(0, y);
    for (int x = 0; x < width_; ++x) {
      const uint8_t* s = src + columns[static_cast<size_t>(x)] * 3;
      dst[0] = s[0];
      dst[1] = s[1];
      dst[2] = s[2];
      dst += 3;
    }
  }

  // A ball bouncing over the scene, drawn in scene coordinates so PTZ moves past it.
  const double period = 4.0 + channel_ * 0.7;
  const double phase = std::fmod(seconds / period, 1.0);
  const double bx = (0.1 + 0.8 * (phase < 0.5 ? phase * 2 : 2 - phase * 2)) * world_.width;
  const double by = world_.height * (0.62 - 0.35 * std::fabs(std::sin(seconds * 2.6 + channel_)));
  const double scale = width_ / regionW;
  const double radius = world_.height / 20.0 * scale;
  const double cx = (bx - x0) * scale, cy = (by - y0) * scale;
  uint8_t ball[3];
  channelColour(channel_ + 3, 1.0, ball);
  const int top = std::max(0, static_cast<int>(cy - radius)),
            bottom = std::min(height_ - 1, static_cast<int>(cy + radius));
  for (int y = top; y <= bottom; ++y) {
    const double dy = y - cy;
    const double half = std::sqrt(std::max(0.0, radius * radius - dy * dy));
    const int left = std::max(0, static_cast<int>(cx - half)),
              right = std::min(width_ - 1, static_cast<int>(cx + half));
    for (int x = left; x <= right; ++x) {
      uint8_t* p = out.at(x, y);
      // Brightest at the top left; capped there, where the disc reaches past the diagonal (a
      // channel value over 255 doesn't fit its byte).
      const double light = std::min(1.0, 1.0 - 0.5 * ((x - cx) + (y - cy) + radius) / (2 * radius));
      p[0] = static_cast<uint8_t>(ball[0] * light);
      p[1] = static_cast<uint8_t>(ball[1] * light);
      p[2] = static_cast<uint8_t>(ball[2] * light);
    }
  }

  // Overlay: channel and clock at the top, camera position at the bottom.
  const int textScale = std::max(2, height_ / 120);
  const uint8_t shade[3] = {20, 20, 30}, white[3] = {255, 255, 255}, yellow[3] = {255, 220, 80};
  const std::time_t wall = std::time(nullptr);
  std::tm local{};
  localtime_r(&wall, &local);
  char top1[64], bottom1[96];
  std::snprintf(top1, sizeof top1, "CH %02d  %02d:%02d:%02d  #%llu", channel_ + 1, local.tm_hour,
                local.tm_min, local.tm_sec, static_cast<unsigned long long>(frameNumber));
  std::snprintf(bottom1, sizeof bottom1, "PAN %+04d TILT %+04d ZOOM %.1f%s",
                static_cast<int>(view.pan * 100), static_cast<int>(view.tilt * 100), zoom,
                view.preset ? (std::string(" PRESET ") + std::to_string(view.preset)).c_str() : "");
  const int lineH = 9 * textScale;
  fillRect(out, 0, 0, width_, lineH + 4, shade);
  drawText(out, 6, 3, top1, textScale, white);
  fillRect(out, 0, height_ - lineH - 4, width_, lineH + 4, shade);
  drawText(out, 6, height_ - lineH - 1, bottom1, textScale, yellow);
}

}  // namespace dvremu
