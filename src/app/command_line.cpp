#include "app/command_line.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

#include "app/password_source.h"
#include "monitor/channel_pages.h"
#include "monitor/grid_layout.h"

namespace {
bool allDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Plain decimal digits only: no sign, blanks, hex or exponent, which from_chars would take.
bool parseInt(const std::string& text, int low, int high, int* value) {
  if (!allDigits(text) || text.size() > 9) return false;
  int parsed = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, parsed);
  if (ec != std::errc() || ptr != end || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

// DIGITS or DIGITS.DIGITS within low..kMaxOptionSeconds.
std::string parseSeconds(const std::string& text, double low, const char* lowText, double* value) {
  const std::string range = std::string("seconds must be a decimal number from ") + lowText +
                            " to " + std::to_string(static_cast<long>(kMaxOptionSeconds));
  const size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? "1" : text.substr(dot + 1);
  if (text.size() > 32 || !allDigits(whole) || !allDigits(fraction)) return range;
  double parsed = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, parsed, std::chars_format::fixed);
  if (ec != std::errc() || ptr != end || !std::isfinite(parsed) || parsed < low ||
      parsed > kMaxOptionSeconds)
    return range;
  *value = parsed;
  return {};
}

// Folders go through the platform's text paths, which can't carry a name that isn't UTF-8.
bool isUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t more = 0;
    uint32_t point = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      more = 1;
      point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      more = 2;
      point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      more = 3;
      point = lead & 0x07u;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;
    for (size_t k = 1; k <= more; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0u) != 0x80u) return false;
      point = (point << 6) | (next & 0x3Fu);
    }
    const uint32_t smallest = more == 1 ? 0x80 : more == 2 ? 0x800 : 0x10000;
    if (point < smallest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}
}  // namespace

bool parseHostPort(const std::string& text, std::string* host, uint16_t* port, std::string* error) {
  const auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (text.find_first_of("[]") != std::string::npos || text.find(':') != text.rfind(':'))
    return fail("IPv6 addresses are not supported: the DVR connection is IPv4 only");
  std::string name = text;
  std::string portText;
  if (const size_t colon = text.find(':'); colon != std::string::npos) {
    name = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (portText.empty()) return fail("the port after ':' is missing");
  }
  if (name.empty()) return fail("the host is missing");
  if (name.size() > 253) return fail("the host name is longer than 253 characters");
  for (char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                         (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
    if (!allowed) return fail("a host name holds only letters, digits, '.', '-' and '_'");
  }
  int value = kDefaultDvrPort;
  if (!portText.empty() && !parseInt(portText, 1, 65535, &value))
    return fail("the port must be a number from 1 to 65535");
  *host = name;
  *port = static_cast<uint16_t>(value);
  return true;
}

bool parseCommandLine(const std::vector<std::string>& args, CommandLineOptions* options,
                      std::string* error) {
  CommandLineOptions parsed;
  // A setter answers an empty string, or why the value is refused.
  using Setter = std::function<std::string(const std::string&)>;
  const auto text = [](std::string* field) -> Setter {
    return [field](const std::string& v) -> std::string {
      *field = v;  // kept byte for byte: a file name need not be UTF-8
      return v.empty() ? "it is empty" : "";
    };
  };
  const auto folder = [](std::string* field) -> Setter {
    return [field](const std::string& v) -> std::string {
      *field = v;
      if (v.empty()) return "it is empty";
      return isUtf8(v) ? "" : "a folder name must be valid UTF-8";
    };
  };
  const auto number = [](int* field, int low, int high) -> Setter {
    return [=](const std::string& v) -> std::string {
      if (parseInt(v, low, high, field)) return {};
      return "it must be a number from " + std::to_string(low) + " to " + std::to_string(high);
    };
  };
  const auto seconds = [](double* field, double low, const char* lowText) -> Setter {
    return [=](const std::string& v) { return parseSeconds(v, low, lowText, field); };
  };
  const std::map<std::string, bool*> flags = {
      {"--help", &parsed.help},
      {"-h", &parsed.help},
      {"--version", &parsed.version},
      {"--audio", &parsed.audio},
      {"--fullscreen", &parsed.fullScreen},
      {"--demo", &parsed.demo},
      {"-v", &parsed.verbose},
      {"--verbose", &parsed.verbose},
      {"--allow-core-dumps", &parsed.allowCoreDumps},
      {"--diagnostics", &parsed.diagnostics},
      {"--connect-again", &parsed.connectAgain},
      {"--move-camera", &parsed.moveCamera},
      {"--overwrite", &parsed.overwrite},
      {"--reconnect", &parsed.reconnect},
      {"--monitor", &parsed.monitor},
      {"--no-notify", &parsed.noNotify},
  };
  const std::map<std::string, Setter> valued = {
      {"--connect",
       [&](const std::string& v) {
         std::string why;
         return parseHostPort(v, &parsed.host, &parsed.port, &why) ? std::string() : why;
       }},
      {"--user",
       [&](const std::string& v) {
         parsed.user = v;
         return loginTextProblem(v);
       }},
      {"--password-file", text(&parsed.passwordFile)},
      {"--channel", number(&parsed.channel, 1, 16)},
      {"--tour", seconds(&parsed.tourSeconds, 0.5, "0.5")},
      {"--link-timeout", seconds(&parsed.linkTimeoutSeconds, 1, "1")},
      {"--zoom", number(&parsed.zoom, 1, 4)},
      {"--data-dir", folder(&parsed.dataDir)},
      {"--audio-out", text(&parsed.audioOut)},
      {"--quit-after", seconds(&parsed.quitAfterSeconds, 0.1, "0.1")},
      {"--screenshot", text(&parsed.screenshot)},
      {"--record", text(&parsed.record)},
      {"--capture-dir", folder(&parsed.captureDir)},
      {"--reconnect-first-wait-ms", number(&parsed.reconnectFirstWaitMs, 1, 60000)},
      {"--grid",
       [&](const std::string& v) -> std::string {
         parsed.grid = v;
         return parseGridLayout(v) ? "" : "it must be 1, 4, 9, 16, 1+5 or 1+7";
       }},
      {"--channels",
       [&](const std::string& v) -> std::string {
         std::string why;
         const auto channels = parseChannelList(v, &why);
         if (!channels) return why;
         parsed.monitorChannels = *channels;
         return {};
       }},
      {"--focus", number(&parsed.focusTile, 1, 16)},
      {"--tile-fps", number(&parsed.tileFps, 1, 100)},
      {"--page-tour", seconds(&parsed.pageTourSeconds, 0.5, "0.5")},
      {"--geometry",
       [&](const std::string& v) -> std::string {
         const size_t x = v.find('x');
         int width = 0, height = 0;
         if (x == std::string::npos || !parseInt(v.substr(0, x), 160, 16384, &width) ||
             !parseInt(v.substr(x + 1), 120, 16384, &height))
           return "it must be WIDTHxHEIGHT, 160x120 to 16384x16384";
         parsed.geometryWidth = width;
         parsed.geometryHeight = height;
         return {};
       }},
  };
  std::vector<std::string> monitorOnly;

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
    if (name == "--grid" || name == "--channels" || name == "--focus" || name == "--tile-fps" ||
        name == "--page-tour" || name == "--geometry")
      monitorOnly.push_back(name);
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
    if (const std::string why = option->second(value); !why.empty()) {
      // A value with a line break would make the error more than one line.
      const bool printable = value.find_first_of("\r\n") == std::string::npos;
      *error = "invalid value " + (printable ? "'" + value + "' " : std::string()) + "for " + name +
               ": " + why;
      return false;
    }
  }
  if (!parsed.host.empty() && parsed.demo) {
    *error = "--connect and --demo exclude each other";
    return false;
  }
  // The compact window never keeps the password of a Connect made in its dialog, so only the
  // command line's DVR can be connected to again; the monitor window keeps its session's.
  if (parsed.reconnect && parsed.host.empty() && !parsed.demo && !parsed.monitor) {
    *error = "--reconnect needs --connect or --demo";
    return false;
  }
  if (!parsed.monitor && !monitorOnly.empty()) {
    *error = monitorOnly.front() + " needs --monitor";
    return false;
  }
  if (parsed.monitor) {
    const std::pair<bool, const char*> compactOnly[] = {{parsed.tourSeconds > 0, "--tour"},
                                                        {!parsed.record.empty(), "--record"},
                                                        {parsed.zoom > 0, "--zoom"}};
    for (const auto& [given, name] : compactOnly) {
      if (!given) continue;
      *error = std::string(name) + " is for the compact window, not with --monitor";
      return false;
    }
    const int tiles = gridTileCount(parseGridLayout(parsed.grid).value_or(GridLayout::Sixteen));
    if (parsed.focusTile > tiles) {
      *error = "--focus " + std::to_string(parsed.focusTile) + " is beyond the grid's " +
               std::to_string(tiles) + " tiles";
      return false;
    }
  }
  *options = parsed;
  return true;
}

std::string commandLineHelp() {
  return "Usage: pelloxview [OPTIONS]\n"
         "Live-view client for networked digital video recorders.\n"
         "Without --connect or --demo the Connect dialog comes up.\n"
         "\n"
         "  --connect HOST[:PORT]   connect at start (default port 9000; IPv4 only)\n"
         "  --user ID               user ID for --connect\n"
         "  --password-file FILE    file whose first line is the password\n"
         "                          (or set PELLOXVIEW_PASSWORD; 1..32 printable ASCII)\n"
         "  --channel N             once connected, show channel N (1..16)\n"
         "  --audio                 once connected, switch audio on\n"
         "  --fullscreen            show the picture full screen once it runs\n"
         "  --tour SECONDS          move to the next channel every SECONDS\n"
         "  --reconnect             after a lost link, a failed connect or a refusal that\n"
         "                          passes, connect again after 1, 2, 4 ... 32, then every 60 s\n"
         "  --link-timeout SECONDS  control-link silence that counts as lost (default 20)\n"
         "                          (SECONDS: a decimal number up to 2147483)\n"
         "  --zoom N                zoom the whole window 1..4; remembered for later runs\n"
         "                          (in pelloxview.conf in the data directory)\n"
         "  --data-dir DIR          directory of the address book\n"
         "  --audio-out FILE.wav    write the audio to a WAV file instead of the sound device\n"
         "  --demo                  start the built-in demo DVR and connect to it\n"
         "  --quit-after SECONDS    disconnect and end after SECONDS\n"
         "  --screenshot FILE       save the window as PNG when the quit time comes\n"
         "  --record FILE.mkv       record the first channel shown (Matroska)\n"
         "  --overwrite             let --record and --screenshot replace an existing file\n"
         "                          (without it an existing file is an error)\n"
         "  --capture-dir DIR       folder of snapshots (key S) and recordings (key R)\n"
         "  --no-notify             no desktop notifications of DVR notices and lost links\n"
         "  -v, --verbose           print every status text and message box on stderr\n"
         "\n"
         "  --monitor               the monitor window: every channel in a grid of tiles\n"
         "  --grid LAYOUT           1, 4, 9, 16, 1+5 or 1+7 tiles (default: the last one used)\n"
         "  --channels LIST         channels in tile order, e.g. 3,1,4,2 (0: an empty tile;\n"
         "                          default: the DVR's enabled channels)\n"
         "  --focus TILE            focus tile TILE (counted from 1): its audio and camera\n"
         "  --tile-fps N            at most N frames a second for the tiles not focused\n"
         "  --page-tour SECONDS     move to the next page of channels every SECONDS\n"
         "  --geometry WxH          the monitor window's size (without a display: 1280x720)\n"
         "                          With --monitor: --channel N focuses the tile showing N,\n"
         "                          --screenshot saves the monitor window\n"
         "  --allow-core-dumps      debugging: keep core dumps on (they can hold the password)\n"
         "  -h, --help, --version\n"
         "\n"
         "Exit status: 0 all went well (a link lost after \"Connected.\" included), 1 no display\n"
         "for the Connect dialog or no demo DVR, 2 a bad option or password file, 3 --connect or\n"
         "--demo never reached \"Connected.\", 4 --record, --screenshot or --audio-out not "
         "written\n"
         "in full. SIGINT, SIGTERM and SIGHUP close the window as its close button does.\n";
}
