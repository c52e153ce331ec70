#pragma once
// The viewer's command line. Every option is long-form; a password is never an argument (it comes
// from --password-file or PELLOXVIEW_PASSWORD).
#include <cstdint>
#include <string>
#include <vector>

struct CommandLineOptions {
  bool help = false;
  bool version = false;
  std::string host;  // --connect HOST[:PORT]; empty: the Connect dialog comes up
  uint16_t port = 0;
  std::string user;
  std::string passwordFile;
  int channel = 0;  // 1..16, 0: none
  bool audio = false;
  bool fullScreen = false;
  double tourSeconds = 0;
  double linkTimeoutSeconds = 20;
  int zoom = 0;  // 1..4, 0: chosen from the screen
  std::string dataDir;
  std::string audioOut;
  bool demo = false;
  double quitAfterSeconds = 0;  // 0: run until closed
  std::string screenshot;
  std::string record;      // record the first channel shown to this Matroska file
  std::string captureDir;  // folder of snapshots (S) and recordings (R)
  bool overwrite = false;  // --record and --screenshot may replace an existing file
  bool verbose = false;
  // After a lost link or stream, a failed connect or a refusal that passes, connect to the same
  // DVR again with growing waits (needs --connect or --demo).
  bool reconnect = false;
  // Hidden, for tests only: the first reconnect wait in ms (the others scale with it).
  int reconnectFirstWaitMs = 1000;
  bool noNotify = false;        // no desktop notifications of DVR notices and lost links
  bool allowCoreDumps = false;  // debugging: keep core dumps (they can hold the password)
  // Hidden, for fault campaigns: UI heartbeat and leftover threads and descriptors at exit, and
  // one more Connect to the same DVR once the first session is over.
  bool diagnostics = false;
  bool connectAgain = false;
  bool moveCamera = false;  // hidden: holds the camera-up key for a moment once a picture shows

  // The monitor window (--monitor) and its options; the others need it.
  bool monitor = false;
  std::string grid;                  // "1", "4", "9", "16", "1+5" or "1+7"; empty: remembered
  std::vector<int> monitorChannels;  // --channels, counted from 0, -1 for an empty tile
  int focusTile = 0;                 // 1-based, 0: none given
  int tileFps = 0;                   // 0: no cap
  double pageTourSeconds = 0;
  int geometryWidth = 0;  // --geometry WxH, 0: the default
  int geometryHeight = 0;
};

inline constexpr uint16_t kDefaultDvrPort = 9000;
// Seconds options end up as int milliseconds in timers: larger values would wrap.
inline constexpr double kMaxOptionSeconds = 2147483;

// Parses the arguments after the program name. False with a one-line message in *error.
bool parseCommandLine(const std::vector<std::string>& args, CommandLineOptions* options,
                      std::string* error);

// Splits HOST[:PORT]. False for an empty host, a bad port or an IPv6 form (the DVR connections
// are IPv4 only); *error, when given, then says why.
bool parseHostPort(const std::string& text, std::string* host, uint16_t* port,
                   std::string* error = nullptr);

// The --help text.
std::string commandLineHelp();
