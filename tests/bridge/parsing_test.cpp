// The bridge's own parsing of untrusted or user-given text: settings, request paths, users.
#include <gtest/gtest.h>

#include "bridge/auth_users.h"
#include "bridge/bridge_options.h"
#include "bridge/request_target.h"

namespace {

bool noFiles(const std::string&, std::string*, std::string* error) {
  *error = "no files here";
  return false;
}

}  // namespace

TEST(BridgeOptions, CommandLineOverridesTheConfigFileWhereverConfigStands) {
  static std::string config;
  config =
      "# bridge for the shop\n"
      "connect = 10.0.0.5:9100\n"
      "user = watcher\n"
      "  http = 0.0.0.0:8081  \n"
      "channels = 1, 3\n"
      "no-auth = true\n"
      "\n";
  const FileReader reader = [](const std::string& path, std::string* text, std::string*) {
    EXPECT_EQ(path, "/etc/b.conf");
    *text = config;
    return true;
  };
  BridgeOptions options;
  const OptionsResult result =
      parseBridgeArguments({"--channels", "2", "--config", "/etc/b.conf", "-v"}, &options, reader);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(options.dvrAddress, "10.0.0.5");
  EXPECT_EQ(options.dvrPort, 9100);
  EXPECT_EQ(options.http.host, "0.0.0.0");
  EXPECT_EQ(options.http.port, 8081);
  EXPECT_EQ(options.channelMask, 0x2u);  // the command line's, though it came first
  EXPECT_TRUE(options.noAuth);
  EXPECT_TRUE(options.verbose);
  EXPECT_TRUE(checkBridgeOptions(options).ok);

  config = "connect = dvr\nbogus = 1\n";
  BridgeOptions other;
  const OptionsResult bad = parseBridgeArguments({"--config", "/etc/b.conf"}, &other, reader);
  EXPECT_FALSE(bad.ok);
  EXPECT_NE(bad.error.find("line 2"), std::string::npos) << bad.error;
  EXPECT_FALSE(parseBridgeArguments({"--config", "/x"}, &other, noFiles).ok);
  EXPECT_FALSE(parseBridgeConfig("connect\n", &other).ok);
  EXPECT_FALSE(parseBridgeConfig("config = /etc/other\n", &other).ok);  // no nesting
}

TEST(BridgeOptions, DefaultsAndWhatMustHoldTogether) {
  BridgeOptions options;
  ASSERT_TRUE(
      parseBridgeArguments({"--connect", "dvr.local", "--user", "u"}, &options, noFiles).ok);
  EXPECT_EQ(options.dvrPort, kDefaultDvrPort);
  EXPECT_EQ(options.http.host, "127.0.0.1");
  EXPECT_EQ(options.http.port, 8080);
  EXPECT_TRUE(checkBridgeOptions(options).ok);

  // A non-loopback address needs users or an explicit --no-auth, never both.
  ASSERT_TRUE(parseBridgeArguments({"--http", "192.168.1.2:80"}, &options, noFiles).ok);
  EXPECT_FALSE(checkBridgeOptions(options).ok);
  options.authFile = "/etc/users";
  EXPECT_TRUE(checkBridgeOptions(options).ok);
  options.noAuth = true;
  EXPECT_FALSE(checkBridgeOptions(options).ok);
  options.authFile.clear();
  EXPECT_TRUE(checkBridgeOptions(options).ok);
  ASSERT_TRUE(parseBridgeArguments({"--http", "127.8.9.1:80"}, &options, noFiles).ok);
  options.noAuth = false;
  EXPECT_TRUE(checkBridgeOptions(options).ok);

  // A mistyped option is named as unknown, whether or not a value follows it.
  for (const std::vector<std::string>& typo :
       {std::vector<std::string>{"--quit"}, std::vector<std::string>{"--htpp", "x:1"}}) {
    const OptionsResult result = parseBridgeArguments(typo, &options, noFiles);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "unknown option '" + typo[0] + "'");
  }
  EXPECT_EQ(parseBridgeArguments({"--rtsp"}, &options, noFiles).error, "--rtsp needs a value");

  BridgeOptions missing;
  EXPECT_FALSE(checkBridgeOptions(missing).ok);
  missing.dvrAddress = "dvr";
  EXPECT_FALSE(checkBridgeOptions(missing).ok);

  // The password never goes on a command line, and a bad one isn't echoed back.
  const OptionsResult password =
      parseBridgeArguments({"--password", "hunter22"}, &options, noFiles);
  EXPECT_FALSE(password.ok);
  EXPECT_EQ(password.error.find("hunter22"), std::string::npos);
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--connect"},
                                              {"--connect", "a b"},
                                              {"--connect", "dvr:0"},
                                              {"--connect", "dvr:70000"},
                                              {"--grace", "-1"},
                                              {"--max-clients", "0"},
                                              {"stray"},
                                              {"--http", "8080"},
                                              {"--http", "::1:80"},
                                              {"--http", "host.example:80"},
                                              {"--http", "127.0.0.1:65536"},
                                              {"--no-such-option", "1"}}) {
    BridgeOptions scratch;
    EXPECT_FALSE(parseBridgeArguments(bad, &scratch, noFiles).ok) << bad[0];
  }
}

TEST(BridgeOptions, ChannelLists) {
  uint32_t mask = 0;
  EXPECT_TRUE(parseChannelList("1,16", &mask));
  EXPECT_EQ(mask, 0x8001u);
  EXPECT_TRUE(parseChannelList("3", &mask));
  EXPECT_EQ(mask, 0x4u);
  for (const char* bad : {"", "0", "17", "1,,2", "1,", "-1", "1;2", "a", "99999999999"}) {
    mask = 7;
    EXPECT_FALSE(parseChannelList(bad, &mask)) << bad;
    EXPECT_EQ(mask, 7u) << bad;
  }
}

TEST(RequestTarget, OnlyTheExactFormsAreKnown) {
  EXPECT_EQ(parseRequestTarget("/").kind, RequestKind::Page);
  EXPECT_EQ(parseRequestTarget("/status.json").kind, RequestKind::Status);
  EXPECT_EQ(parseRequestTarget("/metrics").kind, RequestKind::Metrics);
  const RequestTarget first = parseRequestTarget("/channels/1.mjpg");
  EXPECT_EQ(first.kind, RequestKind::Stream);
  EXPECT_EQ(first.channel, 0);
  const RequestTarget last = parseRequestTarget("/channels/16.jpg?t=123");
  EXPECT_EQ(last.kind, RequestKind::Snapshot);
  EXPECT_EQ(last.channel, 15);
  for (const char* unknown :
       {"", "/channels/0.jpg", "/channels/17.jpg", "/channels/01.jpg", "/channels/100.jpg",
        "/channels/1.mjpgx", "/channels/1.JPG", "/channels//1.jpg", "/channels/.jpg", "/channels/1",
        "/status.json/", "//", "/../status.json", "/channels/1.jpg/../2.jpg"}) {
    EXPECT_EQ(parseRequestTarget(unknown).kind, RequestKind::Unknown) << unknown;
  }
}

TEST(AuthUsers, AdmitsOnlyAWholeMatch) {
  CAuthUsers users;
  std::string error;
  ASSERT_TRUE(users.parse("# dashboard\nhome:pass:with:colons\r\n\nnvr:x\n", &error)) << error;
  EXPECT_TRUE(users.admits("home", "pass:with:colons"));
  EXPECT_TRUE(users.admits("nvr", "x"));
  EXPECT_FALSE(users.admits("home", "pass"));  // a prefix of the password
  EXPECT_FALSE(users.admits("home", "pass:with:colonsX"));
  EXPECT_FALSE(users.admits("nvr", "pass:with:colons"));  // another user's password
  EXPECT_FALSE(users.admits("", ""));

  for (const char* bad : {"", "# only comments\n", "secretline\n", ":nouser\n", "user:\n"}) {
    CAuthUsers rejected;
    error.clear();
    EXPECT_FALSE(rejected.parse(bad, &error)) << bad;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find("secretline"), std::string::npos);
    EXPECT_TRUE(rejected.empty());
  }
}
