#include "app/command_line.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace {
bool parseInt(const std::string& text, int low, int high, int* value) {
  int parsed = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, parsed);
  if (ec != std::errc() || ptr != end || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

bool parseSeconds(const std::string& text, double low, double* value) {
  if (text.empty() || text.size() > 32) return false;
  size_t used = 0;
  double parsed = 0;
  try {
    parsed = std::stod(text, &used);
  } catch (...) {
    return false;
  }
  if (used != text.size() || !std::isfinite(parsed) || parsed < low || parsed > 1e7) return false;
  *value = parsed;
  return true;
}
}  // namespace

bool parseHostPort(const std::string& text, std::string* host, uint16_t* port) {
  std::string name = text;
  std::string portText;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    name = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      portText = rest.substr(1);
      if (portText.empty()) return false;
    }
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    if (text.find(':') != colon) {
      name = text;  // a bare IPv6 literal
    } else {
      name = text.substr(0, colon);
      portText = text.substr(colon + 1);
      if (portText.empty()) return false;
    }
  }
  if (name.empty() || name.size() > 259) return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) <= ' ') return false;
  }
  int value = kDefaultDvrPort;
  if (!portText.empty() && !parseInt(portText, 1, 65535, &value)) return false;
  *host = name;
  *port = static_cast<uint16_t>(value);
  return true;
}

bool parseCommandLine(const std::vector<std::string>& args, CommandLineOptions* options,
                      std::string* error) {
  CommandLineOptions parsed;
  using Setter = std::function<bool(const std::string&)>;
  const std::map<std::string, bool*> flags = {
      {"--help", &parsed.help},
      {"--version", &parsed.version},
      {"--audio", &parsed.audio},
      {"--fullscreen", &parsed.fullScreen},
      {"--demo", &parsed.demo},
      {"-v", &parsed.verbose},
      {"--verbose", &parsed.verbose},
      {"--diagnostics", &parsed.diagnostics},
      {"--connect-again", &parsed.connectAgain},
      {"--move-camera", &parsed.moveCamera},
      {"--overwrite", &parsed.overwrite},
  };
  const std::map<std::string, Setter> valued = {
      {"--connect",
       [&](const std::string& v) { return parseHostPort(v, &parsed.host, &parsed.port); }},
      {"--user",
       [&](const std::string& v) {
         parsed.user = v;
         return !v.empty() && v.size() <= 259;
       }},
      {"--password-file",
       [&](const std::string& v) {
         parsed.passwordFile = v;
         return !v.empty();
       }},
      {"--channel", [&](const std::string& v) { return parseInt(v, 1, 16, &parsed.channel); }},
      {"--tour", [&](const std::string& v) { return parseSeconds(v, 0.5, &parsed.tourSeconds); }},
      {"--link-timeout",
       [&](const std::string& v) { return parseSeconds(v, 1, &parsed.linkTimeoutSeconds); }},
      {"--zoom", [&](const std::string& v) { return parseInt(v, 1, 4, &parsed.zoom); }},
      {"--data-dir",
       [&](const std::string& v) {
         parsed.dataDir = v;
         return !v.empty();
       }},
      {"--audio-out",
       [&](const std::string& v) {
         parsed.audioOut = v;
         return !v.empty();
       }},
      {"--quit-after",
       [&](const std::string& v) { return parseSeconds(v, 0.1, &parsed.quitAfterSeconds); }},
      {"--screenshot",
       [&](const std::string& v) {
         parsed.screenshot = v;
         return !v.empty();
       }},
      {"--record",
       [&](const std::string& v) {
         parsed.record = v;
         return !v.empty();
       }},
      {"--capture-dir",
       [&](const std::string& v) {
         parsed.captureDir = v;
         return !v.empty();
       }},
  };

  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "--password") {
      *error =
          "a password is never taken as an argument: use --password-file FILE or "
          "PELLOXVIEW_PASSWORD";
      return false;
    }
    if (const auto flag = flags.find(name); flag != flags.end()) {
      if (hasValue) {
        *error = "option " + name + " takes no value";
        return false;
      }
      *flag->second = true;
      continue;
    }
    const auto option = valued.find(name);
    if (option == valued.end()) {
      *error = "unknown option '" + args[i] + "' (see --help)";
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        *error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!option->second(value)) {
      *error = "invalid value '" + value + "' for " + name;
      return false;
    }
  }
  if (!parsed.host.empty() && parsed.demo) {
    *error = "--connect and --demo exclude each other";
    return false;
  }
  *options = parsed;
  return true;
}

std::string commandLineHelp() {
  return "Usage: pelloxview [OPTIONS]\n"
         "Live-view client for networked digital video recorders.\n"
         "Without --connect or --demo the Connect dialog comes up.\n"
         "\n"
         "  --connect HOST[:PORT]   connect at start (default port 9000)\n"
         "  --user ID               user ID for --connect\n"
         "  --password-file FILE    file whose first line is the password\n"
         "                          (or set PELLOXVIEW_PASSWORD)\n"
         "  --channel N             once connected, show channel N (1..16)\n"
         "  --audio                 once connected, switch audio on\n"
         "  --fullscreen            show the picture full screen once it runs\n"
         "  --tour SECONDS          move to the next channel every SECONDS\n"
         "  --link-timeout SECONDS  control-link silence that counts as lost (default 20)\n"
         "  --zoom N                zoom the whole window 1..4\n"
         "  --data-dir DIR          directory of the address book\n"
         "  --audio-out FILE.wav    write the audio to a WAV file instead of the sound device\n"
         "  --demo                  start the built-in demo DVR and connect to it\n"
         "  --quit-after SECONDS    disconnect and end after SECONDS\n"
         "  --screenshot FILE       save the window as PNG when the quit time comes\n"
         "  --record FILE.mkv       record the first channel shown (Matroska)\n"
         "  --overwrite             let --record and --screenshot replace an existing file\n"
         "                          (without it an existing file is an error)\n"
         "  --capture-dir DIR       folder of snapshots (key S) and recordings (key R)\n"
         "  -v, --verbose           print every status text and message box on stderr\n"
         "  --help, --version\n";
}
