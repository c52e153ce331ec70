// Live viewing end to end: the real main window (offscreen, drawn through the Qt display
// backend) against dvr-emulator in this process serving pre-encoded frames. Prints frame rates
// beside the decode-only rate of the same frames, Connect and channel-switch times, latency from
// the emulator's send to display memory and to the screen, peak memory, CPU per frame at a paced
// 25 fps, and audio underruns.
//
//   bench_viewer_live [--seconds N] [--cpu-seconds N] [--audio-seconds N]
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/viewer_dlg.h"
#include "channel_feed.h"
#include "dvr_emulator.h"
#include "emulator_config.h"
#include "platform/data_directory.h"
#include "platform/dialog_host.h"
#include "platform/display.h"
#include "platform/display_memory_backend.h"
#include "platform/display_qt_backend.h"
#include "platform/message_window.h"
#include "platform/messages.h"
#include "protocol/byte_order.h"
#include "protocol/frame_sinks.h"
#include "ui/connect_dlg.h"
#include "ui/control_id.h"
#include "video/frame_renderer.h"
#include "video/video_decoder.h"
#include "viewer_live/application.h"
#include "viewer_live/frame_probe.h"
#include "viewer_live/paced_wave_out.h"

namespace {

using bench::nowNs;

constexpr double kRoundSeconds = 0.5;

struct Options {
  double seconds = 3;
  double cpuSeconds = 10;
  double audioSeconds = 60;
};

// The emulator's channels (1-based on its command line, 0-based in the viewer).
struct Case {
  const char* name;
  int channel;  // 0-based
  bool fullScreen;
};
constexpr int kJpeg704 = 0, kJpeg352 = 1, kMpeg704 = 2, kMpeg352 = 3, kPaced704 = 4;
constexpr Case kCases[] = {{"704x480 JPEG, window", kJpeg704, false},
                           {"704x480 JPEG, full screen", kJpeg704, true},
                           {"352x240 JPEG, window", kJpeg352, false},
                           {"704x480 MPEG-4, window", kMpeg704, false},
                           {"352x240 MPEG-4, window", kMpeg352, false}};

class AlwaysDraw final : public IDrawGates {
 public:
  bool disconnectRequested() const override { return false; }
  bool liveReady() const override { return true; }
  bool displayReady() const override { return true; }
};

// One pre-encoded frame as the live stream hands it to the decoders: the 16-byte frame header,
// the coded picture, then the zeroed read slack.
std::vector<uint8_t> dvrFrame(const dvremu::EncodedFrame& frame, int channel, bool jpeg, int width,
                              int height) {
  std::vector<uint8_t> bytes(16, 0);
  bytes[0] = 0x01;
  bytes[1] = static_cast<uint8_t>(channel);
  bytes[2] = jpeg ? 1 : 0;
  bytes[3] = frame.key ? 1 : 0;
  writeBe16(bytes.data() + 4, static_cast<uint16_t>(width));
  writeBe16(bytes.data() + 6, static_cast<uint16_t>(height));
  writeBe32(bytes.data() + 8, static_cast<uint32_t>(frame.number));
  writeBe32(bytes.data() + 12, static_cast<uint32_t>(frame.data.size()));
  bytes.insert(bytes.end(), frame.data.begin(), frame.data.end());
  bytes.resize(bytes.size() + kFrameReadSlack, 0);
  return bytes;
}

// Decodes the channel's loop into a memory display: the live stream's work without the network,
// the window and the emulator.
class DecodeLoop {
 public:
  DecodeLoop(dvremu::ChannelFeed& feed, bool fullScreen)
      : jpeg_(feed.config().codec == dvremu::VideoCodec::Jpeg) {
    const auto& config = feed.config();
    for (size_t i = 0; i < feed.loopLength(); ++i) {
      frames_.push_back(
          dvrFrame(*feed.loopFrame(i), feed.channel(), jpeg_, config.width, config.height));
    }
    display_.GXOpenDisplay(nullptr, 0);
    renderer_.bind(0, &gates_);
    renderer_.setFullScreen(fullScreen ? 1 : 0);
    decoder_.bind(0, &gates_);
  }
  ~DecodeLoop() { decoder_.endChannel(); }

  // Frames per second over about that many seconds.
  double run(double seconds) {
    uint64_t count = 0;
    const int64_t start = nowNs();
    const int64_t end = start + static_cast<int64_t>(seconds * 1e9);
    for (; nowNs() < end; ++count) {
      const auto& frame = frames_[next_];
      next_ = (next_ + 1) % frames_.size();
      const auto length = static_cast<uint32_t>(frame.size() - kFrameReadSlack);
      // Both paths may work in place, as on the receive buffer: every round starts afresh.
      work_.assign(frame.begin(), frame.end());
      if (jpeg_) {
        renderer_.drawJpegFrame(work_.data(), length);
      } else {
        decoder_.decodeFrame(work_.data(), length);
      }
    }
    return double(count) * 1e9 / double(nowNs() - start);
  }

 private:
  const bool jpeg_;
  std::vector<std::vector<uint8_t>> frames_;
  size_t next_ = 0;
  std::vector<uint8_t> work_;
  CMemoryDisplayBackend backend_;
  Display display_{backend_};
  AlwaysDraw gates_;
  CFrameRenderer renderer_{display_};
  CVideoDecoder decoder_{display_};
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// CPU seconds (user + system) of one thread of this process, 0 when it can't be read.
double threadCpuSeconds(int tid) {
  if (tid <= 0) return 0;
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {  // field 3 is the state
    if (i == 14) utime = std::stoull(field);
    if (i == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident memory now, in kB.
long residentKb() {
  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long peakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

class Bench {
 public:
  explicit Bench(const Options& options) : options_(options) {}
  int run();

 private:
  bool startEmulator();
  void startWindow();
  bool waitFor(const std::function<bool()>& done, double seconds) {
    return platform::processMessagesUntil(done, static_cast<int>(seconds * 1000));
  }
  void settle(double seconds) {
    waitFor([] { return false; }, seconds);
  }
  void press(int controlId) {
    platform::sendMessage(window_->windowId(), msg::kCommand, static_cast<uintptr_t>(controlId), 0);
  }
  // Presses the channel's button; milliseconds to its first picture in display memory, or -1.
  double switchTo(int channel);
  void measureCase(const Case& c);
  void measureCpu();
  void measureAudio(const char* name, const char* codec);

  Options options_;
  QTemporaryDir dataDir_;
  std::unique_ptr<dvremu::DvrEmulator> emulator_;
  CQtDisplayBackend backend_;
  bench::CPacedWaveOut waveOut_;
  CRecordingDialogHost dialogs_;
  bench::CFrameProbe probe_;
  std::unique_ptr<CViewerDlg> window_;
  std::function<int()> onFullScreen_;
  bool failed_ = false;
};

bool Bench::startEmulator() {
  std::vector<std::string> args = {"--listen",       "127.0.0.1:0", "--user",     "demo",
                                   "--password",     "demo",        "--channels", "5",
                                   "--audio-source", "speech"};
  const char* channels[] = {"1:size=704x480,codec=jpeg,fps=0,preencode=25",
                            "2:size=352x240,codec=jpeg,fps=0,preencode=25",
                            "3:size=704x480,codec=mpeg4,fps=0,preencode=50",
                            "4:size=352x240,codec=mpeg4,fps=0,preencode=50",
                            "5:size=704x480,codec=jpeg,fps=25,preencode=25"};
  for (const char* channel : channels) {
    args.emplace_back("--channel");
    args.emplace_back(channel);
  }
  auto parsed = dvremu::parseCommandLine(args);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "emulator: %s\n", parsed.error.c_str());
    return false;
  }
  emulator_ = std::make_unique<dvremu::DvrEmulator>(parsed.config);
  emulator_->core().log().setQuiet(true);
  emulator_->core().log().setFrameSendSink([this](const dvremu::FrameSendEvent& event) {
    probe_.onSend(event.channel, static_cast<int>(::syscall(SYS_gettid)));
  });
  std::string error;
  if (!emulator_->start(&error)) {
    std::fprintf(stderr, "emulator: %s\n", error.c_str());
    return false;
  }
  return true;
}

void Bench::startWindow() {
  platform::setDataDirectoryOverride(dataDir_.path());
  dialogs_.answerDialog = [this](QDialog& dialog) -> int {
    if (auto* connect = qobject_cast<CConnectDlg*>(&dialog)) {
      findControl<QComboBox>(connect, CConnectDlg::kAddressId)
          ->setEditText(QStringLiteral("127.0.0.1"));
      findControl<QLineEdit>(connect, CConnectDlg::kPortId)
          ->setText(QString::number(emulator_->port()));
      findControl<QLineEdit>(connect, CConnectDlg::kUserIdId)->setText(QStringLiteral("demo"));
      findControl<QLineEdit>(connect, CConnectDlg::kPasswordId)->setText(QStringLiteral("demo"));
      connect->onConnect();
      return connect->result();
    }
    return onFullScreen_ ? onFullScreen_() : QDialog::Rejected;
  };
  platform::setDialogHost(&dialogs_);
  CViewerDlg::Services services;
  services.displayBackend = &backend_;
  services.waveOut = &waveOut_;
  window_ = std::make_unique<CViewerDlg>(services);
  window_->initDialog();
  window_->show();
  window_->display().setEndObserver([this] { probe_.onFrameEnd(); });
  QCoreApplication::instance()->installEventFilter(&probe_);
}

double Bench::switchTo(int channel) {
  probe_.awaitChannel(channel);
  const int64_t pressed = nowNs();
  press(ctl::kFirstChannel + channel);
  if (!waitFor([&] { return probe_.firstPictureNs() != 0; }, 5)) return -1;
  return double(probe_.firstPictureNs() - pressed) / 1e6;
}

void Bench::measureCase(const Case& c) {
  DecodeLoop decodeOnly(*emulator_->core().feed(c.channel), c.fullScreen);
  if (window_->shownChannel() != c.channel && switchTo(c.channel) < 0) {
    std::printf("  %-26s no picture\n", c.name);
    failed_ = true;
    return;
  }
  // Rounds of decode-only and end to end in turn, so a change in the machine's load meets both.
  std::vector<double> decodeRates, streamRates, toMemory, toScreen;
  bool quiet = true;
  const auto rounds = [&] {
    settle(0.3);  // past the first pictures and the decoder's start
    const int count = std::max(2, static_cast<int>(options_.seconds / kRoundSeconds + 0.5));
    for (int round = 0; round < count; ++round) {
      // The emulator holds the next frame back for a second; the viewer waits idle meanwhile.
      emulator_->execute("fault live stall 1");
      settle(0.03);
      const uint64_t held = window_->display().endCount();
      decodeRates.push_back(decodeOnly.run(kRoundSeconds));
      if (window_->display().endCount() != held) quiet = false;
      waitFor([&] { return window_->display().endCount() > held + 1; }, 3);
      settle(0.05);
      probe_.clearSamples();  // not the frame held back
      const uint64_t before = window_->display().endCount();
      const int64_t start = nowNs();
      settle(kRoundSeconds);
      streamRates.push_back(double(window_->display().endCount() - before) * 1e9 /
                            double(nowNs() - start));
      probe_.takeSamples(&toMemory, &toScreen);
    }
  };
  if (c.fullScreen) {
    onFullScreen_ = [&] {
      waitFor([&] { return window_->displayReady(); }, 3);
      rounds();
      return 0;
    };
    window_->tapWindow(QPoint(120, 100));  // the picture: full screen until the dialog ends
    onFullScreen_ = nullptr;
    waitFor([&] { return window_->displayReady(); }, 3);
  } else {
    rounds();
  }
  const double stream = median(streamRates), decode = median(decodeRates);
  const auto memory = bench::percentiles(toMemory), screen = bench::percentiles(toScreen);
  std::printf(
      "  %-26s %7.1f fps  decode-only %7.1f fps  ratio %.2f%s  latency to memory %5.2f / "
      "%5.2f ms",
      c.name, stream, decode, decode > 0 ? stream / decode : 0,
      quiet ? "" : " (frames drawn during decode-only!)", memory.median, memory.p99);
  // The full-screen dialog is answered by the dialog host rather than shown: nothing paints.
  if (screen.count > 0) {
    std::printf(", to screen %5.2f / %5.2f ms\n", screen.median, screen.p99);
  } else {
    std::printf(", not painted (dialog not shown headless)\n");
  }
}

void Bench::measureCpu() {
  if (switchTo(kPaced704) < 0) {
    std::printf("  paced channel: no picture\n");
    failed_ = true;
    return;
  }
  settle(1.0);
  probe_.clearSamples();
  const int sender = probe_.senderThread();
  const double emulatorBefore = threadCpuSeconds(sender);
  const double before = processCpuSeconds();
  const uint64_t frames = window_->display().endCount();
  const int64_t start = nowNs();
  settle(options_.cpuSeconds);
  const double wall = double(nowNs() - start) / 1e9;
  const double emulator = threadCpuSeconds(sender) - emulatorBefore;
  const double cpu = processCpuSeconds() - before - emulator;
  const double drawn = double(window_->display().endCount() - frames);
  const auto memory = probe_.toMemory();
  const auto screen = probe_.toScreen();
  std::printf(
      "  704x480 JPEG at 25 fps: %.1f fps drawn, CPU %.1f %% of one core, %.2f ms per "
      "frame (emulator's live thread, %.2f s, taken off)\n",
      drawn / wall, 100.0 * cpu / wall, drawn > 0 ? 1000.0 * cpu / drawn : 0, emulator);
  std::printf(
      "  latency at 25 fps: to memory %.2f / %.2f ms, to screen %.2f / %.2f ms "
      "(median / 99th percentile, %zu frames)\n",
      memory.median, memory.p99, screen.median, screen.p99, memory.count);
}

void Bench::measureAudio(const char* name, const char* codec) {
  emulator_->execute(std::string("audio-codec ") + codec);
  settle(1.0);  // the player follows the codec (closing and reopening the device)
  waveOut_.clearCounts();
  settle(options_.audioSeconds);
  const uint64_t played = waveOut_.blocksPlayed();
  const uint64_t underruns = waveOut_.underruns();
  std::printf(
      "  %-6s %4llu blocks played in %.0f s, %llu underruns (longest gap %.1f ms), %llu "
      "blocks refused while still queued\n",
      name, static_cast<unsigned long long>(played), options_.audioSeconds,
      static_cast<unsigned long long>(underruns), waveOut_.longestGapMs(),
      static_cast<unsigned long long>(waveOut_.refused()));
  if (underruns > 0) failed_ = true;
  if (!window_->isConnected()) {
    std::printf("  connection lost: %s\n", window_->statusText().toUtf8().constData());
    failed_ = true;
  }
}

int Bench::run() {
  const long beforeEmulatorKb = residentKb();
  if (!startEmulator()) return 1;
  const long emulatorKb = residentKb() - beforeEmulatorKb;
  std::printf("viewer_live: %ld cores online\n", sysconf(_SC_NPROCESSORS_ONLN));

  startWindow();
  // Connect, then channel 1 as soon as "Connected." shows (as the kiosk's --channel does).
  bool connected = false;
  window_->onConnected = [&] { connected = true; };
  const int64_t pressed = nowNs();
  press(ctl::kConnect);
  if (!waitFor([&] { return connected; }, 10)) {
    std::printf("not connected: %s\n", window_->statusText().toUtf8().constData());
    return 1;
  }
  const double connectedMs = double(nowNs() - pressed) / 1e6;
  if (switchTo(kJpeg704) < 0) {
    std::printf("no picture after Connect: %s\n", window_->statusText().toUtf8().constData());
    return 1;
  }
  const double connectMs = double(probe_.firstPictureNs() - pressed) / 1e6;

  std::printf(
      "frames drawn into display memory (latency: median / 99th percentile, emulator send "
      "to pixels):\n");
  for (const Case& c : kCases) measureCase(c);

  std::printf(
      "time to first picture:\n  Connect to \"Connected.\" %7.1f ms, to the first picture of "
      "channel 1 pressed then %7.1f ms\n",
      connectedMs, connectMs);
  const std::pair<const char*, int> switches[] = {{"to 704x480 JPEG   ", kJpeg704},
                                                  {"to 352x240 JPEG   ", kJpeg352},
                                                  {"to 704x480 MPEG-4 ", kMpeg704},
                                                  {"to 352x240 MPEG-4 ", kMpeg352},
                                                  {"to 704x480 JPEG   ", kJpeg704}};
  for (const auto& [name, channel] : switches) {
    const double ms = switchTo(channel);
    std::printf("  channel switch %s %7.1f ms\n", name, ms);
    if (ms < 0) failed_ = true;
  }

  std::printf("CPU at a paced frame rate:\n");
  measureCpu();
  std::printf(
      "peak resident memory while streaming: %.1f MB, of which the in-process emulator "
      "(its pre-encoded loops, encoders and scenes) %.1f MB: the viewer alone %.1f MB\n",
      peakResidentKb() / 1024.0, emulatorKb / 1024.0, (peakResidentKb() - emulatorKb) / 1024.0);

  std::printf("audio at 25 fps video, %.0f s each:\n", options_.audioSeconds);
  press(ctl::kAudioOn);
  measureAudio("G.726", "g726");
  measureAudio("3-bit", "adpcm");
  press(ctl::kAudioOff);

  press(ctl::kDisconnect);
  waitFor([&] { return window_->client() == nullptr; }, 5);
  window_.reset();
  QCoreApplication::instance()->removeEventFilter(&probe_);
  platform::setDialogHost(nullptr);
  emulator_->stop();
  return failed_ ? 1 : 0;
}

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    double* target = option == "--seconds"         ? &options->seconds
                     : option == "--cpu-seconds"   ? &options->cpuSeconds
                     : option == "--audio-seconds" ? &options->audioSeconds
                                                   : nullptr;
    if (target == nullptr || i + 1 >= argc) return false;
    char* end = nullptr;
    *target = std::strtod(argv[++i], &end);
    if (end == argv[i] || *end != '\0' || *target <= 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: bench_viewer_live [--seconds N] [--cpu-seconds N] [--audio-seconds N]\n");
    return 2;
  }
  return bench::runInApplication(argc, argv, [&] {
    Bench bench(options);
    const int status = bench.run();
    std::fflush(stdout);
    return status;
  });
}
