// The grid against the emulator: each tile shows its own channel's picture, every channel comes
// over one control and one live-stream connection, pulled fairly.
#include <QCoreApplication>

#include "monitor/grid_layout.h"
#include "monitor/tile_widget.h"
#include "monitor_e2e/monitor_fixture.h"
#include "protocol/command_codes.h"

namespace monitor_e2e {
namespace {

// Tiles show the channels the list gives, each its own picture.
void expectTilesShow(CMonitorWindow& window, const std::vector<int>& channels, int dvrChannels) {
  for (int index = 0; index < static_cast<int>(channels.size()); ++index) {
    const CTileWidget* tile = window.tile(index);
    ASSERT_EQ(tile->channel(), channels[static_cast<size_t>(index)]);
    ASSERT_FALSE(tile->picture().isNull()) << "tile " << index;
    EXPECT_EQ(tile->picture().size(), tile->pictureRect().size());
    const auto match = identify(tile->picture(), dvrChannels);
    EXPECT_EQ(match.channel, channels[static_cast<size_t>(index)]) << "tile " << index;
    EXPECT_GT(match.margin, 1.2) << "tile " << index;
  }
}

TEST_F(MonitorTest, TwoByTwoShowsEachChannelOverOneLiveStreamFairly) {
  start();
  window().setGridLayout(GridLayout::Four);
  window().setChannels({2, 0, 3, 1});
  connectAndWait();
  ASSERT_TRUE(waitForPictures());
  expectTilesShow(window(), {2, 0, 3, 1}, 4);
  // Let the pulls run a while, checking that no channel ever has two requests out.
  for (int i = 0; i < 20; ++i) {
    waitFor([] { return false; }, 100);
    for (int channel = 0; channel < 4; ++channel) {
      const uint64_t asked = stats().channelRequests[static_cast<size_t>(channel)].load();
      const uint64_t served = stats().channelFrames[static_cast<size_t>(channel)].load();
      EXPECT_LE(asked, served + 1) << "channel " << channel;
    }
  }
  EXPECT_EQ(wire.connections("control"), 1u);
  EXPECT_EQ(wire.connections("live"), 1u);
  uint64_t fewest = UINT64_MAX, most = 0;
  for (int channel = 0; channel < 4; ++channel) {
    const uint64_t asked = stats().channelRequests[static_cast<size_t>(channel)].load();
    fewest = std::min(fewest, asked);
    most = std::max(most, asked);
  }
  EXPECT_GT(fewest, 5u);
  EXPECT_LE(most, 2 * fewest);
  // Only the channels on screen were started.
  for (const auto& body : wire.bodies(REQ_LIVESTART)) EXPECT_EQ(body.size(), 20u);
}

TEST_F(MonitorTest, SixteenTilesOnASixteenChannelDvr) {
  emulatorArgs = {"--channels", "16", "--fps", "4"};
  start();
  window().setGridLayout(GridLayout::Sixteen);
  connectAndWait();
  ASSERT_TRUE(waitForPictures(15000));
  std::vector<int> all;
  for (int channel = 0; channel < 16; ++channel) all.push_back(channel);
  expectTilesShow(window(), all, 16);
  EXPECT_EQ(wire.connections("live"), 1u);
}

TEST_F(MonitorTest, MixedJpegAndMpeg4Tiles) {
  emulatorArgs = {"--channel", "2:codec=mpeg4", "--channel", "4:codec=mpeg4"};
  start();
  window().setGridLayout(GridLayout::Four);
  connectAndWait();
  ASSERT_TRUE(waitForPictures(10000));
  expectTilesShow(window(), {0, 1, 2, 3}, 4);
}

// A DVR that starts only two of the four channels: the others say so on their tiles.
TEST_F(MonitorTest, PartialStartShowsNotAvailable) {
  emulatorArgs = {"--max-live-channels", "2"};
  start();
  window().setGridLayout(GridLayout::Four);
  uint32_t reported = 0;
  QObject::connect(&window(), &CMonitorWindow::channelsUnavailable,
                   [&](uint32_t mask) { reported |= mask; });
  connectAndWait();
  ASSERT_TRUE(waitFor([&] {
    int pictures = 0, unavailable = 0;
    for (int index = 0; index < 4; ++index) {
      pictures += window().tile(index)->picture().isNull() ? 0 : 1;
      unavailable += window().tile(index)->stateText() == QStringLiteral("Not available");
    }
    return pictures == 2 && unavailable == 2;
  })) << window().tile(2)->stateText().toStdString();
  EXPECT_EQ(__builtin_popcount(reported), 2);
}

TEST_F(MonitorTest, MaskedChannelInTheListIsNotAvailable) {
  emulatorArgs = {"--disabled-mask-b", "0x2"};  // channel 2 masked
  start();
  window().setGridLayout(GridLayout::Four);
  window().setChannels({1, 0, 2, 3});
  std::vector<uint32_t> reports;
  QObject::connect(&window(), &CMonitorWindow::channelsUnavailable,
                   [&](uint32_t mask) { reports.push_back(mask); });
  connectAndWait();
  ASSERT_TRUE(waitForPictures());
  EXPECT_EQ(window().tile(0)->stateText(), QStringLiteral("Not available"));
  EXPECT_TRUE(window().tile(0)->picture().isNull());
  EXPECT_EQ(reports, std::vector<uint32_t>{0x2u});  // once
  EXPECT_EQ(stats().channelRequests[1].load(), 0u);
  EXPECT_EQ(identify(window().tile(1)->picture(), 4).channel, 0);
}

TEST_F(MonitorTest, DoubleClickEnlargesOneTileAndBack) {
  start();
  window().setGridLayout(GridLayout::Four);
  connectAndWait();
  ASSERT_TRUE(waitForPictures());
  CTileWidget* second = window().tile(1);
  const QSize small = second->size();
  click(second, true);
  EXPECT_EQ(window().focusTile(), 1);
  EXPECT_EQ(window().enlargedTile(), 1);
  EXPECT_FALSE(window().tile(0)->isVisible());
  EXPECT_GT(second->width(), small.width() * 3 / 2);
  // The next picture is made for the large tile: larger than the DVR's, so it comes whole, as
  // decoded, for the tile to scale up as it paints.
  ASSERT_TRUE(waitFor([&] { return second->picture().size() == QSize(704, 480); }));
  ASSERT_GT(second->pictureRect().width(), 704);
  EXPECT_EQ(identify(second->picture(), 4).channel, 1);
  click(second, true);
  EXPECT_EQ(window().enlargedTile(), -1);
  EXPECT_TRUE(window().tile(0)->isVisible());
  EXPECT_EQ(second->size(), small);
  // Enter does the same for the focused tile.
  key(&window(), Qt::Key_Return, true);
  EXPECT_EQ(window().enlargedTile(), 1);
  key(&window(), Qt::Key_Escape, true);
  EXPECT_EQ(window().enlargedTile(), -1);
}

}  // namespace
}  // namespace monitor_e2e

namespace monitor_e2e {
namespace {

// --tile-fps: the tiles not focused get at most N pictures a second, the focused one all the
// DVR sends; the cap follows the focus.
TEST_F(MonitorTest, RateCapSparesTheFocusedTile) {
  emulatorArgs = {"--fps", "12", "--size", "352x240", "--preencode", "12"};  // cheap to serve
  start();
  window().setGridLayout(GridLayout::Four);
  window().setTileFps(2);
  connectAndWait();
  ASSERT_TRUE(waitForPictures());
  const auto served = [&](int channel) {
    return stats().channelFrames[static_cast<size_t>(channel)].load();
  };
  const auto before0 = served(0), before1 = served(1);
  waitFor([] { return false; }, 3000);
  const auto focused = served(0) - before0, capped = served(1) - before1;
  EXPECT_LE(capped, 9u);  // 2 a second, and one more at either end
  EXPECT_GT(focused, 2 * capped);
  click(window().tile(1));
  const auto after0 = served(0), after1 = served(1);
  waitFor([] { return false; }, 3000);
  EXPECT_LE(served(0) - after0, 9u);
  EXPECT_GT(served(1) - after1, 2 * (served(0) - after0));
}

}  // namespace
}  // namespace monitor_e2e
