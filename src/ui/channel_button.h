#pragma once
// A channel-number button: a framed rectangle with a centred caption, its colours chosen by state
// (0 normal, 1 active, 2 pressed, 3 unavailable) and by whether it is held down or disabled.
//
// UI thread only.
#include <QAbstractButton>
#include <QString>

#include "ui/colour_ref.h"

class CChannelButton : public QAbstractButton {
  Q_OBJECT

 public:
  static constexpr ColourRef kDefaultFrame = rgbColour(255, 255, 255);
  static constexpr ColourRef kDefaultTextNormal = rgbColour(0, 0, 0);
  static constexpr ColourRef kDefaultTextActive = rgbColour(0, 39, 104);
  static constexpr ColourRef kDefaultTextDisabled = rgbColour(140, 140, 140);

  explicit CChannelButton(QWidget* parent = nullptr);

  // Keeps the text unless it is empty.
  void setCaption(const QString& caption);
  const QString& caption() const { return caption_; }

  void setState(int state);
  int state() const { return state_; }

  void setFrameColors(ColourRef normal, ColourRef pressed, ColourRef active, ColourRef disabled,
                      ColourRef fill);
  void setTextColors(ColourRef normal, ColourRef pressed, ColourRef active, ColourRef disabled);

  ColourRef frameNormal() const { return frameNormal_; }
  ColourRef framePressed() const { return framePressed_; }
  ColourRef frameActive() const { return frameActive_; }
  ColourRef frameDisabled() const { return frameDisabled_; }
  ColourRef textNormal() const { return textNormal_; }
  ColourRef textPressed() const { return textPressed_; }
  ColourRef textActive() const { return textActive_; }
  ColourRef textDisabled() const { return textDisabled_; }
  ColourRef fill() const { return fill_; }

  // The frame and caption colours the next paint uses.
  ColourRef currentFrameColour() const;
  ColourRef currentTextColour() const;

  QSize sizeHint() const override { return QSize(13, 15); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The frame and caption colour slots for the current state and input.
  std::pair<ColourRef, ColourRef> chosenColours() const;

  QString caption_;
  bool enabled_ = true;  // follows the enable message
  int state_ = 0;
  ColourRef frameNormal_ = kDefaultFrame;
  ColourRef framePressed_ = kDefaultFrame;
  ColourRef frameActive_ = kDefaultFrame;
  ColourRef frameDisabled_ = kDefaultFrame;
  ColourRef textNormal_ = kDefaultTextNormal;
  ColourRef textPressed_ = kDefaultTextActive;
  ColourRef textActive_ = kDefaultTextActive;
  ColourRef textDisabled_ = kDefaultTextDisabled;
  ColourRef fill_ = kDefaultFrame;
};
