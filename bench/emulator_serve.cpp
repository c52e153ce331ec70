// Frames per second the emulator serves to one viewer that pulls as fast as it can, with
// pre-encoded 704 x 480 JPEG frames, so the emulator never limits the viewer's benchmarks.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "dvr_emulator.h"
#include "protocol/byte_order.h"
#include "protocol/command_codes.h"
#include "protocol/message_header.h"

namespace {

class Puller {
 public:
  explicit Puller(uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~Puller() { ::close(fd_); }
  bool ok() const { return ok_; }
  bool send(uint32_t command, const std::vector<uint8_t>& body) {
    const auto bytes = buildMessage(command, body);
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // One whole message; its body stays in body_.
  uint32_t receive() {
    uint8_t header[MessageHeader::kSize];
    if (!readExactly(header, sizeof header)) return 0;
    body_.resize(readBe32(header + 5));
    if (!readExactly(body_.data(), body_.size())) return 0;
    return readBe32(header + 9);
  }
  const std::vector<uint8_t>& body() const { return body_; }
  bool login() {
    if (receive() != REQ_AUTHLOGIN) return false;
    const auto login = buildLoginBody("demo", "demo");
    send(RSP_AUTHLOGIN, {login.begin(), login.end()});
    return receive() == RSP_AUTHRESULT && readBe16(body_.data()) == 1;
  }

 private:
  bool readExactly(uint8_t* out, size_t size) {
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::recv(fd_, out + done, size - done, 0);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  int fd_ = -1;
  bool ok_ = false;
  std::vector<uint8_t> body_;
};

void BM_ServePreencodedJpeg704x480(benchmark::State& state) {
  auto parsed = dvremu::parseCommandLine({"--listen", "127.0.0.1:0", "--user", "demo", "--password",
                                          "demo", "--channels", "1", "--fps", "0", "--preencode",
                                          "16", "--alive-interval", "0"});
  dvremu::DvrEmulator dvr(parsed.config);
  dvr.core().log().setQuiet(true);
  std::string error;
  if (!dvr.start(&error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  Puller control(dvr.port());
  if (!control.ok() || !control.login()) {
    state.SkipWithError("control login failed");
    return;
  }
  control.send(REQ_LIVEOPEN, {});
  while (control.receive() != RSP_LIVEOPEN) {
  }
  const uint16_t livePort = readBe16(control.body().data() + 2);
  std::vector<uint8_t> startBody(20, 0);
  writeBe32(startBody.data(), 1);
  control.send(REQ_LIVESTART, startBody);
  while (control.receive() != RSP_LIVESTART) {
  }
  Puller live(livePort);
  if (!live.ok() || !live.login()) {
    state.SkipWithError("live login failed");
    return;
  }
  const std::vector<uint8_t> request = {1, 1, 0, 1};
  size_t bytes = 0;
  for (auto _ : state) {
    live.send(REQ_LIVEFRAME, request);
    if (live.receive() != RSP_LIVEFRAME) {
      state.SkipWithError("no frame");
      break;
    }
    bytes += live.body().size();
  }
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  dvr.stop();
}
BENCHMARK(BM_ServePreencodedJpeg704x480)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
