// The control socket: made only where nothing else lives, removed only while it is still ours.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "command_input.h"
#include "scripted_viewer.h"

namespace fs = std::filesystem;

namespace {

class emulatorControlSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pv-ctlsock-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/dvr.sock";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A unix socket bound at path_; listening when asked, else left behind as by an ended run.
  int bindSocket(bool listening) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.c_str(), path_.size());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    if (listening) {
      EXPECT_EQ(::listen(fd, 1), 0);
    }
    return fd;
  }
  static std::string contents(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool isSocket(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
  }

  std::string dir_;
  std::string path_;
};

}  // namespace

TEST_F(emulatorControlSocket, NeverReplacesAFileALinkOrASocketInUse) {
  emutest::RunningEmulator dvr;
  {
    std::ofstream(path_) << "precious";
    dvremu::CommandInput input(dvr.emulator());
    std::string error;
    EXPECT_FALSE(input.start(-1, -1, path_, &error));
    EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
    input.stop();
    EXPECT_EQ(contents(path_), "precious");
    fs::remove(path_);
  }
  {
    const std::string target = dir_ + "/target";
    std::ofstream(target) << "precious";
    fs::create_symlink(target, path_);
    dvremu::CommandInput input(dvr.emulator());
    std::string error;
    EXPECT_FALSE(input.start(-1, -1, path_, &error));
    input.stop();
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(contents(target), "precious");
    fs::remove(path_);
  }
  {
    const int other = bindSocket(true);  // another emulator serves this path
    dvremu::CommandInput input(dvr.emulator());
    std::string error;
    EXPECT_FALSE(input.start(-1, -1, path_, &error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    input.stop();
    EXPECT_TRUE(isSocket(path_));
    ::close(other);
  }
}

TEST_F(emulatorControlSocket, ReplacesAStaleSocketAndRemovesOnlyItsOwn) {
  emutest::RunningEmulator dvr;
  ::close(bindSocket(false));  // left behind by a run that ended
  {
    dvremu::CommandInput input(dvr.emulator());
    std::string error;
    ASSERT_TRUE(input.start(-1, -1, path_, &error)) << error;
    EXPECT_TRUE(isSocket(path_));
    input.stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
  }
  {
    dvremu::CommandInput input(dvr.emulator());
    std::string error;
    ASSERT_TRUE(input.start(-1, -1, path_, &error)) << error;
    // Someone else put a file there while it ran: it stays.
    fs::remove(path_);
    std::ofstream(path_) << "theirs";
    input.stop();
    EXPECT_EQ(contents(path_), "theirs");
  }
}
