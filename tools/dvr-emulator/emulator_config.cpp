#include "emulator_config.h"

#include <cerrno>
#include <cstdlib>

#include "password_file.h"

namespace dvremu {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return parts;
}

std::optional<double> parseDouble(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == nullptr || *end != '\0' || !(value >= 0.0) || value > 1e6) {
    return std::nullopt;
  }
  return value;
}

bool parseListen(const std::string& text, EmulatorConfig& config) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  const auto port = parseNumber(text.substr(colon + 1));
  if (!port || *port > 65535) return false;
  config.listenAddress = text.substr(0, colon);
  config.listenPort = static_cast<uint16_t>(*port);
  return true;
}

// What the 64-byte login body can carry: up to 32 bytes per field, no NUL inside.
std::string credentialProblem(const std::string& what, const std::string& text) {
  if (text.empty()) return what + " must not be empty";
  if (text.size() > 32) return what + " is longer than the 32 bytes a login carries";
  if (text.find('\0') != std::string::npos) return what + " holds a NUL byte";
  return {};
}

bool isLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0;
}

}  // namespace

std::optional<LiveCloseMode> parseLiveCloseMode(const std::string& name) {
  if (name == "keep") return LiveCloseMode::Keep;
  if (name == "drop") return LiveCloseMode::Drop;
  return std::nullopt;
}

const char* liveCloseModeName(LiveCloseMode mode) {
  return mode == LiveCloseMode::Drop ? "drop" : "keep";
}

std::optional<uint32_t> parseNumber(const std::string& text) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || value > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(value);
}

bool parseSize(const std::string& text, int* width, int* height) {
  const auto parts = split(text, 'x');
  if (parts.size() != 2) return false;
  const auto w = parseNumber(parts[0]);
  const auto h = parseNumber(parts[1]);
  if (!w || !h) return false;
  *width = static_cast<int>(*w);
  *height = static_cast<int>(*h);
  return isSupportedFrameSize(*width, *height);
}

bool isSupportedFrameSize(int width, int height) {
  return (width == 704 && (height == 480 || height == 576 || height == 240 || height == 288)) ||
         (width == 352 && (height == 240 || height == 288));
}

bool applyChannelSetting(ChannelConfig& channel, const std::string& key, const std::string& value,
                         std::string* error) {
  if (key == "size") {
    if (parseSize(value, &channel.width, &channel.height)) return true;
    *error = "unsupported frame size '" + value +
             "' (704x480, 704x576, 704x240, 704x288, 352x240, 352x288)";
    return false;
  }
  if (key == "fps") {
    // The frame period is 1/fps in the clock's integer nanoseconds: a rate just above 0 would
    // make it overflow, so the slowest paced rate is one frame in 1000 s.
    const auto fps = parseDouble(value);
    if (fps && (*fps == 0.0 || (*fps >= 0.001 && *fps <= 10000.0))) {
      channel.fps = *fps;
      return true;
    }
    *error = "bad frame rate '" + value + "' (0 for unpaced, or 0.001 to 10000)";
    return false;
  }
  if (key == "codec") {
    if (value == "jpeg")
      channel.codec = VideoCodec::Jpeg;
    else if (value == "mpeg4")
      channel.codec = VideoCodec::Mpeg4;
    else {
      *error = "unknown codec '" + value + "' (jpeg or mpeg4)";
      return false;
    }
    return true;
  }
  if (key == "source") {
    if (value == "scene" || value.rfind("jpeg-dir:", 0) == 0 || value.rfind("video:", 0) == 0) {
      channel.source = value;
      return true;
    }
    *error = "unknown source '" + value + "' (scene, jpeg-dir:PATH or video:PATH)";
    return false;
  }
  if (key == "quality") {
    const auto q = parseNumber(value);
    if (q && *q >= 1 && *q <= 100) {
      channel.jpegQuality = static_cast<int>(*q);
      return true;
    }
    *error = "bad JPEG quality '" + value + "'";
    return false;
  }
  if (key == "preencode") {
    const auto n = parseNumber(value);
    if (n && *n <= 1000) {
      channel.preencoded = static_cast<int>(*n);
      return true;
    }
    *error = "bad preencode count '" + value + "'";
    return false;
  }
  *error = "unknown channel setting '" + key + "'";
  return false;
}

std::string usageText() {
  return R"(usage: dvr-emulator [options]
A DVR that speaks the viewer's protocol: live cameras, PTZ, audio, notices and faults.

Listening and accounts
  --listen ADDR:PORT        control port (port 0 picks a free one)        [127.0.0.1:9000]
  --user NAME               the configured account's user id              [admin]
  --password TEXT           its password (visible to other users in ps)   [admin]
  --password-file FILE      read the password from the file's first line instead
                            (or set DVR_EMULATOR_PASSWORD); empty passwords are refused
  --admin                   the configured account has administrator rights
  --account USER:PASS[:admin]  one more account (repeatable)
  --refuse-status N         status for a refused login [2051 unknown user, 2052 bad password]
  --max-sessions N          control sessions at once; more are refused with 2050   [16]
  --single-login            a second login of the same user is refused with 2
  --max-connections N       connections at once; more are closed at once  [256]
  --login-timeout SEC       close a connection that has not logged in by then [10]
                            (after 3 failed logins from a host its next tries wait,
                            0.5 s doubling up to 8 s)

DVR identity and cameras
  --model TEXT              model identifier in the product info          [BXF2L3]
  --video-standard N        byte 18 of the product info                   [1]
  --channels N              enabled channels, 1..16                       [4]
  --size WxH                frame size of every channel                   [704x480]
  --fps N                   frame rate of every channel (0: unpaced)      [5]
  --codec jpeg|mpeg4        codec of every channel                        [jpeg]
  --source SRC              scene | jpeg-dir:PATH | video:PATH            [scene]
  --quality N               JPEG quality                                  [80]
  --preencode N             encode a loop of N frames at start and serve it from memory
  --channel N:KEY=VAL[,KEY=VAL...]  per channel (1..16): size, fps, codec, source, quality, preencode
  --ptz-mask MASK           channels with a PTZ camera (bit 0 = channel 1) [all]
  --disabled-mask-a MASK    masks reported in the active-camera reply     [channels beyond --channels]
  --disabled-mask-b MASK                                                  [0]
  --ptz-trailer RxC         bytes 79 and 80 of the active-camera reply    [16x4]
  --live-jitter MS          send each live frame up to MS late (uniform), 0..1000  [0]
  --filler N                filler bytes (0x00) before each frame marker  [0]
  --max-live-channels N     channels one session may have started; REQ_LIVESTART
                            starts the lowest of the mask up to N         [16]

Audio
  --audio-codec g726|adpcm  4-bit G.726 at 32 kbit/s or 3-bit codes at 24 kbit/s  [g726]
  --audio-source speech|tones                                             [speech]
  --audio-mask MASK         channels with audio                           [all]
  --audio-jitter MS         send each audio block up to MS late (uniform), 0..1000; the
                            block schedule stays real time                [0]
  --g726-packing right|left bit order of the 4-bit codes (right: first code in the low nibble) [right]

Behaviour
  --alive-interval SEC      alive check period on control connections, 0 off  [5]
  --alive-timeout SEC       drop a session whose alive answers stop this long  [15]
  --chatter SEC             send an uninterpreted reply every SEC seconds, 0 off [0]
  --live-close drop|keep    after RSP_LIVECLOSE, close the live stream or leave it to the viewer [keep]
  --fault COMMAND           a fault, fail or refuse-next command run at start (repeatable);
                            fault arguments alone also do: --fault "live stall 3"
  --control-socket PATH     also accept control commands on this unix socket
  --no-stdin                don't read control commands from standard input
  -v, --verbose             log every message header sent and received
  --help, --version

Control commands (standard input or --control-socket; 'help' lists them):
  stats, sessions, notice, drop, silent, refuse-next, fault, fail, clear-faults, model,
  live-close, livestop, audio-codec, video-codec, chatter, verbose, quit
)";
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine result;
  EmulatorConfig& config = result.config;
  Account primary{"admin", "admin", false};
  std::vector<Account> extra;
  bool passwordGiven = false;
  std::string passwordFile;
  ChannelConfig all;
  std::vector<std::pair<int, std::string>> perChannel;
  bool maskAGiven = false;

  auto fail = [&](const std::string& text) {
    result.error = text;
    return result;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= args.size()) return false;
      *out = args[++i];
      return true;
    };
    auto number = [&](uint32_t max, uint32_t* out) {
      std::string text;
      if (!value(&text)) return false;
      const auto n = parseNumber(text);
      if (!n || *n > max) return false;
      *out = *n;
      return true;
    };
    std::string text;
    uint32_t n = 0;
    if (option == "--help" || option == "-h") {
      result.showHelp = true;
      return result;
    } else if (option == "--version") {
      result.showVersion = true;
      return result;
    } else if (option == "--listen") {
      if (!value(&text) || !parseListen(text, config)) return fail("--listen needs ADDR:PORT");
    } else if (option == "--user") {
      if (!value(&primary.user) || primary.user.empty()) return fail("--user needs a name");
    } else if (option == "--password") {
      if (!value(&primary.password)) return fail("--password needs a value");
      if (primary.password.empty()) return fail("--password must not be empty");
      passwordGiven = true;
    } else if (option == "--password-file") {
      if (!value(&passwordFile) || passwordFile.empty())
        return fail("--password-file needs a file");
    } else if (option == "--admin") {
      primary.admin = true;
    } else if (option == "--account") {
      if (!value(&text)) return fail("--account needs USER:PASS[:admin]");
      const auto parts = split(text, ':');
      if (parts.size() < 2 || parts.size() > 3 || parts[0].empty() ||
          (parts.size() == 3 && parts[2] != "admin")) {
        return fail("--account needs USER:PASS[:admin]");
      }
      if (const auto problem = credentialProblem("--account password", parts[1]); !problem.empty())
        return fail(problem);
      extra.push_back({parts[0], parts[1], parts.size() == 3});
    } else if (option == "--refuse-status") {
      if (!number(0xFFFF, &n) || n == 1) return fail("--refuse-status needs a status other than 1");
      config.refuseStatus = static_cast<uint16_t>(n);
    } else if (option == "--max-sessions") {
      if (!number(64, &n) || n == 0) return fail("--max-sessions needs 1..64");
      config.maxSessions = static_cast<int>(n);
    } else if (option == "--single-login") {
      config.singleLogin = true;
    } else if (option == "--max-connections") {
      if (!number(65536, &n) || n == 0) return fail("--max-connections needs 1..65536");
      config.maxConnections = static_cast<int>(n);
    } else if (option == "--login-timeout") {
      const auto seconds = value(&text) ? parseDouble(text) : std::nullopt;
      if (!seconds || *seconds <= 0.0 || *seconds > 3600.0)
        return fail("--login-timeout needs seconds, more than 0 and at most 3600");
      config.loginTimeoutSeconds = *seconds;
    } else if (option == "--max-live-channels") {
      if (!number(kMaxChannels, &n) || n == 0) return fail("--max-live-channels needs 1..16");
      config.maxLiveChannels = static_cast<int>(n);
    } else if (option == "--model") {
      if (!value(&config.model)) return fail("--model needs a text");
      if (config.model.size() > 7) return fail("--model takes at most 7 characters");
    } else if (option == "--video-standard") {
      if (!number(255, &n)) return fail("--video-standard needs 0..255");
      config.videoStandard = static_cast<uint8_t>(n);
    } else if (option == "--channels") {
      if (!number(kMaxChannels, &n) || n == 0) return fail("--channels needs 1..16");
      config.channelCount = static_cast<int>(n);
    } else if (option == "--size" || option == "--fps" || option == "--codec" ||
               option == "--source" || option == "--quality" || option == "--preencode") {
      std::string error;
      if (!value(&text)) return fail(option + " needs a value");
      if (!applyChannelSetting(all, option.substr(2), text, &error)) return fail(error);
    } else if (option == "--channel") {
      if (!value(&text)) return fail("--channel needs N:KEY=VAL,...");
      const size_t colon = text.find(':');
      const auto channel =
          colon == std::string::npos ? std::nullopt : parseNumber(text.substr(0, colon));
      if (!channel || *channel < 1 || *channel > kMaxChannels)
        return fail("--channel needs N:KEY=VAL,... with N 1..16");
      perChannel.emplace_back(static_cast<int>(*channel) - 1, text.substr(colon + 1));
    } else if (option == "--ptz-mask") {
      if (!number(0xFFFFFFFF, &config.ptzMask)) return fail("--ptz-mask needs a mask");
    } else if (option == "--disabled-mask-a") {
      if (!number(0xFFFFFFFF, &config.disabledMaskA)) return fail("--disabled-mask-a needs a mask");
      maskAGiven = true;
    } else if (option == "--disabled-mask-b") {
      if (!number(0xFFFFFFFF, &config.disabledMaskB)) return fail("--disabled-mask-b needs a mask");
    } else if (option == "--ptz-trailer") {
      if (!value(&text)) return fail("--ptz-trailer needs RxC");
      const auto parts = split(text, 'x');
      const auto r = parts.size() == 2 ? parseNumber(parts[0]) : std::nullopt;
      const auto c = parts.size() == 2 ? parseNumber(parts[1]) : std::nullopt;
      if (!r || !c || *r > 255 || *c > 255) return fail("--ptz-trailer needs RxC, each 0..255");
      config.ptzTrailerRows = static_cast<uint8_t>(*r);
      config.ptzTrailerColumns = static_cast<uint8_t>(*c);
    } else if (option == "--filler") {
      if (!number(4096, &n)) return fail("--filler needs 0..4096");
      config.fillerBytes = static_cast<int>(n);
    } else if (option == "--live-close") {
      const auto mode = value(&text) ? parseLiveCloseMode(text) : std::nullopt;
      if (!mode) return fail("--live-close needs drop or keep");
      config.liveClose = *mode;
    } else if (option == "--audio-codec") {
      if (!value(&text)) return fail("--audio-codec needs g726 or adpcm");
      if (text == "g726")
        config.audioCodec = AudioCodec::G726;
      else if (text == "adpcm")
        config.audioCodec = AudioCodec::Adpcm;
      else
        return fail("--audio-codec needs g726 or adpcm");
    } else if (option == "--audio-source") {
      if (!value(&text)) return fail("--audio-source needs speech or tones");
      if (text == "speech")
        config.audioSource = AudioSourceKind::Speech;
      else if (text == "tones")
        config.audioSource = AudioSourceKind::Tones;
      else
        return fail("--audio-source needs speech or tones");
    } else if (option == "--audio-jitter" || option == "--live-jitter") {
      if (!number(kMaxJitterMs, &n)) return fail(option + " needs milliseconds, 0..1000");
      (option == "--audio-jitter" ? config.audioJitterMs : config.liveJitterMs) =
          static_cast<int>(n);
    } else if (option == "--audio-mask") {
      if (!number(0xFFFFFFFF, &config.audioMask)) return fail("--audio-mask needs a mask");
    } else if (option == "--g726-packing") {
      if (!value(&text)) return fail("--g726-packing needs right or left");
      if (text == "right")
        config.g726Packing = G726Packing::Right;
      else if (text == "left")
        config.g726Packing = G726Packing::Left;
      else
        return fail("--g726-packing needs right or left");
    } else if (option == "--alive-interval" || option == "--alive-timeout" ||
               option == "--chatter") {
      if (!value(&text)) return fail(option + " needs seconds");
      const auto seconds = parseDouble(text);
      if (!seconds) return fail(option + " needs seconds");
      if (option == "--alive-interval")
        config.aliveIntervalSeconds = *seconds;
      else if (option == "--alive-timeout")
        config.aliveTimeoutSeconds = *seconds;
      else
        config.chatterSeconds = *seconds;
    } else if (option == "--fault") {
      if (!value(&text)) return fail("--fault needs a fault command");
      config.faults.push_back(text);
    } else if (option == "--control-socket") {
      if (!value(&config.controlSocket) || config.controlSocket.empty())
        return fail("--control-socket needs a path");
    } else if (option == "--no-stdin") {
      config.readStdin = false;
    } else if (option == "-v" || option == "--verbose") {
      config.verbose = true;
    } else {
      return fail("unknown option '" + option + "' (see --help)");
    }
  }

  for (auto& channel : config.channels) channel = all;
  for (const auto& [index, settings] : perChannel) {
    for (const auto& item : split(settings, ',')) {
      const size_t eq = item.find('=');
      std::string error;
      if (eq == std::string::npos) return fail("--channel setting '" + item + "' needs KEY=VAL");
      if (!applyChannelSetting(config.channels[static_cast<size_t>(index)], item.substr(0, eq),
                               item.substr(eq + 1), &error)) {
        return fail(error);
      }
    }
  }
  const uint32_t enabled =
      config.channelCount >= 32 ? 0xFFFFFFFFu : ((1u << config.channelCount) - 1u);
  if (!maskAGiven) config.disabledMaskA = 0xFFFFu & ~enabled;
  if (!passwordFile.empty()) {
    if (passwordGiven) return fail("give --password or --password-file, not both");
    PasswordRead read = readPasswordFile(passwordFile);
    if (!read.ok) return fail(read.error);
    if (!read.warning.empty()) result.warnings.push_back(read.warning);
    primary.password = std::move(read.password);
  } else if (!passwordGiven) {
    if (const char* fromEnvironment = std::getenv(kPasswordVariable)) {
      if (*fromEnvironment == '\0') return fail(std::string(kPasswordVariable) + " is empty");
      primary.password = fromEnvironment;
    }
  }
  if (const auto problem = credentialProblem("--user", primary.user); !problem.empty())
    return fail(problem);
  if (const auto problem = credentialProblem("the password", primary.password); !problem.empty())
    return fail(problem);
  for (const auto& account : extra) {
    if (account.user.size() > 32) return fail("--account user is longer than 32 bytes");
  }
  config.accounts.clear();
  config.accounts.push_back(primary);
  for (auto& account : extra) config.accounts.push_back(account);
  if (!isLoopback(config.listenAddress)) {
    for (const auto& account : config.accounts) {
      if (account.user == "admin" && account.password == "admin") {
        result.warnings.push_back("listening on " + config.listenAddress +
                                  " with the well-known account admin/admin: anyone who reaches "
                                  "this address can log in (set --user and --password-file)");
      }
    }
  }
  return result;
}

}  // namespace dvremu
