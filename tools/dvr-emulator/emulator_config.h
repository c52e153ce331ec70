#pragma once
// Everything the emulated DVR can be told at start: the listening address, accounts, the reply
// bodies it gives, its cameras and audio, and faults armed from the first connection on.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dvremu {

inline constexpr int kMaxChannels = 16;
inline constexpr int kMaxJitterMs = 1000;

enum class VideoCodec { Jpeg, Mpeg4 };
enum class AudioCodec { G726, Adpcm };
enum class AudioSourceKind { Tones, Speech };
enum class G726Packing { Left, Right };
// What happens to the live-stream connection after RSP_LIVECLOSE: some DVRs close it
// themselves, others leave it for the viewer to close.
enum class LiveCloseMode { Keep, Drop };
std::optional<LiveCloseMode> parseLiveCloseMode(const std::string& name);
const char* liveCloseModeName(LiveCloseMode mode);

struct Account {
  std::string user;
  std::string password;
  bool admin = false;
};

struct ChannelConfig {
  int width = 704;
  int height = 480;
  double fps = 5.0;  // 0: answer every frame request at once
  VideoCodec codec = VideoCodec::Jpeg;
  std::string source = "scene";  // "scene", "jpeg-dir:PATH" or "video:PATH"
  int jpegQuality = 80;
  int preencoded = 0;  // > 0: a loop of this many frames encoded once at start
};

struct EmulatorConfig {
  std::string listenAddress = "127.0.0.1";
  uint16_t listenPort = 9000;
  std::vector<Account> accounts{{"admin", "admin", true}};
  std::optional<uint16_t> refuseStatus;  // status for an unknown account (default 2051/2052)
  int maxSessions = 16;
  int maxConnections = 256;           // connections (threads) at once; more are closed at once
  double loginTimeoutSeconds = 10.0;  // a connection that hasn't logged in by then is closed
  bool singleLogin = false;           // a second control login of the same user is refused with 2

  std::string model = "BXF2L3";
  uint8_t videoStandard = 1;
  int channelCount = 4;
  std::vector<ChannelConfig> channels = std::vector<ChannelConfig>(kMaxChannels);
  uint32_t ptzMask = 0xFFFFFFFF;  // limited to the enabled channels
  uint32_t disabledMaskA = 0;     // or-ed with the channels beyond channelCount
  uint32_t disabledMaskB = 0;
  uint8_t ptzTrailerRows = 16;  // bytes 79 and 80 of the active-camera reply
  uint8_t ptzTrailerColumns = 4;
  int fillerBytes = 0;                 // bytes before the frame marker
  int maxLiveChannels = kMaxChannels;  // channels one session may have started at once
  LiveCloseMode liveClose = LiveCloseMode::Keep;

  AudioCodec audioCodec = AudioCodec::G726;
  AudioSourceKind audioSource = AudioSourceKind::Speech;
  G726Packing g726Packing = G726Packing::Right;
  uint32_t audioMask = 0xFFFFFFFF;  // channels that have audio
  // Each audio block / live frame goes out up to this many ms after its time (uniform random);
  // the schedule itself stays real time. 0: on time.
  int audioJitterMs = 0;
  int liveJitterMs = 0;

  double aliveIntervalSeconds = 5.0;  // 0: no alive checks
  double aliveTimeoutSeconds = 15.0;
  double chatterSeconds = 0.0;  // 0: no unsolicited uninterpreted replies
  bool verbose = false;

  std::vector<std::string> faults;  // control-interface fault commands run at start
  std::string controlSocket;        // unix socket for control commands, empty: none
  bool readStdin = true;
};

// Parses the command line. Returns an error text, or empty on success; help and version set
// the flags and stop parsing. The configured account's password comes from --password-file,
// --password or the DVR_EMULATOR_PASSWORD environment variable, in that order (default admin).
struct ParsedCommandLine {
  EmulatorConfig config;
  bool showHelp = false;
  bool showVersion = false;
  std::string error;
  std::vector<std::string> warnings;  // one line each, for standard error
};
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);
std::string usageText();
inline constexpr const char* kVersionText = "dvr-emulator 1.0";

// Shared helpers for option values.
std::optional<uint32_t> parseNumber(const std::string& text);  // decimal or 0x hex
bool parseSize(const std::string& text, int* width, int* height);
bool isSupportedFrameSize(int width, int height);
bool applyChannelSetting(ChannelConfig& channel, const std::string& key, const std::string& value,
                         std::string* error);

}  // namespace dvremu
