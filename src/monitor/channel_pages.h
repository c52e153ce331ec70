#pragma once
// Which channel each tile shows. The assignment is one list of channels in tile order (-1: an
// empty tile), cut into pages of as many entries as the layout has tiles; the page shown is the
// window's. By default the list is the DVR's enabled channels in order, so a DVR with more
// channels than tiles gets pages; an explicit list (--channels, the tile pickers) is kept as
// given.
//
// UI thread only.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CChannelPages {
 public:
  static constexpr int kMaxChannels = 16;

  // The channels counted from 0, -1 for an empty tile.
  void setChannels(std::vector<int> channels);
  const std::vector<int>& channels() const { return channels_; }
  // The DVR's enabled channels in order (only when no list was set explicitly).
  void setDefaultChannels(uint32_t channelCount, uint32_t disabledMask);
  bool explicitList() const { return explicit_; }

  void setTilesPerPage(int tiles);
  int tilesPerPage() const { return tiles_; }
  int pageCount() const;
  int page() const { return page_; }
  // Wraps round at either end; false when there is only one page.
  bool nextPage();
  bool previousPage();

  // The channel of tile (0-based on the current page), -1 for an empty tile.
  int channelOfTile(int tile) const;
  // The tiles of the current page, in order.
  std::vector<int> pageChannels() const;
  // Shows channel (-1: none) on a tile of the current page; the list grows as needed.
  void assign(int tile, int channel);
  // The first tile of the current page that shows channel, -1 when none does.
  int tileOfChannel(int channel) const;
  // Bit n for every channel n on the current page.
  uint32_t pageMask() const;

 private:
  std::vector<int> channels_;
  bool explicit_ = false;
  int tiles_ = 4;
  int page_ = 0;
};

// "3,1,4,2": channel numbers counted from 1 (0: an empty tile), 1..64 entries. Answers the
// channels counted from 0 (-1 for empty), or nothing with the reason in *error.
std::optional<std::vector<int>> parseChannelList(const std::string& text, std::string* error);
std::string formatChannelList(const std::vector<int>& channels);
