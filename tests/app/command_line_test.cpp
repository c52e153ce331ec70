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

// Reconnecting needs a DVR whose password the run holds: the command line's or the demo's.
TEST(CommandLine, ReconnectGoesWithConnectOrDemo) {
  EXPECT_TRUE(parsed({"--connect", "dvr", "--reconnect"}).reconnect);
  const auto demo = parsed({"--demo", "--reconnect", "--reconnect-first-wait-ms", "50"});
  EXPECT_TRUE(demo.reconnect);
  EXPECT_EQ(demo.reconnectFirstWaitMs, 50);
  EXPECT_EQ(parsed({"--connect", "dvr"}).reconnectFirstWaitMs, 1000);
  EXPECT_NE(refusal({"--reconnect", "--channel", "2"}).find("--connect"), std::string::npos);
  EXPECT_FALSE(refusal({"--demo", "--reconnect-first-wait-ms", "0"}).empty());
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
      {"host:0", false, "", 0},
      {"host:65536", false, "", 0},
      {"host:", false, "", 0},
      {":9000", false, "", 0},
      {"host:90a", false, "", 0},
      {"ho st", false, "", 0},
      {"ho/st", false, "", 0},
      {"h\xc3\xb6st", false, "", 0},
      {"my-dvr_2.example", true, "my-dvr_2.example", kDefaultDvrPort},
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

// The DVR connections are IPv4 only: an IPv6 form could never connect, so it is refused as such.
TEST(CommandLine, Ipv6FormsAreRefusedAsSuch) {
  for (const char* text : {"[::1]:9000", "::1", "[fe80::1]", "fe80::1:9000", "[10.0.0.5]", "]"}) {
    std::string host;
    uint16_t port = 0;
    std::string why;
    EXPECT_FALSE(parseHostPort(text, &host, &port, &why)) << text;
    EXPECT_NE(why.find("IPv4 only"), std::string::npos) << text << ": " << why;
    EXPECT_NE(refusal({"--connect", text}).find("IPv6"), std::string::npos) << text;
  }
}

// Every seconds option becomes int milliseconds in a timer: the largest accepted value must fit.
TEST(CommandLine, SecondsOptionsAreBoundedSoTheirMillisecondsFit) {
  for (const std::string& option :
       std::vector<std::string>{"--quit-after", "--tour", "--link-timeout"}) {
    const auto o = parsed({option, "2147483"});
    const double seconds = option == "--quit-after" ? o.quitAfterSeconds
                           : option == "--tour"     ? o.tourSeconds
                                                    : o.linkTimeoutSeconds;
    EXPECT_DOUBLE_EQ(seconds, 2147483);
    EXPECT_LE(seconds * 1000, 2147483647.0);
    for (const char* value : {"2200000", "2147483.5", "1e7", "99999999999999999999"}) {
      const std::string error = refusal({option, value});
      EXPECT_NE(error.find("2147483"), std::string::npos)
          << option << " " << value << ": " << error;
    }
  }
  EXPECT_DOUBLE_EQ(parsed({"--tour", "0.5"}).tourSeconds, 0.5);
  EXPECT_DOUBLE_EQ(parsed({"--quit-after=12.25"}).quitAfterSeconds, 12.25);
}

// Numbers are plain decimals: what strtod or from_chars would also take is refused.
TEST(CommandLine, NumbersInOtherFormsAreRefused) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--tour", "0x10"},
           {"--tour", " 5"},
           {"--tour", "5 "},
           {"--tour", "+5"},
           {"--tour", "1e1"},
           {"--tour", "inf"},
           {"--tour", ".5"},
           {"--tour", "5."},
           {"--quit-after", "\t3"},
           {"--link-timeout", "0X1F"},
           {"--channel", " 5"},
           {"--channel", "+5"},
           {"--channel", "0x5"},
           {"--zoom", "-0"},
           {"--connect", "host: 9000"},
           {"--connect", "host:+9000"},
       }) {
    const std::string error = refusal(args);
    EXPECT_NE(error.find(args[0]), std::string::npos) << args[1] << ": " << error;
  }
}

TEST(CommandLine, ShortHelpIsAccepted) {
  EXPECT_TRUE(parsed({"-h"}).help);
  EXPECT_TRUE(parsed({"--help"}).help);
}

// The login body carries 32 printable ASCII bytes for the user ID: more or others are refused
// instead of being cut or changed on the wire.
TEST(CommandLine, UserIdMustFitTheLogin) {
  EXPECT_EQ(parsed({"--user", std::string(32, 'u')}).user, std::string(32, 'u'));
  EXPECT_NE(refusal({"--user", std::string(33, 'u')}).find("32"), std::string::npos);
  EXPECT_NE(refusal({"--user", "j\xe9r\xf4me"}).find("ASCII"), std::string::npos);
  EXPECT_NE(refusal({"--user", "a\tb"}).find("control"), std::string::npos);
}

// File names go to the file system byte for byte; folders, which pass through text paths, must
// be UTF-8 and are refused otherwise instead of being changed.
TEST(CommandLine, FileNamesKeepTheirBytes) {
  const std::string latin1 = "/tmp/caf\xe9";
  const auto o = parsed({"--record", latin1 + ".mkv", "--screenshot", latin1 + ".png",
                         "--audio-out", latin1 + ".wav", "--password-file", latin1});
  EXPECT_EQ(o.record, latin1 + ".mkv");
  EXPECT_EQ(o.screenshot, latin1 + ".png");
  EXPECT_EQ(o.audioOut, latin1 + ".wav");
  EXPECT_EQ(o.passwordFile, latin1);
  EXPECT_EQ(parsed({"--data-dir", "/tmp/caf\xc3\xa9"}).dataDir, "/tmp/caf\xc3\xa9");
  for (const char* option : {"--data-dir", "--capture-dir"}) {
    EXPECT_NE(refusal({option, latin1}).find("UTF-8"), std::string::npos);
    EXPECT_NE(refusal({option, "/tmp/\xc0\xaf"}).find("UTF-8"), std::string::npos);  // overlong
    EXPECT_NE(refusal({option, "/tmp/\xe2\x82"}).find("UTF-8"), std::string::npos);  // cut short
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
           {"--screenshot", "a\nb", "--zoom", "9"},
           {"--zoom", "a\nb"},
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

  // 32 bytes fill the login's password field exactly.
  std::ofstream(path, std::ios::trunc) << std::string(32, 'p') << "\n";
  read = readPassword(path);
  EXPECT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.password, std::string(32, 'p'));
  std::remove(path);

  setenv("PELLOXVIEW_PASSWORD", "from-env", 1);
  read = readPassword("");
  EXPECT_TRUE(read.ok);
  EXPECT_EQ(read.password, "from-env");
  unsetenv("PELLOXVIEW_PASSWORD");
  EXPECT_FALSE(readPassword("").ok);
}

// A password the login body can't carry is refused before any connect, in one line that never
// repeats it: a leading NUL (an empty password on the wire), bytes beyond ASCII (Latin-1 would
// otherwise be changed) and more than 32 bytes (otherwise cut).
TEST(PasswordSource, PasswordsTheLoginCannotCarryAreRefused) {
  char path[] = "/tmp/pv-password-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  const std::string cases[] = {std::string("\0secret\n", 8),
                               std::string("sec\0ret\n", 8),
                               "s\xe9\x63ret\n",
                               "s\xc3\xa9\x63ret\n",
                               std::string(33, 's') + "\n",
                               "sec\tret\n",
                               "sec\x7fret\n"};
  for (const std::string& content : cases) {
    std::ofstream(path, std::ios::trunc | std::ios::binary) << content;
    const PasswordResult read = readPassword(path);
    EXPECT_FALSE(read.ok) << content;
    EXPECT_TRUE(read.password.empty());
    EXPECT_NE(read.error.find("login carries 1 to 32 printable ASCII"), std::string::npos)
        << read.error;
    EXPECT_EQ(read.error.find('\n'), std::string::npos);
    EXPECT_EQ(read.error.find("ret"), std::string::npos) << read.error;
  }
  std::remove(path);
  for (const std::string& value : {std::string("s\xe9\x63ret"), std::string(33, 's')}) {
    setenv("PELLOXVIEW_PASSWORD", value.c_str(), 1);
    const PasswordResult read = readPassword("");
    EXPECT_FALSE(read.ok);
    EXPECT_NE(read.error.find("PELLOXVIEW_PASSWORD"), std::string::npos);
  }
  unsetenv("PELLOXVIEW_PASSWORD");
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
