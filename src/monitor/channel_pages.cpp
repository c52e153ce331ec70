#include "monitor/channel_pages.h"

#include <algorithm>

namespace {
// Four pages of the largest grid.
constexpr size_t kMaxListEntries = 64;
}  // namespace

void CChannelPages::setChannels(std::vector<int> channels) {
  for (int& channel : channels) {
    if (channel < 0 || channel >= kMaxChannels) channel = -1;
  }
  channels_ = std::move(channels);
  explicit_ = true;
  page_ = std::min(page_, pageCount() - 1);
}

void CChannelPages::setDefaultChannels(uint32_t channelCount, uint32_t disabledMask) {
  if (explicit_) return;
  channels_.clear();
  const int count = static_cast<int>(std::min<uint32_t>(channelCount, kMaxChannels));
  for (int channel = 0; channel < count; ++channel) {
    if ((disabledMask & (1u << channel)) == 0) channels_.push_back(channel);
  }
  page_ = std::min(page_, pageCount() - 1);
}

void CChannelPages::setTilesPerPage(int tiles) {
  // The first tile of the page shown stays on screen.
  const int first = page_ * tiles_;
  tiles_ = std::max(1, tiles);
  page_ = std::min(first / tiles_, pageCount() - 1);
}

int CChannelPages::pageCount() const {
  const int entries = static_cast<int>(channels_.size());
  return std::max(1, (entries + tiles_ - 1) / tiles_);
}

bool CChannelPages::nextPage() {
  if (pageCount() <= 1) return false;
  page_ = (page_ + 1) % pageCount();
  return true;
}

bool CChannelPages::previousPage() {
  if (pageCount() <= 1) return false;
  page_ = (page_ + pageCount() - 1) % pageCount();
  return true;
}

int CChannelPages::channelOfTile(int tile) const {
  if (tile < 0 || tile >= tiles_) return -1;
  const size_t index = static_cast<size_t>(page_ * tiles_ + tile);
  return index < channels_.size() ? channels_[index] : -1;
}

std::vector<int> CChannelPages::pageChannels() const {
  std::vector<int> page;
  for (int tile = 0; tile < tiles_; ++tile) page.push_back(channelOfTile(tile));
  return page;
}

void CChannelPages::assign(int tile, int channel) {
  if (tile < 0 || tile >= tiles_) return;
  if (channel < 0 || channel >= kMaxChannels) channel = -1;
  const size_t index = static_cast<size_t>(page_ * tiles_ + tile);
  if (index >= channels_.size()) channels_.resize(index + 1, -1);
  channels_[index] = channel;
  explicit_ = true;
}

int CChannelPages::tileOfChannel(int channel) const {
  if (channel < 0) return -1;
  for (int tile = 0; tile < tiles_; ++tile) {
    if (channelOfTile(tile) == channel) return tile;
  }
  return -1;
}

uint32_t CChannelPages::pageMask() const {
  uint32_t mask = 0;
  for (int channel : pageChannels()) {
    if (channel >= 0) mask |= 1u << channel;
  }
  return mask;
}

std::optional<std::vector<int>> parseChannelList(const std::string& text, std::string* error) {
  const auto fail = [&](const std::string& why) -> std::optional<std::vector<int>> {
    if (error != nullptr) *error = why;
    return std::nullopt;
  };
  std::vector<int> channels;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (item.empty() || item.size() > 2 ||
        !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return fail("channels are numbers from 1 to 16 (0: an empty tile), separated by commas");
    const int number = std::stoi(item);
    if (number > CChannelPages::kMaxChannels)
      return fail("channels are numbers from 1 to 16 (0: an empty tile), separated by commas");
    channels.push_back(number - 1);
    if (channels.size() > kMaxListEntries) return fail("at most 64 entries");
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return channels;
}

std::string formatChannelList(const std::vector<int>& channels) {
  std::string text;
  for (size_t i = 0; i < channels.size(); ++i) {
    if (i != 0) text += ',';
    text += std::to_string(channels[i] + 1);
  }
  return text;
}
