#pragma once
// The status line of the main window. It lies inside the picture area, so it is its own
// transparent widget stacked above the live picture: the text stays readable over video.
#include <QString>
#include <QWidget>

class CStatusLine final : public QWidget {
  Q_OBJECT

 public:
  static constexpr QRgb kTextColour = 0x737373;

  explicit CStatusLine(QWidget* parent);
  void setText(const QString& text);
  const QString& text() const { return text_; }
  // Over a live picture the text gets a dark outline so it reads on any background.
  void setOverPicture(bool overPicture);
  // A red dot at the line's left end while a recording runs, whatever the text says.
  void setRecordingMark(bool shown);
  bool recordingMark() const { return recordingMark_; }
  static constexpr QRgb kRecordingMarkColour = 0xE01010;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  bool overPicture_ = false;
  bool recordingMark_ = false;
};
