#pragma once
// One tile of the monitor grid: the channel's newest picture letterboxed, the channel's name,
// a state text when no picture comes ("No video", "Stale", "Not available"), an optional frame
// rate, a recording mark and the focus frame. It only paints what the window gives it; clicks go
// back to the window as signals.
//
// UI thread only.
#include <QImage>
#include <QString>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>

class CTileWidget final : public QWidget {
  Q_OBJECT

 public:
  static constexpr QRgb kFocusColour = 0xFFC820;
  static constexpr QRgb kRecordingColour = 0xE01010;

  // A picture as painted for the first time: its tile, channel, frame sequence and the frame's
  // arrival. For measurements and tests; unset, it costs nothing.
  struct Shown {
    int tile = -1;
    int channel = -1;
    uint64_t sequence = 0;
    std::chrono::steady_clock::time_point arrival;
  };
  using ShownObserver = std::function<void(const Shown&)>;

  CTileWidget(int index, QWidget* parent);
  int index() const { return index_; }

  // -1: an empty tile (no picture, no name).
  void setChannel(int channel);
  int channel() const { return channel_; }
  // sequence and arrival are those of the frame the picture came from.
  void setPicture(const QImage& picture, uint64_t sequence = 0,
                  std::chrono::steady_clock::time_point arrival = {});
  void clearPicture();
  const QImage& picture() const { return picture_; }
  void setStateText(const QString& text);
  const QString& stateText() const { return stateText_; }
  // Negative: no readout.
  void setFramesPerSecond(int fps);
  void setFocused(bool focused);
  bool focused() const { return focused_; }
  void setRecording(bool recording);
  bool recording() const { return recording_; }

  // Pictures replaced by a newer one before they were painted.
  uint64_t unpaintedPictures() const { return unpainted_; }
  // Called from the paint of each new picture (UI thread); the observer must outlive the tile.
  void setShownObserver(const ShownObserver* observer) { observer_ = observer; }

  // The picture's part of the tile: the tile less the focus frame.
  QRect pictureRect() const;
  // "CH 3".
  static QString channelName(int channel);

 signals:
  void pressed(int index);
  void doubleClicked(int index);
  void menuRequested(int index, QPoint globalPos);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  const int index_;
  int channel_ = -1;
  QImage picture_;
  uint64_t sequence_ = 0;
  std::chrono::steady_clock::time_point arrival_{};
  bool painted_ = true;  // the picture (if any) has been painted since it was set
  uint64_t unpainted_ = 0;
  const ShownObserver* observer_ = nullptr;
  QString stateText_;
  int fps_ = -1;
  bool focused_ = false;
  bool recording_ = false;
};
