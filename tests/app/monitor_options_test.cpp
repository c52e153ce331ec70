// The monitor window's options: read, bounded, and refused without --monitor or beside the
// compact window's own options.
#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {
bool parse(const std::vector<std::string>& args, CommandLineOptions* options, std::string* error) {
  return parseCommandLine(args, options, error);
}

TEST(MonitorOptions, AreRead) {
  CommandLineOptions o;
  std::string error;
  ASSERT_TRUE(
      parse({"--monitor", "--grid", "1+5", "--channels", "3,1,0,16", "--focus", "6", "--tile-fps",
             "5", "--page-tour=2.5", "--geometry", "1280x720", "--channel", "3"},
            &o, &error))
      << error;
  EXPECT_TRUE(o.monitor);
  EXPECT_EQ(o.grid, "1+5");
  EXPECT_EQ(o.monitorChannels, (std::vector<int>{2, 0, -1, 15}));
  EXPECT_EQ(o.focusTile, 6);
  EXPECT_EQ(o.tileFps, 5);
  EXPECT_DOUBLE_EQ(o.pageTourSeconds, 2.5);
  EXPECT_EQ(o.geometryWidth, 1280);
  EXPECT_EQ(o.geometryHeight, 720);
  EXPECT_EQ(o.channel, 3);
}

TEST(MonitorOptions, BadValuesAndCombinationsAreRefusedWithOneLine) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--grid", "4"}, "--grid needs --monitor"},
      {{"--channels", "1,2"}, "--channels needs --monitor"},
      {{"--monitor", "--grid", "6"}, "1, 4, 9, 16, 1+5 or 1+7"},
      {{"--monitor", "--channels", "1,,2"}, "separated by commas"},
      {{"--monitor", "--channels", "17"}, "from 1 to 16"},
      {{"--monitor", "--focus", "5", "--grid", "4"}, "beyond the grid's 4 tiles"},
      {{"--monitor", "--focus", "0"}, "from 1 to 16"},
      {{"--monitor", "--tile-fps", "0"}, "from 1 to 100"},
      {{"--monitor", "--geometry", "1280"}, "WIDTHxHEIGHT"},
      {{"--monitor", "--geometry", "100x100"}, "WIDTHxHEIGHT"},
      {{"--monitor", "--geometry", "1280x-7"}, "WIDTHxHEIGHT"},
      {{"--monitor", "--page-tour", "0.1"}, "seconds must be"},
      {{"--monitor", "--tour", "5"}, "--tour is for the compact window"},
      {{"--monitor", "--record", "a.mkv"}, "--record is for the compact window"},
  };
  for (const auto& [args, expected] : cases) {
    CommandLineOptions o;
    std::string error;
    EXPECT_FALSE(parse(args, &o, &error)) << args.back();
    EXPECT_NE(error.find(expected), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}
}  // namespace
