#pragma once
// The main window's three drawing gates, read by the decode paths on the live-stream thread.
// A frame is drawn only while disconnectRequested is clear and the other two are set.
class IDrawGates {
 public:
  virtual ~IDrawGates() = default;
  virtual bool disconnectRequested() const = 0;
  virtual bool liveReady() const = 0;
  virtual bool displayReady() const = 0;

  bool mayDraw() const { return !disconnectRequested() && liveReady() && displayReady(); }
};
