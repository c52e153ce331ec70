#pragma once
// The monitor's grid layouts and where their tiles lie in an area of a given size.
#include <QRect>
#include <QSize>

#include <optional>
#include <string>
#include <vector>

enum class GridLayout { One, Four, Nine, Sixteen, OnePlusFive, OnePlusSeven };

// "1", "4", "9", "16", "1+5", "1+7"; nothing for any other text.
std::optional<GridLayout> parseGridLayout(const std::string& text);
std::string gridLayoutName(GridLayout layout);
int gridTileCount(GridLayout layout);
// The layout after this one in the order above, wrapping round.
GridLayout nextGridLayout(GridLayout layout);

// The tiles' rectangles, in tile order (left to right, top to bottom; the big tile first). The
// tiles cover the area without gaps or overlaps: cell edges are rounded so the last row and
// column end exactly at the area's edge.
std::vector<QRect> gridTileRects(GridLayout layout, QSize area);
