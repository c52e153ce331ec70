#pragma once
// A horizontal slider drawn from images: a track (optionally a second, "filled" track for the part
// left of the thumb) and a thumb. When the user lets go of the thumb it posts message 10025
// (wParam its control id, lParam the position) to the window set with setNotifyWindow.
//
// UI thread only.
#include <QImage>
#include <QWidget>

#include <cstdint>

#include "platform/message_window.h"

class CSkinSlider : public QWidget {
  Q_OBJECT

 public:
  // Key colour meaning "the colour of the image's pixel at (key x, key y)".
  static constexpr uint32_t kKeyFromPixel = 0xFF000000u;

  explicit CSkinSlider(QWidget* parent = nullptr);

  // Skin images by id; 1, or 0 when an image can't be loaded (then no track, or no thumb, images
  // are kept). The key colour is 0x00BBGGRR; with transparent set its pixels are not drawn.
  int setTrackImages(int trackId, int filledId, bool transparent, uint32_t keyColour, int keyX,
                     int keyY);
  int setThumbImages(int thumbId, int draggedId, bool transparent, uint32_t keyColour, int keyX,
                     int keyY);
  // The same with images at hand (a null filled or dragged image means none).
  int setTrackImages(const QImage& track, const QImage& filled, bool transparent,
                     uint32_t keyColour, int keyX, int keyY);
  int setThumbImages(const QImage& thumb, const QImage& dragged, bool transparent,
                     uint32_t keyColour, int keyX, int keyY);

  // The position is kept within the range.
  void setRange(int minimum, int maximum, bool redraw = true);
  void setRangeMin(int minimum, bool redraw = true);
  void setRangeMax(int maximum, bool redraw = true);
  int minimum() const { return minimum_; }
  int maximum() const { return maximum_; }

  void setPosition(int position);
  int position() const { return position_; }

  void setMargins(int left, int top, int right, int bottom);

  // Where message 10025 goes; its wParam is the id given with setControlId (ui/control_id.h).
  void setNotifyWindow(WindowId window) { notifyWindow_ = window; }
  WindowId notifyWindow() const { return notifyWindow_; }

  // Thumb centre x for a position, and the position for a thumb centre x.
  int thumbCentreFor(int position) const;
  int positionFor(int thumbCentre) const;
  int thumbCentre() const { return thumbCentreFor(position_); }

  int trackWidth() const { return trackWidth_; }
  int trackHeight() const { return trackHeight_; }
  int thumbWidth() const { return thumbWidth_; }
  int thumbHeight() const { return thumbHeight_; }
  bool isDragging() const { return dragging_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Travel of the thumb centre; the mapping is defined only while it is positive and max > min.
  int span() const { return trackWidth_ - marginLeft_ - thumbWidth_ - marginRight_; }
  bool hasMapping() const { return span() > 0 && maximum_ > minimum_; }
  void dragTo(int mouseX);
  void clampPosition();

  int minimum_ = 0;
  int maximum_ = 100;
  int position_ = 0;
  int trackWidth_ = 0;
  int trackHeight_ = 0;
  int thumbWidth_ = 0;
  int thumbHeight_ = 0;
  int marginLeft_ = 0;
  int marginTop_ = 0;
  int marginRight_ = 0;
  int marginBottom_ = 0;
  QImage track_;
  QImage trackFilled_;
  QImage thumb_;
  QImage thumbDragged_;
  bool trackTransparent_ = false;
  bool enabled_ = true;  // follows the enable message
  bool dragging_ = false;
  int grabOffset_ = 0;
  WindowId notifyWindow_ = kNoWindow;
};
