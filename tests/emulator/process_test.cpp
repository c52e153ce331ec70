// The program itself: the ready line on standard output, commands on standard input, a clean
// stop.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "protocol/command_codes.h"
#include "scripted_viewer.h"

namespace {

const std::string kProgram = std::string(PV_BINARY_DIR) + "/tools/dvr-emulator/dvr-emulator";

class ChildEmulator {
 public:
  explicit ChildEmulator(std::vector<std::string> args) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      const int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 2);
      std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(kProgram.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~ChildEmulator() {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdin_ >= 0) ::close(stdin_);
    if (stdout_ >= 0) ::close(stdout_);
  }
  std::string readLine(int timeoutMs = 10000) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{stdout_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c;
      if (::read(stdout_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return line;
  }
  void write(const std::string& text) {
    [[maybe_unused]] auto n = ::write(stdin_, text.data(), text.size());
  }
  // Exit status within timeoutMs, -1 if it is still running.
  int wait(int timeoutMs) {
    for (int i = 0; i < timeoutMs / 20; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(20000);
    }
    return -1;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1;
  bool reaped_ = false;
};

}  // namespace

TEST(emulatorProgram, PrintsTheReadyLineTakesCommandsAndQuits) {
  if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << "dvr-emulator not built";
  ChildEmulator child({"--listen", "127.0.0.1:0", "--user", "demo", "--password", "demo"});
  const std::string ready = child.readLine();
  ASSERT_EQ(ready.rfind("listening on 127.0.0.1:", 0), 0u) << ready;
  const int port = std::stoi(ready.substr(ready.rfind(':') + 1));
  ASSERT_GT(port, 0);
  emutest::ScriptedConnection viewer(static_cast<uint16_t>(port));
  EXPECT_EQ(viewer.login("demo", "demo"), 1);
  child.write("stats\n");
  std::string line;
  bool sawSessions = false;
  for (int i = 0; i < 40 && !sawSessions; ++i)
    sawSessions = child.readLine(2000).find("sessions 1") != std::string::npos;
  EXPECT_TRUE(sawSessions);
  child.write("quit\n");
  EXPECT_EQ(child.wait(5000), 0);
}

TEST(emulatorProgram, StopsOnSigtermAndAnswersHelpAndVersion) {
  if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << "dvr-emulator not built";
  {
    ChildEmulator child({"--listen", "127.0.0.1:0", "--no-stdin"});
    ASSERT_EQ(child.readLine().rfind("listening on", 0), 0u);
    ::kill(child.pid(), SIGTERM);
    EXPECT_EQ(child.wait(5000), 0);
  }
  {
    ChildEmulator child({"--version"});
    EXPECT_EQ(child.readLine(), "dvr-emulator 1.0");
    EXPECT_EQ(child.wait(5000), 0);
  }
  {
    ChildEmulator child({"--listen", "bad"});
    EXPECT_EQ(child.wait(5000), 2);
  }
}
