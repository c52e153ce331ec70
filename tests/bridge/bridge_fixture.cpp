#include "bridge_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

CBridgeDvr::CBridgeDvr(const std::vector<std::string>& extra) {
  std::vector<std::string> args{"--listen",    "127.0.0.1:0",
                                "--user",      "demo",
                                "--password",  "demo",
                                "--fps",       "25",
                                "--account",   std::string("watcher:") + kBridgePassword,
                                "--channel",   "2:codec=mpeg4",
                                "--preencode", "25"};
  args.insert(args.end(), extra.begin(), extra.end());
  const auto parsed = dvremu::parseCommandLine(args);
  EXPECT_TRUE(parsed.error.empty()) << parsed.error;
  emulator_ = std::make_unique<dvremu::DvrEmulator>(parsed.config);
  emulator_->core().log().setWireSink([this](const dvremu::WireEvent& event) {
    std::lock_guard lock(mutex_);
    if (event.kind == "control") received_.insert(event.command);
  });
  std::string error;
  EXPECT_TRUE(emulator_->start(&error)) << error;
}

CBridgeDvr::~CBridgeDvr() {
  emulator_->stop();
}

bool CBridgeDvr::received(uint32_t command) {
  std::lock_guard lock(mutex_);
  return received_.count(command) != 0;
}

int CBridgeDvr::connections(dvremu::ConnectionKind kind) {
  int count = 0;
  for (const auto& connection : emulator_->core().connections()) {
    if (connection && !connection->isShutdown() && connection->kind() == kind) ++count;
  }
  return count;
}

std::string CBridgeProcess::passwordFile() {
  static const std::string path = [] {
    const std::string file =
        QDir::tempPath().toStdString() + "/pv-bridge-pw-" + std::to_string(::getpid());
    std::ofstream(file) << kBridgePassword << "\n";
    ::chmod(file.c_str(), 0600);
    return file;
  }();
  return path;
}

CBridgeProcess::~CBridgeProcess() {
  if (running()) {
    ::kill(pid_, SIGKILL);
    waitForExit(5000);
  }
  if (errorPipe_ >= 0) ::close(errorPipe_);
}

bool CBridgeProcess::launch(const std::vector<std::string>& arguments) {
  std::vector<std::string> all{PV_BINARY_DIR "/src/pelloxview-bridge"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  // Tests run side by side: never the fixed default port.
  if (std::find(arguments.begin(), arguments.end(), "--rtsp") == arguments.end())
    all.insert(all.end(), {"--rtsp", "127.0.0.1:0"});
  std::vector<char*> argv;
  for (std::string& argument : all) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(fds[1], STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  errorPipe_ = fds[0];
  return pid_ > 0;
}

void CBridgeProcess::readLog(int timeoutMs) {
  if (errorPipe_ < 0) return;
  pollfd p{errorPipe_, POLLIN, 0};
  int wait = timeoutMs;
  char buffer[4096];
  while (::poll(&p, 1, wait) > 0) {
    const ssize_t got = ::read(errorPipe_, buffer, sizeof buffer);
    if (got <= 0) break;
    log_.append(buffer, static_cast<size_t>(got));
    wait = 0;
  }
}

bool CBridgeProcess::running() {
  if (pid_ <= 0 || exitStatus_ != -1) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  exitStatus_ = done == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  return false;
}

int CBridgeProcess::waitForExit(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    readLog(50);
  }
  readLog(0);
  return exitStatus_ >= 0 ? exitStatus_ : -1;
}

bool CBridgeProcess::start(const std::vector<std::string>& arguments, int timeoutMs) {
  if (!launch(arguments)) return false;
  static const std::regex serving("serving http://[0-9.]+:([0-9]+)/");
  static const std::regex servingRtsp("serving rtsp://[0-9.]+:([0-9]+)/");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    readLog(200);
    std::smatch match;
    if (std::regex_search(log_, match, serving)) {
      port_ = static_cast<uint16_t>(std::stoi(match[1]));
      // Printed before the HTTP line when RTSP is on.
      if (std::regex_search(log_, match, servingRtsp))
        rtspPort_ = static_cast<uint16_t>(std::stoi(match[1]));
      return true;
    }
    if (!running()) return false;
  }
  return false;
}

int CBridgeProcess::runToEnd(const std::vector<std::string>& arguments, int timeoutMs) {
  if (!launch(arguments)) return -1;
  return waitForExit(timeoutMs);
}

int CBridgeProcess::terminate() {
  if (!running()) return exitStatus_ >= 0 ? exitStatus_ : -1;
  ::kill(pid_, SIGTERM);
  return waitForExit(15000);
}

std::string CBridgeProcess::log() {
  readLog(0);
  return log_;
}

std::string CBridgeProcess::rtspUrl(int channel) const {
  return "rtsp://127.0.0.1:" + std::to_string(rtspPort_) + "/channel/" + std::to_string(channel);
}

std::string CBridgeProcess::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

namespace {

// A reply whose length is known and has fully come: no need to wait for the server to close.
// Without a Content-Length, an HTTP reply lasts until the close and an RTSP reply ends with its
// headers.
bool replyComplete(const std::string& reply, bool lengthlessEndsAtHeaders) {
  const auto end = reply.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  std::string headers = reply.substr(0, end);
  for (char& c : headers) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const auto field = headers.find("\r\ncontent-length:");
  if (field == std::string::npos) return lengthlessEndsAtHeaders;
  const size_t length = std::strtoul(headers.c_str() + field + 17, nullptr, 10);
  return reply.size() >= end + 4 + length;
}

}  // namespace

int connectTo(const char* ip, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, ip, &address.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

namespace {

std::string exchange(const char* ip, uint16_t port, const std::string& request, int timeoutMs,
                     bool lengthlessEndsAtHeaders) {
  const int fd = connectTo(ip, port);
  if (fd < 0) return {};
  std::string reply;
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[8192];
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    reply.append(buffer, static_cast<size_t>(got));
    if (replyComplete(reply, lengthlessEndsAtHeaders)) break;
  }
  ::close(fd);
  return reply;
}

}  // namespace

std::string rawExchange(uint16_t port, const std::string& request, int timeoutMs) {
  return exchange("127.0.0.1", port, request, timeoutMs, false);
}

std::string rtspExchange(uint16_t port, const std::string& request, int timeoutMs, const char* ip) {
  return exchange(ip, port, request, timeoutMs, true);
}

std::vector<std::string> bridgeArguments(const CBridgeDvr& dvr, std::vector<std::string> extra) {
  std::vector<std::string> args{"--connect",
                                "127.0.0.1:" + std::to_string(dvr.port()),
                                "--user",
                                "watcher",
                                "--password-file",
                                CBridgeProcess::passwordFile(),
                                "--http",
                                "127.0.0.1:0",
                                "--grace",
                                "1",
                                "-v"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

HttpReply parseReply(const std::string& raw) {
  HttpReply reply;
  if (raw.rfind("HTTP/1.", 0) != 0 || raw.size() < 12) return reply;
  reply.status = std::atoi(raw.c_str() + 9);
  const auto end = raw.find("\r\n\r\n");
  reply.headers = raw.substr(0, end);
  if (end != std::string::npos) reply.body = raw.substr(end + 4);
  return reply;
}

HttpReply httpGet(uint16_t port, const std::string& path, const std::string& extraHeaders) {
  return parseReply(rawExchange(port, "GET " + path +
                                          " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
                                          extraHeaders + "\r\n"));
}

bool bridgeReady(uint16_t port, const std::string& extraHeaders) {
  return httpGet(port, "/status.json", extraHeaders).body.find("\"state\":\"ready\"") !=
         std::string::npos;
}

CommandResult runCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool haveProgram(const char* name) {
  return runCommand(std::string("command -v ") + name + " >/dev/null").status == 0;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

double channelStatus(uint16_t port, int channel, const std::string& key) {
  const HttpReply reply = httpGet(port, "/status.json");
  const std::string anchor = "{\"channel\":" + std::to_string(channel) + ",";
  const auto at = reply.body.find(anchor);
  if (at == std::string::npos) return -1;
  const auto field = reply.body.find("\"" + key + "\":", at);
  if (field == std::string::npos) return -1;
  return std::atof(reply.body.c_str() + field + key.size() + 3);
}

int countParts(const std::string& stream) {
  int parts = 0;
  for (size_t at = stream.find("--pelloxframe\r\n"); at != std::string::npos;
       at = stream.find("--pelloxframe\r\n", at + 1))
    ++parts;
  return parts;
}
