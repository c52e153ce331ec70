#pragma once
// One PTZ camera: where it looks, how it moves, its presets, and which session holds it.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace dvremu {

struct PtzPosition {
  double pan = 0.0;    // -1 (left edge of the scene) .. 1 (right edge)
  double tilt = 0.0;   // -1 (top) .. 1 (bottom)
  double zoom = 1.0;   // 1 (whole scene) .. 4
  double focus = 0.0;  // -4 .. 4; away from 0 the picture blurs into blocks
  int preset = 0;      // last recalled preset, 0: none or moved since
};

// Outcome of one camera command.
struct PtzResult {
  bool accepted = true;
  uint8_t busyReason = 0;  // when refused: 0, 9 or 21, by the kind of command
};

class PtzCamera {
 public:
  using Clock = std::chrono::steady_clock;
  explicit PtzCamera(int channel);

  // Camera command codes: 1 up, 2 down, 3 left, 4 right, 0 stop pan/tilt, 5 zoom in, 6 zoom
  // out, 7 focus near, 8 focus far, 9 stop zoom/focus, 21 preset (value 1..8). A command from
  // another session while one holds the camera is refused as busy.
  PtzResult command(int session, uint8_t code, uint8_t value, Clock::time_point now);
  // Lets go of the camera when a session ends.
  void release(int session);
  PtzPosition position(Clock::time_point now);
  std::string describe(Clock::time_point now);

 private:
  void advance(Clock::time_point now);  // caller holds mutex_

  std::mutex mutex_;  // guards everything below; taken by control and live-stream threads
  PtzPosition position_;
  PtzPosition target_;  // preset being approached
  bool approaching_ = false;
  double panSpeed_ = 0, tiltSpeed_ = 0, zoomSpeed_ = 0, focusSpeed_ = 0;
  Clock::time_point last_;
  int holder_ = 0;               // session that moves the camera, 0: none
  Clock::time_point holdUntil_;  // a stopped camera stays with its holder this long
  PtzPosition presets_[8];
};

}  // namespace dvremu
