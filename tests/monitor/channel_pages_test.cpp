#include "monitor/channel_pages.h"

#include <gtest/gtest.h>

namespace {
TEST(ChannelPages, DefaultListIsTheEnabledChannelsInPages) {
  CChannelPages pages;
  pages.setTilesPerPage(4);
  pages.setDefaultChannels(16, 0x0022);  // channels 2 and 6 masked
  EXPECT_EQ(pages.pageCount(), 4);       // 14 channels
  EXPECT_EQ(pages.pageChannels(), (std::vector<int>{0, 2, 3, 4}));
  EXPECT_EQ(pages.pageMask(), 0x1Du);
  ASSERT_TRUE(pages.previousPage());  // wraps to the last page: 2 channels and 2 empty tiles
  EXPECT_EQ(pages.pageChannels(), (std::vector<int>{14, 15, -1, -1}));
  EXPECT_EQ(pages.pageMask(), 0xC000u);
  ASSERT_TRUE(pages.nextPage());
  EXPECT_EQ(pages.page(), 0);
}

TEST(ChannelPages, ExplicitListIsKeptOverTheDvrDefault) {
  CChannelPages pages;
  pages.setTilesPerPage(4);
  pages.setChannels({2, 0, 3, 1});
  pages.setDefaultChannels(4, 0);
  EXPECT_EQ(pages.pageChannels(), (std::vector<int>{2, 0, 3, 1}));
  EXPECT_EQ(pages.tileOfChannel(3), 2);
  EXPECT_FALSE(pages.nextPage());  // one page only
}

TEST(ChannelPages, AssignGrowsTheListOnLaterPagesAndLayoutChangesKeepTheFirstTile) {
  CChannelPages pages;
  pages.setTilesPerPage(4);
  pages.setDefaultChannels(6, 0);
  ASSERT_TRUE(pages.nextPage());
  pages.assign(3, 9);  // tile 4 of page 2 is entry 8
  EXPECT_EQ(pages.channels(), (std::vector<int>{0, 1, 2, 3, 4, 5, -1, 9}));
  pages.assign(0, 40);  // no such channel: the tile is emptied
  EXPECT_EQ(pages.channelOfTile(0), -1);
  pages.setTilesPerPage(1);  // entry 4 was on screen first: it stays on screen
  EXPECT_EQ(pages.page(), 4);
  pages.setTilesPerPage(16);
  EXPECT_EQ(pages.page(), 0);
  EXPECT_EQ(pages.channelOfTile(15), -1);
  EXPECT_EQ(pages.channelOfTile(16), -1);  // past the page
}

TEST(ChannelList, ParsesOneBasedNumbersAndRefusesTheRest) {
  std::string error;
  EXPECT_EQ(parseChannelList("3,1,4,2", &error), (std::vector<int>{2, 0, 3, 1}));
  EXPECT_EQ(parseChannelList("16,0,1", &error), (std::vector<int>{15, -1, 0}));
  for (const char* bad : {"", ",", "1,", "1,,2", "17", "-1", "1 ,2", "0x3", "a", "100"}) {
    error.clear();
    EXPECT_FALSE(parseChannelList(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EXPECT_EQ(formatChannelList({2, -1, 15}), "3,0,16");
  std::string longList = "1";
  for (int i = 0; i < 64; ++i) longList += ",1";
  EXPECT_FALSE(parseChannelList(longList, &error));
}
}  // namespace
