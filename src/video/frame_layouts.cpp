#include "video/frame_layouts.h"

#include "platform/display.h"
#include "video/rgb565.h"

namespace {

enum class Rows { Every, EverySecond, EveryThird, TwoOfThree };

struct LayoutRule {
  int code;
  bool fullScreen;
  int firstRow;
  int firstColumn;
  Rows rows;
  int columnStep;
  // 640- and 320-wide pictures: the area is centred in the picture from its own size, instead of
  // the fixed offsets that fit 704- and 352-wide pictures.
  bool centred;
};

// The source row row of the k-th row used.
constexpr int rowOffset(Rows rows, int k) {
  switch (rows) {
    case Rows::Every:
      return k;
    case Rows::EverySecond:
      return 2 * k;
    case Rows::EveryThird:
      return 3 * k;
    case Rows::TwoOfThree:
      return k + k / 2;
  }
  return 0;
}

constexpr LayoutRule kLayouts[] = {
    {1, true, 0, 32, Rows::EverySecond, 2, false},
    {2, true, 48, 32, Rows::EverySecond, 2, true},
    {4, false, 0, 30, Rows::EveryThird, 3, false},
    {8, false, 47, 30, Rows::EveryThird, 3, true},
    {16, true, 0, 32, Rows::Every, 2, false},
    {32, true, 24, 32, Rows::Every, 2, true},
    {64, false, 0, 30, Rows::TwoOfThree, 3, false},
    {128, false, 24, 30, Rows::TwoOfThree, 3, true},
    {256, true, 0, 16, Rows::Every, 1, false},
    {512, true, 22, 16, Rows::Every, 1, true},
    {1024, false, 0, 69, Rows::TwoOfThree, 1, false},
    {2048, false, 24, 69, Rows::TwoOfThree, 1, true},
};

const LayoutRule* findLayout(int code) {
  for (const LayoutRule& rule : kLayouts) {
    if (rule.code == code) return &rule;
  }
  return nullptr;
}

// Full screen: the k-th source row used becomes display column 239 - k, its n-th pixel used
// display row n.
template <int kStep>
void blitTurned(const uint8_t* first, int rowBytes, Rows rows, uint16_t* memory) {
  for (int k = 0; k < layout::kFullRows; ++k) {
    const uint8_t* source = first + rowOffset(rows, k) * rowBytes;
    uint16_t* target = memory + (display::kWidth - 1 - k);
    for (int n = 0; n < layout::kFullColumns; ++n) {
      *target = rgb565(source);
      source += 3 * kStep;
      target += display::kWidth;
    }
  }
}

// Window: the k-th source row used becomes display row y + k, its n-th pixel column x + n.
template <int kStep>
void blitUpright(const uint8_t* first, int rowBytes, Rows rows, uint16_t* area) {
  for (int k = 0; k < layout::kWindowHeight; ++k) {
    const uint8_t* source = first + rowOffset(rows, k) * rowBytes;
    uint16_t* target = area + k * display::kWidth;
    for (int n = 0; n < layout::kWindowWidth; ++n) {
      *target++ = rgb565(source);
      source += 3 * kStep;
    }
  }
}

}  // namespace

LayoutChoice selectFrameLayout(int width, int height, bool fullScreen) {
  const bool tall = height == 480 || height == 576;
  const bool half = height == 240 || height == 288;
  int full = layout::kNone;
  int window = layout::kNone;
  if (width == 704 && tall) full = 1, window = 4;
  if (width == 640 && tall) full = 2, window = 8;
  if (width == 704 && half) full = 16, window = 64;
  if (width == 640 && half) full = 32, window = 128;
  if (width == 352 && half) full = 256, window = 1024;
  if (width == 320 && half) full = 512, window = 2048;
  LayoutChoice choice;
  choice.layout = fullScreen ? full : window;
  if (!fullScreen && choice.layout != layout::kNone) {
    choice.x = layout::kWindowLeft;
    choice.y = layout::kWindowTop;
  }
  return choice;
}

bool blitFrameLayout(const BgrPicture& picture, uint16_t* displayMemory, int x, int y,
                     int layoutCode) {
  const LayoutRule* rule = findLayout(layoutCode);
  if (rule == nullptr || picture.pixels == nullptr || displayMemory == nullptr) return false;
  const int rowsUsed = rule->fullScreen ? layout::kFullRows : layout::kWindowHeight;
  const int columnsUsed = rule->fullScreen ? layout::kFullColumns : layout::kWindowWidth;
  const int rowSpan = rowOffset(rule->rows, rowsUsed - 1) + 1;
  const int columnSpan = (columnsUsed - 1) * rule->columnStep + 1;
  int firstRow = rule->firstRow;
  int firstColumn = rule->firstColumn;
  if (rule->centred) {
    firstRow = (picture.height - rowSpan) / 2;
    firstColumn = (picture.width - columnSpan) / 2;
  }
  if (firstRow < 0 || firstColumn < 0 || firstRow + rowSpan > picture.height ||
      firstColumn + columnSpan > picture.width) {
    return false;
  }
  const int rowBytes = picture.width * 3;
  const uint8_t* first = picture.pixels + firstRow * rowBytes + firstColumn * 3;

  if (rule->fullScreen) {
    if (rule->columnStep == 2) {
      blitTurned<2>(first, rowBytes, rule->rows, displayMemory);
    } else {
      blitTurned<1>(first, rowBytes, rule->rows, displayMemory);
    }
    return true;
  }
  if (x < 0 || y < 0 || x + layout::kWindowWidth > display::kWidth ||
      y + layout::kWindowHeight > display::kHeight) {
    return false;
  }
  uint16_t* area = displayMemory + y * display::kWidth + x;
  if (rule->columnStep == 3) {
    blitUpright<3>(first, rowBytes, rule->rows, area);
  } else {
    blitUpright<1>(first, rowBytes, rule->rows, area);
  }
  return true;
}
