#include "monitor/grid_layout.h"

#include <algorithm>

namespace {
struct Span {
  int column, row, columns, rows;
};

// The tiles of a layout on its square cell grid of `cells` x `cells`.
std::vector<Span> spansOf(GridLayout layout, int* cells) {
  std::vector<Span> spans;
  const auto square = [&](int n) {
    *cells = n;
    for (int row = 0; row < n; ++row)
      for (int column = 0; column < n; ++column) spans.push_back({column, row, 1, 1});
  };
  // One big tile of (n-1)x(n-1) at the top left, the small ones down the right and along the
  // bottom.
  const auto bigAndSmall = [&](int n) {
    *cells = n;
    spans.push_back({0, 0, n - 1, n - 1});
    for (int row = 0; row < n - 1; ++row) spans.push_back({n - 1, row, 1, 1});
    for (int column = 0; column < n; ++column) spans.push_back({column, n - 1, 1, 1});
  };
  switch (layout) {
    case GridLayout::One:
      square(1);
      break;
    case GridLayout::Four:
      square(2);
      break;
    case GridLayout::Nine:
      square(3);
      break;
    case GridLayout::Sixteen:
      square(4);
      break;
    case GridLayout::OnePlusFive:
      bigAndSmall(3);
      break;
    case GridLayout::OnePlusSeven:
      bigAndSmall(4);
      break;
  }
  return spans;
}

int edge(int index, int cells, int length) {
  return static_cast<int>(static_cast<long long>(index) * length / cells);
}
}  // namespace

std::optional<GridLayout> parseGridLayout(const std::string& text) {
  if (text == "1") return GridLayout::One;
  if (text == "4") return GridLayout::Four;
  if (text == "9") return GridLayout::Nine;
  if (text == "16") return GridLayout::Sixteen;
  if (text == "1+5") return GridLayout::OnePlusFive;
  if (text == "1+7") return GridLayout::OnePlusSeven;
  return std::nullopt;
}

std::string gridLayoutName(GridLayout layout) {
  switch (layout) {
    case GridLayout::One:
      return "1";
    case GridLayout::Four:
      return "4";
    case GridLayout::Nine:
      return "9";
    case GridLayout::Sixteen:
      return "16";
    case GridLayout::OnePlusFive:
      return "1+5";
    case GridLayout::OnePlusSeven:
      return "1+7";
  }
  return "4";
}

int gridTileCount(GridLayout layout) {
  int cells = 0;
  return static_cast<int>(spansOf(layout, &cells).size());
}

GridLayout nextGridLayout(GridLayout layout) {
  switch (layout) {
    case GridLayout::One:
      return GridLayout::Four;
    case GridLayout::Four:
      return GridLayout::Nine;
    case GridLayout::Nine:
      return GridLayout::Sixteen;
    case GridLayout::Sixteen:
      return GridLayout::OnePlusFive;
    case GridLayout::OnePlusFive:
      return GridLayout::OnePlusSeven;
    case GridLayout::OnePlusSeven:
      return GridLayout::One;
  }
  return GridLayout::Four;
}

std::vector<QRect> gridTileRects(GridLayout layout, QSize area) {
  int cells = 1;
  const std::vector<Span> spans = spansOf(layout, &cells);
  std::vector<QRect> rects;
  rects.reserve(spans.size());
  const int width = std::max(0, area.width()), height = std::max(0, area.height());
  for (const Span& span : spans) {
    const int left = edge(span.column, cells, width);
    const int top = edge(span.row, cells, height);
    const int right = edge(span.column + span.columns, cells, width);
    const int bottom = edge(span.row + span.rows, cells, height);
    rects.emplace_back(left, top, right - left, bottom - top);
  }
  return rects;
}
