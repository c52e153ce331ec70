#pragma once
// The bridge program against the in-process DVR emulator, and the clients the tests use: raw
// sockets for requests no well-behaved client sends, curl and ffmpeg for real ones.
#include <gtest/gtest.h>

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "dvr_emulator.h"

// The emulator on a free loopback port: account demo/demo plus watcher/kBridgePassword, four
// channels at 25 frames a second, channel 2 MPEG-4, the others JPEG.
inline constexpr const char* kBridgePassword = "Qz7-secret-Pw";

class CBridgeDvr {
 public:
  explicit CBridgeDvr(const std::vector<std::string>& extra = {});
  ~CBridgeDvr();
  uint16_t port() const { return emulator_->port(); }
  dvremu::EmulatorStats& stats() { return emulator_->core().stats(); }
  std::string command(const std::string& line) { return emulator_->execute(line); }
  // Whether a control message with this command code came in.
  bool received(uint32_t command);
  int connections(dvremu::ConnectionKind kind);

 private:
  std::unique_ptr<dvremu::DvrEmulator> emulator_;
  std::mutex mutex_;
  std::set<uint32_t> received_;
};

class CBridgeProcess {
 public:
  ~CBridgeProcess();
  // Starts the program with arguments; true once it says where it serves. passwordFile is made
  // for the test (mode 600) unless the arguments name one. RTSP listens on a free port unless
  // the arguments say --rtsp.
  bool start(const std::vector<std::string>& arguments, int timeoutMs = 20000);
  // Runs it to its end (for options that stop it before serving); the exit status.
  int runToEnd(const std::vector<std::string>& arguments, int timeoutMs = 20000);
  // SIGTERM and wait: the exit status, or -1 when it didn't end.
  int terminate();
  uint16_t port() const { return port_; }
  uint16_t rtspPort() const { return rtspPort_; }
  std::string rtspUrl(int channel) const;  // rtsp://127.0.0.1:PORT/channel/N
  pid_t pid() const { return pid_; }
  std::string log();  // everything written to standard error so far
  std::string url(const std::string& path) const;
  static std::string passwordFile();

 private:
  // Plain fork and exec: ThreadSanitizer can't follow how QProcess starts children.
  bool launch(const std::vector<std::string>& arguments);
  void readLog(int timeoutMs);  // what standard error has, waiting up to timeoutMs for some
  bool running();
  int waitForExit(int timeoutMs);  // the exit status; -1 when killed or still running
  pid_t pid_ = -1;
  int errorPipe_ = -1;
  int exitStatus_ = -1;
  std::string log_;
  uint16_t port_ = 0;
  uint16_t rtspPort_ = 0;
};

struct HttpReply {
  int status = 0;  // 0: no status line came
  std::string headers;
  std::string body;
};

// Sends raw bytes to the port and reads until the server closes or timeoutMs pass.
// A TCP connection to ip:port (IPv4); -1 when refused.
int connectTo(const char* ip, uint16_t port);
std::string rawExchange(uint16_t port, const std::string& request, int timeoutMs = 5000);
// The same for an RTSP request: a reply without a Content-Length ends with its headers.
std::string rtspExchange(uint16_t port, const std::string& request, int timeoutMs = 5000,
                         const char* ip = "127.0.0.1");
// The arguments of a bridge on dvr as user "watcher", HTTP on a free port, 1 s of grace, -v;
// extra after them.
std::vector<std::string> bridgeArguments(const CBridgeDvr& dvr,
                                         std::vector<std::string> extra = {});
HttpReply parseReply(const std::string& raw);
HttpReply httpGet(uint16_t port, const std::string& path, const std::string& extraHeaders = {});
// The bridge's status says it is logged in to the DVR and knows its channels.
bool bridgeReady(uint16_t port, const std::string& extraHeaders = {});

struct CommandResult {
  int status = -1;
  std::string output;  // standard output and error together
};
CommandResult runCommand(const std::string& command);
bool haveProgram(const char* name);

// Waits for done, polling; false on timeout.
bool waitUntil(const std::function<bool()>& done, int timeoutMs);
// A number from /status.json of the channel (counted from 1): "frames_in", "clients", ...
double channelStatus(uint16_t port, int channel, const std::string& key);
// Parts of a multipart MJPEG stream in text.
int countParts(const std::string& stream);
