#pragma once
// The bridge's settings, from the command line and from a config file of "key = value" lines
// (the same names as the long options, without the dashes). Pure parsing; no files are read
// here except by the caller.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ListenAddress {
  std::string host = "127.0.0.1";  // dotted IPv4
  uint16_t port = 8080;
  bool loopback() const;
};

struct BridgeOptions {
  std::string dvrAddress;  // --connect HOST[:PORT]
  uint16_t dvrPort = 0;
  std::string userId;
  std::string passwordFile;  // empty: PELLOXVIEW_PASSWORD
  ListenAddress http;
  ListenAddress rtsp{"127.0.0.1", 8554};
  bool rtspEnabled = true;   // --rtsp off: no RTSP server
  uint32_t channelMask = 0;  // bit n: channel n (counted from 0); 0 = every enabled channel
  std::string configFile;
  std::string authFile;
  bool noAuth = false;
  int graceSeconds = 5;  // a channel stays started this long after its last client left
  int maxClients = 64;   // HTTP clients; the RTSP server admits as many connections again
  bool verbose = false;
  bool help = false;
};

struct OptionsResult {
  bool ok = false;
  std::string error;  // one line when !ok
};

inline constexpr uint16_t kDefaultDvrPort = 9000;

// Command-line arguments without the program name. A --config file is read through readFile and
// its settings apply first; the command line overrides them.
using FileReader = bool (*)(const std::string& path, std::string* text, std::string* error);
OptionsResult parseBridgeArguments(const std::vector<std::string>& arguments,
                                   BridgeOptions* options, FileReader readFile);

// One config file's text. Blank lines and lines starting with '#' are skipped.
OptionsResult parseBridgeConfig(std::string_view text, BridgeOptions* options);

// "1,3,4" (channels counted from 1, up to 16) into a mask.
bool parseChannelList(std::string_view text, uint32_t* mask);
// "ADDR:PORT" with a dotted IPv4 address (or "localhost"), port 0..65535.
bool parseListenAddress(std::string_view text, ListenAddress* address);

// The settings that must hold together: a DVR and user, auth on a non-loopback address.
OptionsResult checkBridgeOptions(const BridgeOptions& options);

extern const char* const kBridgeUsage;
