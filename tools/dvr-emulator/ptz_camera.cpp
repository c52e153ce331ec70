#include "ptz_camera.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace dvremu {
namespace {
constexpr double kPanTiltPerSecond = 0.6;
constexpr double kZoomPerSecond = 1.2;
constexpr double kFocusPerSecond = 3.0;
constexpr double kPresetSeconds = 1.0;  // a preset is reached in about this time
constexpr auto kHoldAfterStop = std::chrono::seconds(2);
}  // namespace

PtzCamera::PtzCamera(int channel) : last_(Clock::now()) {
  // Eight spread-out viewpoints; they differ a little per channel so presets look distinct.
  const double shift = (channel % 4) * 0.1;
  const PtzPosition spots[8] = {
      {0, 0, 1, 0, 1},     {-0.8, -0.6, 2.5, 0, 2}, {0.8, -0.6, 2.5, 0, 3}, {-0.8, 0.7, 3, 0, 4},
      {0.8, 0.7, 3, 0, 5}, {0, 0.5, 4, 0, 6},       {-0.4, 0, 1.8, 0, 7},   {0.5, -0.2, 1.5, 0, 8}};
  for (int i = 0; i < 8; ++i) {
    presets_[i] = spots[i];
    presets_[i].pan = std::clamp(presets_[i].pan + shift, -1.0, 1.0);
  }
}

void PtzCamera::advance(Clock::time_point now) {
  const double dt = std::chrono::duration<double>(now - last_).count();
  last_ = now;
  if (dt <= 0) return;
  if (approaching_) {
    const double k = std::min(1.0, dt / kPresetSeconds * 3.0);
    position_.pan += (target_.pan - position_.pan) * k;
    position_.tilt += (target_.tilt - position_.tilt) * k;
    position_.zoom += (target_.zoom - position_.zoom) * k;
    position_.focus += (target_.focus - position_.focus) * k;
    if (std::fabs(position_.pan - target_.pan) < 1e-3 &&
        std::fabs(position_.zoom - target_.zoom) < 1e-3 &&
        std::fabs(position_.tilt - target_.tilt) < 1e-3) {
      position_ = target_;
      approaching_ = false;
    }
    return;
  }
  position_.pan = std::clamp(position_.pan + panSpeed_ * dt, -1.0, 1.0);
  position_.tilt = std::clamp(position_.tilt + tiltSpeed_ * dt, -1.0, 1.0);
  position_.zoom = std::clamp(position_.zoom * std::exp(zoomSpeed_ * dt), 1.0, 4.0);
  position_.focus = std::clamp(position_.focus + focusSpeed_ * dt, -4.0, 4.0);
}

PtzResult PtzCamera::command(int session, uint8_t code, uint8_t value, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  advance(now);
  const bool held = holder_ != 0 && holder_ != session &&
                    (panSpeed_ != 0 || tiltSpeed_ != 0 || zoomSpeed_ != 0 || focusSpeed_ != 0 ||
                     approaching_ || now < holdUntil_);
  if (held) {
    PtzResult busy;
    busy.accepted = false;
    busy.busyReason = code == 21 ? 21 : (code >= 5 && code <= 9) ? 9 : 0;
    return busy;
  }
  holder_ = session;
  holdUntil_ = now + kHoldAfterStop;
  const bool moves = (code >= 1 && code <= 8);
  if (moves || code == 21) {
    position_.preset = 0;
    approaching_ = false;
  }
  switch (code) {
    case 0:
      panSpeed_ = tiltSpeed_ = 0;
      break;
    case 1:
      tiltSpeed_ = -kPanTiltPerSecond;
      break;
    case 2:
      tiltSpeed_ = kPanTiltPerSecond;
      break;
    case 3:
      panSpeed_ = -kPanTiltPerSecond;
      break;
    case 4:
      panSpeed_ = kPanTiltPerSecond;
      break;
    case 5:
      zoomSpeed_ = kZoomPerSecond;
      break;
    case 6:
      zoomSpeed_ = -kZoomPerSecond;
      break;
    case 7:
      focusSpeed_ = -kFocusPerSecond;
      break;
    case 8:
      focusSpeed_ = kFocusPerSecond;
      break;
    case 9:
      zoomSpeed_ = focusSpeed_ = 0;
      break;
    case 21:
      if (value >= 1 && value <= 8) {
        panSpeed_ = tiltSpeed_ = zoomSpeed_ = focusSpeed_ = 0;
        target_ = presets_[value - 1];
        target_.preset = value;
        approaching_ = true;
      }
      break;
    default:
      break;
  }
  return {};
}

void PtzCamera::release(int session) {
  std::lock_guard lock(mutex_);
  if (holder_ != session) return;
  advance(Clock::now());
  holder_ = 0;
  panSpeed_ = tiltSpeed_ = zoomSpeed_ = focusSpeed_ = 0;
}

PtzPosition PtzCamera::position(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  advance(now);
  return position_;
}

std::string PtzCamera::describe(Clock::time_point now) {
  const PtzPosition p = position(now);
  std::lock_guard lock(mutex_);
  char text[160];
  std::snprintf(text, sizeof text, "pan %+.2f tilt %+.2f zoom %.2f focus %+.1f preset %d holder %d",
                p.pan, p.tilt, p.zoom, p.focus, p.preset, holder_);
  return text;
}

}  // namespace dvremu
