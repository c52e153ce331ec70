// The viewer's command line: options, their checks, and the password sources.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/command_line.h"
#include "app/password_source.h"

namespace {

CommandLineOptions parsed(const std::vector<std::string>& args) {
  CommandLineOptions options;
  std::string error;
  EXPECT_TRUE(parseCommandLine(args, &options, &error)) << error;
  return options;
}

std::string refusal(const std::vector<std::string>& args) {
  CommandLineOptions options;
  std::string error;
  EXPECT_FALSE(parseCommandLine(args, &options, &error));
  return error;
}

TEST(CommandLine, KioskOptionsAreRead) {
  const auto o = parsed({"--connect",
                         "dvr.example:9100",
                         "--user",
                         "guard",
                         "--password-file",
                         "/tmp/pw",
                         "--channel",
                         "16",
                         "--audio",
                         "--fullscreen",
                         "--tour=7.5",
                         "--link-timeout",
                         "5",
                         "--zoom",
                         "3",
                         "--data-dir",
                         "/d",
                         "--audio-out",
                         "a.wav",
                         "--quit-after",
                         "2",
                         "--record",
                         "c.mkv",
                         "--capture-dir",
                         "/pics",
                         "--screenshot",
                         "s.png",
                         "-v"});
  EXPECT_EQ(o.host, "dvr.example");
  EXPECT_EQ(o.port, 9100);
  EXPECT_EQ(o.user, "guard");
  EXPECT_EQ(o.passwordFile, "/tmp/pw");
  EXPECT_EQ(o.channel, 16);
  EXPECT_TRUE(o.audio && o.fullScreen && o.verbose);
  EXPECT_DOUBLE_EQ(o.tourSeconds, 7.5);
  EXPECT_DOUBLE_EQ(o.linkTimeoutSeconds, 5);
  EXPECT_EQ(o.zoom, 3);
  EXPECT_EQ(o.dataDir, "/d");
  EXPECT_EQ(o.audioOut, "a.wav");
  EXPECT_DOUBLE_EQ(o.quitAfterSeconds, 2);
  EXPECT_EQ(o.screenshot, "s.png");
  EXPECT_EQ(o.record, "c.mkv");
  EXPECT_EQ(o.captureDir, "/pics");
}

TEST(CommandLine, DefaultsWithoutArguments) {
  const auto o = parsed({});
  EXPECT_TRUE(o.host.empty());
  EXPECT_DOUBLE_EQ(o.linkTimeoutSeconds, 20);
  EXPECT_EQ(o.channel, 0);
  EXPECT_FALSE(o.demo);
}

TEST(CommandLine, HostAndPortForms) {
  struct Case {
    std::string text;
    bool ok;
    std::string host;
    uint16_t port;
  };
  const Case cases[] = {
      {"10.0.0.5", true, "10.0.0.5", kDefaultDvrPort},
      {"10.0.0.5:1", true, "10.0.0.5", 1},
      {"host:65535", true, "host", 65535},
      {"[::1]:9000", true, "::1", 9000},
      {"::1", true, "::1", kDefaultDvrPort},
      {"host:0", false, "", 0},
      {"host:65536", false, "", 0},
      {"host:", false, "", 0},
      {":9000", false, "", 0},
      {"host:90a", false, "", 0},
      {"ho st", false, "", 0},
      {"[::1", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    std::string host;
    uint16_t port = 0;
    EXPECT_EQ(parseHostPort(c.text, &host, &port), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(host, c.host) << c.text;
      EXPECT_EQ(port, c.port) << c.text;
    }
  }
}

TEST(CommandLine, BadInputIsRefusedWithOneLine) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--bogus"},
           {"--channel", "0"},
           {"--channel", "17"},
           {"--channel", "3x"},
           {"--channel"},
           {"--zoom", "5"},
           {"--tour", "-1"},
           {"--tour", "nan"},
           {"--link-timeout", "0"},
           {"--quit-after", "1e400"},
           {"--connect", "a:b"},
           {"--audio=yes"},
           {"--connect", "x", "--demo"},
       }) {
    const std::string error = refusal(args);
    EXPECT_FALSE(error.empty()) << args[0];
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(CommandLine, PasswordIsNeverAnArgument) {
  EXPECT_NE(refusal({"--password", "secret"}).find("--password-file"), std::string::npos);
  EXPECT_NE(refusal({"--password=secret"}).find("never"), std::string::npos);
  // The refusal never repeats the password.
  EXPECT_EQ(refusal({"--password=secret"}).find("secret"), std::string::npos);
}

TEST(PasswordSource, FileFirstLineAndEnvironment) {
  char path[] = "/tmp/pv-password-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "s3cret\r\nignored\n", 16), 16);
  close(fd);
  ::chmod(path, 0600);
  PasswordResult read = readPassword(path);
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.password, "s3cret");
  EXPECT_TRUE(read.warning.empty());

  ::chmod(path, 0644);
  read = readPassword(path);
  EXPECT_TRUE(read.ok);
  EXPECT_NE(read.warning.find("other users"), std::string::npos);

  std::ofstream(path, std::ios::trunc) << "\nsecond line\n";
  read = readPassword(path);
  EXPECT_FALSE(read.ok);
  std::remove(path);

  read = readPassword(path);  // gone
  EXPECT_FALSE(read.ok);
  EXPECT_NE(read.error.find(path), std::string::npos);

  setenv("PELLOXVIEW_PASSWORD", "from-env", 1);
  read = readPassword("");
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.password, "from-env");
  unsetenv("PELLOXVIEW_PASSWORD");
  EXPECT_FALSE(readPassword("").ok);
}

}  // namespace

#include <QDir>
#include <QTemporaryDir>

#include "app/window_zoom.h"
#include "platform/data_directory.h"

namespace {

TEST(WindowZoom, RememberedBetweenRunsAndBadFilesIgnored) {
  QTemporaryDir dir;
  platform::setDataDirectoryOverride(dir.path());
  EXPECT_EQ(rememberedZoom(), 0);
  EXPECT_TRUE(rememberZoom(3));
  EXPECT_EQ(rememberedZoom(), 3);
  EXPECT_FALSE(rememberZoom(5));
  EXPECT_EQ(rememberedZoom(), 3);
  QFile file(dir.filePath("pelloxview.conf"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("zoom=9\n");
  file.close();
  EXPECT_EQ(rememberedZoom(), 0);
  platform::setDataDirectoryOverride(QString());
}

}  // namespace
