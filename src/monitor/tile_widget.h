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

class CTileWidget final : public QWidget {
  Q_OBJECT

 public:
  static constexpr QRgb kFocusColour = 0xFFC820;
  static constexpr QRgb kRecordingColour = 0xE01010;

  CTileWidget(int index, QWidget* parent);
  int index() const { return index_; }

  // -1: an empty tile (no picture, no name).
  void setChannel(int channel);
  int channel() const { return channel_; }
  void setPicture(const QImage& picture);
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
  QString stateText_;
  int fps_ = -1;
  bool focused_ = false;
  bool recording_ = false;
};
