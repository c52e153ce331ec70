#include "monitor/ptz_overlay.h"

#include <QGridLayout>
#include <QPushButton>

namespace {
struct MoveButton {
  const char* text;
  int code;
  int row, column;
};
constexpr MoveButton kMoves[] = {
    {"\u25B2", 1, 0, 1}, {"\u25BC", 2, 2, 1}, {"\u25C0", 3, 1, 0},
    {"\u25B6", 4, 1, 2}, {"+", 5, 0, 3},      {"\u2212", 6, 2, 3},
};
}  // namespace

CPtzOverlay::CPtzOverlay(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ptzOverlay"));
  setAttribute(Qt::WA_StyledBackground);
  setStyleSheet(QStringLiteral(
      "#ptzOverlay { background: rgba(0, 0, 0, 150); border-radius: 6px; }"
      "QPushButton { color: white; background: rgba(60, 60, 60, 200); border: 1px solid #888;"
      " min-width: 26px; min-height: 22px; }"
      "QPushButton:pressed { background: rgba(255, 200, 32, 220); color: black; }"));
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(6, 6, 6, 6);
  grid->setSpacing(3);
  for (const MoveButton& move : kMoves) {
    auto* button = new QPushButton(QString::fromUtf8(move.text), this);
    button->setFocusPolicy(Qt::NoFocus);
    button->setObjectName(QStringLiteral("ptzMove%1").arg(move.code));
    const int code = move.code;
    connect(button, &QPushButton::pressed, this, [this, code] { emit movePressed(code); });
    connect(button, &QPushButton::released, this, [this, code] { emit moveReleased(code); });
    grid->addWidget(button, move.row, move.column);
  }
  for (int preset = 1; preset <= 8; ++preset) {
    auto* button = new QPushButton(QString::number(preset), this);
    button->setFocusPolicy(Qt::NoFocus);
    button->setObjectName(QStringLiteral("ptzPreset%1").arg(preset));
    connect(button, &QPushButton::clicked, this, [this, preset] { emit presetClicked(preset); });
    grid->addWidget(button, 3 + (preset - 1) / 4, (preset - 1) % 4);
  }
  adjustSize();
}
