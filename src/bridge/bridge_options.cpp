#include "bridge/bridge_options.h"

#include <arpa/inet.h>

#include <charconv>

const char* const kBridgeUsage =
    "usage: pelloxview-bridge --connect HOST[:PORT] --user ID [--password-file FILE]\n"
    "                         [--http ADDR:PORT] [--rtsp ADDR:PORT|off] [--channels LIST]\n"
    "                         [--config FILE] [--auth-file FILE | --no-auth]\n"
    "                         [--grace SECONDS] [--max-clients N] [-v]\n"
    "The DVR password comes from --password-file or PELLOXVIEW_PASSWORD.\n"
    "Channel N streams at http://ADDR:PORT/channels/N.mjpg and rtsp://ADDR:PORT/channel/N\n"
    "(RTSP on 127.0.0.1:8554 unless --rtsp says otherwise).\n";

namespace {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool parseNumber(std::string_view text, int low, int high, int* value) {
  int parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high)
    return false;
  *value = parsed;
  return true;
}

bool parseHostPort(std::string_view text, std::string* host, uint16_t* port, uint16_t defaultPort) {
  const auto colon = text.rfind(':');
  std::string_view hostPart = text;
  int number = defaultPort;
  if (colon != std::string_view::npos) {
    hostPart = text.substr(0, colon);
    if (!parseNumber(text.substr(colon + 1), 1, 65535, &number)) return false;
  }
  if (hostPart.empty() || hostPart.size() > 253) return false;
  for (const char c : hostPart) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-';
    if (!ok) return false;
  }
  *host = std::string(hostPart);
  *port = static_cast<uint16_t>(number);
  return true;
}

// One setting by its long option's name. needsValue tells the command line whether to take the
// next argument.
bool isFlag(std::string_view key) {
  return key == "no-auth" || key == "verbose" || key == "help";
}

bool takesValue(std::string_view key) {
  for (const char* name : {"connect", "user", "password-file", "http", "rtsp", "channels",
                           "auth-file", "grace", "max-clients"})
    if (key == name) return true;
  return false;
}

OptionsResult apply(std::string_view key, std::string_view value, BridgeOptions* options) {
  OptionsResult result;
  const auto fail = [&](std::string text) {
    result.error = std::move(text);
    return result;
  };
  if (key == "connect") {
    if (!parseHostPort(value, &options->dvrAddress, &options->dvrPort, kDefaultDvrPort))
      return fail("--connect needs HOST[:PORT]");
  } else if (key == "user") {
    if (value.empty()) return fail("--user needs an ID");
    options->userId = std::string(value);
  } else if (key == "password-file") {
    if (value.empty()) return fail("--password-file needs a file");
    options->passwordFile = std::string(value);
  } else if (key == "http") {
    if (!parseListenAddress(value, &options->http)) return fail("--http needs ADDR:PORT");
  } else if (key == "rtsp") {
    if (value == "off" || value == "none") {
      options->rtspEnabled = false;
    } else if (parseListenAddress(value, &options->rtsp)) {
      options->rtspEnabled = true;
    } else {
      return fail("--rtsp needs ADDR:PORT or off");
    }
  } else if (key == "channels") {
    if (!parseChannelList(value, &options->channelMask))
      return fail("--channels needs channel numbers 1..16, separated by commas");
  } else if (key == "auth-file") {
    if (value.empty()) return fail("--auth-file needs a file");
    options->authFile = std::string(value);
  } else if (key == "grace") {
    if (!parseNumber(value, 0, 3600, &options->graceSeconds))
      return fail("--grace needs 0..3600 seconds");
  } else if (key == "max-clients") {
    if (!parseNumber(value, 1, 1000, &options->maxClients))
      return fail("--max-clients needs 1..1000");
  } else if (key == "no-auth" || key == "verbose") {
    bool on = true;
    if (value == "false" || value == "no" || value == "0")
      on = false;
    else if (!(value.empty() || value == "true" || value == "yes" || value == "1"))
      return fail(std::string(key) + " needs true or false");
    (key == "no-auth" ? options->noAuth : options->verbose) = on;
  } else if (key == "help") {
    options->help = true;
  } else {
    return fail("unknown setting '" + std::string(key.substr(0, 40)) + "'");
  }
  result.ok = true;
  return result;
}

}  // namespace

bool ListenAddress::loopback() const {
  in_addr address{};
  if (::inet_pton(AF_INET, host.c_str(), &address) != 1) return false;
  return (ntohl(address.s_addr) >> 24) == 127;
}

bool parseChannelList(std::string_view text, uint32_t* mask) {
  uint32_t result = 0;
  while (true) {
    const auto comma = text.find(',');
    int channel = 0;
    if (!parseNumber(trim(text.substr(0, comma)), 1, 16, &channel)) return false;
    result |= 1u << (channel - 1);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  *mask = result;
  return true;
}

bool parseListenAddress(std::string_view text, ListenAddress* address) {
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string host(text.substr(0, colon));
  if (host == "localhost") host = "127.0.0.1";
  in_addr parsed{};
  if (::inet_pton(AF_INET, host.c_str(), &parsed) != 1) return false;
  int port = 0;
  if (!parseNumber(text.substr(colon + 1), 0, 65535, &port)) return false;
  address->host = host;
  address->port = static_cast<uint16_t>(port);
  return true;
}

OptionsResult parseBridgeConfig(std::string_view text, BridgeOptions* options) {
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const auto newline = text.find('\n');
    const std::string_view line = trim(text.substr(0, newline));
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (line.empty() || line.front() == '#') continue;
    const auto equals = line.find('=');
    const std::string_view key = trim(line.substr(0, equals));
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view{} : trim(line.substr(equals + 1));
    if (key == "config" || key == "help" || (equals == std::string_view::npos && !isFlag(key))) {
      return {false, "line " + std::to_string(lineNumber) + ": expected 'key = value'"};
    }
    OptionsResult applied = apply(key, value, options);
    if (!applied.ok) {
      applied.error = "line " + std::to_string(lineNumber) + ": " + applied.error;
      return applied;
    }
  }
  return {true, {}};
}

OptionsResult parseBridgeArguments(const std::vector<std::string>& arguments,
                                   BridgeOptions* options, FileReader readFile) {
  // The config file first, so the command line overrides it wherever the option is placed.
  for (size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] != "--config") continue;
    std::string text;
    std::string error;
    if (!readFile(arguments[i + 1], &text, &error)) return {false, error};
    OptionsResult parsed = parseBridgeConfig(text, options);
    if (!parsed.ok) {
      parsed.error = arguments[i + 1] + ": " + parsed.error;
      return parsed;
    }
    options->configFile = arguments[i + 1];
  }
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    std::string key;
    if (argument == "-v") {
      key = "verbose";
    } else if (argument == "-h") {
      key = "help";
    } else if (argument.rfind("--", 0) == 0) {
      key = argument.substr(2);
    } else {
      return {false, "unexpected argument '" + argument.substr(0, 40) + "'"};
    }
    if (key == "password") {
      // Never on a command line: others can read it in the process list.
      return {false, "the password goes in --password-file FILE or PELLOXVIEW_PASSWORD"};
    }
    if (key == "config") {
      if (i + 1 >= arguments.size()) return {false, "--config needs a file"};
      ++i;
      continue;
    }
    if (!isFlag(key) && !takesValue(key))
      return {false, "unknown option '" + argument.substr(0, 40) + "'"};
    std::string value;
    if (!isFlag(key)) {
      if (i + 1 >= arguments.size()) return {false, "--" + key + " needs a value"};
      value = arguments[++i];
    }
    OptionsResult applied = apply(key, value, options);
    if (!applied.ok) return applied;
  }
  return {true, {}};
}

OptionsResult checkBridgeOptions(const BridgeOptions& options) {
  if (options.dvrAddress.empty()) return {false, "--connect HOST[:PORT] is needed"};
  if (options.userId.empty()) return {false, "--user ID is needed"};
  if (!options.authFile.empty() && options.noAuth)
    return {false, "--auth-file and --no-auth exclude each other"};
  if (!options.http.loopback() && options.authFile.empty() && !options.noAuth) {
    return {false, "--http " + options.http.host +
                       " is not a loopback address: give --auth-file FILE (or --no-auth)"};
  }
  if (options.rtspEnabled && !options.rtsp.loopback() && options.authFile.empty() &&
      !options.noAuth) {
    return {false, "--rtsp " + options.rtsp.host +
                       " is not a loopback address: give --auth-file FILE (or --no-auth)"};
  }
  return {true, {}};
}
