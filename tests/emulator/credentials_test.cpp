// The configured account: where its password comes from, what is refused, what is warned
// about, and the slow-down after failed logins.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "emulator_config.h"
#include "login_throttle.h"
#include "scripted_viewer.h"

using dvremu::LoginThrottle;
using dvremu::parseCommandLine;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class PasswordFile {
 public:
  PasswordFile(const std::string& contents, fs::perms perms) {
    char pattern[] = "/tmp/pv-emu-pw-XXXXXX";
    const int fd = ::mkstemp(pattern);
    path_ = pattern;
    ::close(fd);
    std::ofstream(path_, std::ios::binary) << contents;
    fs::permissions(path_, perms);
  }
  ~PasswordFile() { fs::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

constexpr auto kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;

}  // namespace

TEST(emulatorCredentials, PasswordFromAFileOrTheEnvironment) {
  {
    PasswordFile file("s3cret\nsecond line\n", kOwnerOnly);
    const auto parsed = parseCommandLine({"--user", "demo", "--password-file", file.path()});
    ASSERT_TRUE(parsed.error.empty()) << parsed.error;
    EXPECT_EQ(parsed.config.accounts[0].password, "s3cret");
    EXPECT_TRUE(parsed.warnings.empty());
  }
  {
    PasswordFile file("s3cret\r\n", kOwnerOnly | fs::perms::others_read);
    const auto parsed = parseCommandLine({"--password-file", file.path()});
    ASSERT_TRUE(parsed.error.empty()) << parsed.error;
    EXPECT_EQ(parsed.config.accounts[0].password, "s3cret");
    ASSERT_EQ(parsed.warnings.size(), 1u);
    EXPECT_NE(parsed.warnings[0].find("other users"), std::string::npos);
  }
  ASSERT_EQ(::setenv("DVR_EMULATOR_PASSWORD", "fromenv", 1), 0);
  EXPECT_EQ(parseCommandLine({}).config.accounts[0].password, "fromenv");
  EXPECT_EQ(parseCommandLine({"--password", "given"}).config.accounts[0].password, "given");
  ASSERT_EQ(::setenv("DVR_EMULATOR_PASSWORD", "", 1), 0);
  EXPECT_FALSE(parseCommandLine({}).error.empty());
  ::unsetenv("DVR_EMULATOR_PASSWORD");
  EXPECT_EQ(parseCommandLine({}).config.accounts[0].password, "admin");
}

TEST(emulatorCredentials, PasswordsALoginCannotCarryAreRefused) {
  PasswordFile empty("\nsecond\n", kOwnerOnly);
  PasswordFile nul(std::string("ab\0cd\n", 6), kOwnerOnly);
  PasswordFile fine("ok\n", kOwnerOnly);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--password", ""},
        {"--account", "guest:"},
        {"--password", std::string(33, 'p')},
        {"--user", std::string(33, 'u')},
        {"--password-file", empty.path()},
        {"--password-file", nul.path()},
        {"--password-file", "/nonexistent/pv-password"},
        {"--password-file", "/tmp"},
        {"--password-file", fine.path(), "--password", "x"}}) {
    const auto parsed = parseCommandLine(args);
    EXPECT_FALSE(parsed.error.empty()) << args[0] << " " << args[1];
  }
  EXPECT_TRUE(parseCommandLine({"--password", std::string(32, 'p')}).error.empty());
}

TEST(emulatorCredentials, WarnsWhenTheWellKnownAccountListensBeyondLoopback) {
  EXPECT_TRUE(parseCommandLine({"--listen", "127.0.0.1:0"}).warnings.empty());
  const auto open = parseCommandLine({"--listen", "0.0.0.0:0"});
  ASSERT_EQ(open.warnings.size(), 1u);
  EXPECT_NE(open.warnings[0].find("admin/admin"), std::string::npos);
  EXPECT_EQ(parseCommandLine({"--listen", "0.0.0.0:0", "--account", "admin:admin"}).warnings.size(),
            2u);
  EXPECT_TRUE(parseCommandLine({"--listen", "0.0.0.0:0", "--password", "x"}).warnings.empty());
}

TEST(emulatorCredentials, ThrottleSpacesAttemptsAfterAFewFailuresPerHost) {
  LoginThrottle throttle;
  const auto t0 = LoginThrottle::Clock::time_point{} + 1h;
  for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
    EXPECT_EQ(throttle.reserve("10.0.0.1", t0), t0) << "typo " << i;
    throttle.recordFailure("10.0.0.1", t0);
  }
  // The next attempt waits; so do attempts on parallel connections, one after the other.
  const auto first = throttle.reserve("10.0.0.1", t0);
  const auto second = throttle.reserve("10.0.0.1", t0);
  EXPECT_EQ(first, t0 + LoginThrottle::kFirstDelay);
  EXPECT_EQ(second, first + LoginThrottle::kFirstDelay);
  EXPECT_EQ(throttle.reserve("10.0.0.2", t0), t0);  // other hosts are not held up
  // Each failure doubles the wait, up to the ceiling.
  EXPECT_EQ(LoginThrottle::delayAfter(4), 2 * LoginThrottle::kFirstDelay);
  EXPECT_EQ(LoginThrottle::delayAfter(500), LoginThrottle::kMaxDelay);
  // A success forgets the host, and so does a quiet minute.
  throttle.recordSuccess("10.0.0.1");
  EXPECT_EQ(throttle.reserve("10.0.0.1", t0), t0);
  for (int i = 0; i < 5; ++i) throttle.recordFailure("10.0.0.3", t0);
  EXPECT_GT(throttle.reserve("10.0.0.3", t0), t0);
  const auto later = t0 + LoginThrottle::kForgetAfter + LoginThrottle::kMaxDelay * 4;
  EXPECT_EQ(throttle.reserve("10.0.0.3", later), later);
}

TEST(emulatorCredentials, GuessesOnTheControlPortAreSlowedDown) {
  emutest::RunningEmulator dvr;
  for (int i = 0; i < LoginThrottle::kFreeFailures; ++i) {
    emutest::ScriptedConnection guess(dvr.port());
    EXPECT_EQ(guess.login("demo", "guess"), 2052);
  }
  const auto begin = std::chrono::steady_clock::now();
  emutest::ScriptedConnection guess(dvr.port());
  EXPECT_EQ(guess.login("demo", "guess"), 2052);
  // The wait runs from the last failure, which the DVR noted just before its reply reached us.
  EXPECT_GE(std::chrono::steady_clock::now() - begin, LoginThrottle::kFirstDelay * 4 / 5);
  // The right password still gets in after its wait, and clears the slate.
  emutest::ScriptedConnection owner(dvr.port());
  EXPECT_EQ(owner.login("demo", "demo"), 1);
  const auto now = LoginThrottle::Clock::now();
  EXPECT_EQ(dvr.emulator().core().throttle().reserve("127.0.0.1", now), now);
}
