#pragma once
// A push button drawn from up to four images, one per state: A normal (0), B pressed (1),
// C latched (2), D disabled or alternate (3). A latching button rests in state 2 after a press.
//
// UI thread only.
#include <QAbstractButton>
#include <QImage>

#include <array>
#include <functional>

class CHoverButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit CHoverButton(QWidget* parent = nullptr);

  // Loads the skin images (the alternate one only when its id is not 0), resizes the button to the
  // normal image keeping its position, and raises it above its siblings. False when an image
  // asked for doesn't exist.
  bool loadImages(int normalId, int pressedId, int latchedId, int alternateId = 0);
  // The same with images at hand; a null image counts as not loaded.
  void setImages(const QImage& normal, const QImage& pressed, const QImage& latched,
                 const QImage& alternate = QImage());

  void setState(int state);
  int state() const { return state_; }
  void setLatching(bool latching) { latching_ = latching; }
  bool latching() const { return latching_; }

  // The pen was lifted somewhere else: rest as a release would leave the button, without a click.
  void notifyReleased();

  // The owner's record of the button it saw pressed last. A release on any other button is
  // swallowed (no state change, no click). Without it, every release counts.
  void setPressedButtonQuery(std::function<const CHoverButton*()> query);

  // The image painted now: 0..3 for A..D, -1 for none.
  int imageToDraw() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void restAfterRelease();

  std::array<QImage, 4> images_;
  int state_ = 0;
  bool latching_ = false;
  std::function<const CHoverButton*()> pressedButton_;
};
