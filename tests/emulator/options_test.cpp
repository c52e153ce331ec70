// Command-line options and control commands that are refused.
#include <gtest/gtest.h>

#include "command_interpreter.h"
#include "emulator_config.h"
#include "scripted_viewer.h"

using dvremu::parseCommandLine;

TEST(emulatorOptions, DemoCommandLineAndDefaults) {
  const auto parsed =
      parseCommandLine({"--listen", "127.0.0.1:0", "--user", "demo", "--password", "demo"});
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  const auto& c = parsed.config;
  EXPECT_EQ(c.listenAddress, "127.0.0.1");
  EXPECT_EQ(c.listenPort, 0);
  ASSERT_EQ(c.accounts.size(), 1u);
  EXPECT_EQ(c.accounts[0].user, "demo");
  EXPECT_EQ(c.accounts[0].password, "demo");
  EXPECT_GE(c.channelCount, 4);
  EXPECT_EQ(c.channels[0].width, 704);
  EXPECT_EQ(c.channels[0].height, 480);
  EXPECT_EQ(c.disabledMaskA, 0xFFF0u);  // the channels beyond the fourth
}

TEST(emulatorOptions, PerChannelSettingsAndAccounts) {
  const auto parsed = parseCommandLine({"--channels", "8", "--fps", "12", "--channel",
                                        "3:codec=mpeg4,size=352x288,fps=7", "--account", "guest:pw",
                                        "--account", "boss:secret:admin", "--admin"});
  ASSERT_TRUE(parsed.error.empty()) << parsed.error;
  const auto& c = parsed.config;
  EXPECT_EQ(c.channels[0].fps, 12);
  EXPECT_EQ(c.channels[2].codec, dvremu::VideoCodec::Mpeg4);
  EXPECT_EQ(c.channels[2].width, 352);
  EXPECT_EQ(c.channels[2].height, 288);
  EXPECT_EQ(c.channels[2].fps, 7);
  ASSERT_EQ(c.accounts.size(), 3u);
  EXPECT_TRUE(c.accounts[0].admin);
  EXPECT_FALSE(c.accounts[1].admin);
  EXPECT_TRUE(c.accounts[2].admin);
  EXPECT_EQ(c.disabledMaskA, 0xFF00u);
}

TEST(emulatorOptions, BadValuesAreRefusedWithAReason) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--listen", "nowhere"},
                                               {"--size", "720x480"},
                                               {"--channels", "17"},
                                               {"--channel", "0:fps=5"},
                                               {"--refuse-status", "1"},
                                               {"--fps"},
                                               {"--model", "TOOLONGID"},
                                               {"--account", "x"},
                                               {"--bogus"},
                                               {"--audio-codec", "mp3"},
                                               {"--live-close", "sometimes"},
                                               {"--audio-jitter", "1001"},
                                               {"--audio-jitter", "-5"},
                                               {"--audio-jitter", "40ms"},
                                               {"--live-jitter"}}) {
    EXPECT_FALSE(parseCommandLine(args).error.empty()) << args[0];
  }
  EXPECT_TRUE(parseCommandLine({"--help"}).showHelp);
  EXPECT_TRUE(parseCommandLine({"--version"}).showVersion);
}

// A paced channel waits 1/fps between frames in integer nanoseconds, which a rate near 0 overflows.
TEST(emulatorOptions, FrameRatesNearZeroAreRefused) {
  for (const std::string fps : {"1e-300", "0.000000000001", "0.0009"}) {
    EXPECT_NE(parseCommandLine({"--fps", fps}).error, "") << fps;
    EXPECT_NE(parseCommandLine({"--channel", "2:fps=" + fps}).error, "") << fps;
  }
  const auto slowest = parseCommandLine({"--fps", "0.001", "--channel", "2:fps=0"});
  ASSERT_EQ(slowest.error, "");
  EXPECT_EQ(slowest.config.channels[0].fps, 0.001);
  EXPECT_EQ(slowest.config.channels[1].fps, 0);
}

TEST(emulatorOptions, ControlCommandsRefuseNonsense) {
  emutest::RunningEmulator dvr;
  for (const char* line :
       {"fault any stall", "fault live explode", "fail RSP_NOPE", "refuse-next 1",
        "model ABCDEFGHIJ", "notice nothing", "drop", "livestop all", "frobnicate"}) {
    EXPECT_EQ(dvr.command(line).rfind("error", 0), 0u) << line;
  }
  EXPECT_TRUE(dvr.command("").empty());
  EXPECT_NE(dvr.command("help").find("refuse-next"), std::string::npos);
  EXPECT_NE(dvr.command("stats").find("frames 0"), std::string::npos);
}

TEST(emulatorOptions, JitterOptionsTakeMillisecondsUpToASecond) {
  const auto parsed =
      parseCommandLine({"--audio-jitter", "40", "--live-jitter", "1000", "--user", "u"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.config.audioJitterMs, 40);
  EXPECT_EQ(parsed.config.liveJitterMs, 1000);
  const auto defaults = parseCommandLine({});
  EXPECT_EQ(defaults.config.audioJitterMs, 0);
  EXPECT_EQ(defaults.config.liveJitterMs, 0);
  EXPECT_EQ(parseCommandLine({"--live-jitter", "2000"}).error,
            "--live-jitter needs milliseconds, 0..1000");
}
