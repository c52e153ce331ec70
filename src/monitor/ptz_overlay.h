#pragma once
// The on-screen camera controls over the focused tile: pan and tilt, zoom in and out, and the
// eight presets. A movement button reports its press and its release (press and hold); a preset
// reports a click.
//
// UI thread only.
#include <QWidget>

#include <cstdint>

class CPtzOverlay final : public QWidget {
  Q_OBJECT

 public:
  explicit CPtzOverlay(QWidget* parent);

 signals:
  // The camera's movement code (1 up, 2 down, 3 left, 4 right, 5 zoom in, 6 zoom out).
  void movePressed(int code);
  void moveReleased(int code);
  void presetClicked(int preset);  // 1..8
};
