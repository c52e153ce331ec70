#include <cstdio>

#include "bridge/bridge_state.h"

namespace {

std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

}  // namespace

std::string escapeHtml(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string escapeJson(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      // The DVR's texts are single-byte; anything outside ASCII goes as its code point.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

std::string renderPage(const BridgeView& view) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\">"
      "<title>PelloxView bridge</title><style>"
      "body{background:#111;color:#ddd;font-family:sans-serif;margin:8px}"
      ".grid{display:grid;grid-template-columns:repeat(auto-fill,minmax(320px,1fr));gap:6px}"
      "figure{margin:0}img{width:100%;background:#000;aspect-ratio:4/3;object-fit:contain}"
      "figcaption{font-size:90%}</style></head><body>\n";
  page += "<h1>" +
          escapeHtml(view.model.empty() ? view.address : view.model + " at " + view.address) +
          "</h1>\n";
  page += "<p id=\"state\">" + escapeHtml(view.phase) + ": " + escapeHtml(view.status) + "</p>\n";
  page += "<ul id=\"notices\">";
  for (const std::string& notice : view.notices) page += "<li>" + escapeHtml(notice) + "</li>";
  page += "</ul>\n<div class=\"grid\">\n";
  for (size_t n = 0; n < view.channels.size(); ++n) {
    if (!view.channels[n].offered) continue;
    const std::string channel = std::to_string(n + 1);
    page += "<figure><a href=\"/channels/" + channel + ".jpg\"><img src=\"/channels/" + channel +
            ".mjpg\" alt=\"Channel " + channel + "\"></a><figcaption>Channel " + channel +
            (view.channels[n].refused ? " (Not available)" : "") + "</figcaption></figure>\n";
  }
  page += "</div></body></html>\n";
  return page;
}

std::string renderStatusJson(const BridgeView& view) {
  std::string json = "{\"dvr\":{\"address\":\"" + escapeJson(view.address) + "\",\"model\":\"" +
                     escapeJson(view.model) + "\",\"state\":\"" + escapeJson(view.phase) +
                     "\",\"status\":\"" + escapeJson(view.status) +
                     "\",\"sessions\":" + std::to_string(view.sessions) + "},\"notices\":[";
  for (size_t i = 0; i < view.notices.size(); ++i)
    json += (i ? ",\"" : "\"") + escapeJson(view.notices[i]) + "\"";
  json += "],\"channels\":[";
  bool first = true;
  for (size_t n = 0; n < view.channels.size(); ++n) {
    const ChannelView& c = view.channels[n];
    if (!c.offered) continue;
    json += first ? "" : ",";
    first = false;
    json += "{\"channel\":" + std::to_string(n + 1) + ",\"codec\":\"" + c.codec +
            "\",\"pulled\":" + (c.pulled ? "true" : "false") +
            ",\"running\":" + (c.running ? "true" : "false") +
            ",\"refused\":" + (c.refused ? "true" : "false") +
            ",\"clients\":" + std::to_string(c.counters.clients) +
            ",\"rtsp_clients\":" + std::to_string(c.rtspClients) +
            ",\"fps_in\":" + number(c.fpsIn) + ",\"fps_out\":" + number(c.fpsOut) +
            ",\"frames_in\":" + std::to_string(c.counters.picturesIn) +
            ",\"frames_out\":" + std::to_string(c.counters.picturesOut) +
            ",\"frames_skipped\":" + std::to_string(c.counters.skipped) + "}";
  }
  json += "]}\n";
  return json;
}

std::string renderMetrics(const BridgeView& view) {
  std::string text =
      "# HELP pelloxview_bridge_connected Whether the DVR session is connected.\n"
      "# TYPE pelloxview_bridge_connected gauge\n"
      "pelloxview_bridge_connected " +
      std::string(view.phase == "ready" ? "1" : "0") +
      "\n# HELP pelloxview_bridge_sessions_total DVR sessions that reached Connected.\n"
      "# TYPE pelloxview_bridge_sessions_total counter\n"
      "pelloxview_bridge_sessions_total " +
      std::to_string(view.sessions) + "\n";
  struct Series {
    const char* name;
    const char* type;
    const char* help;
    std::string (*value)(const ChannelView&);
  };
  const Series series[] = {
      {"pelloxview_bridge_clients", "gauge", "HTTP clients watching the channel.",
       [](const ChannelView& c) { return std::to_string(c.counters.clients); }},
      {"pelloxview_bridge_rtsp_clients", "gauge", "RTSP clients watching the channel.",
       [](const ChannelView& c) { return std::to_string(c.rtspClients); }},
      {"pelloxview_bridge_fps_in", "gauge", "Pictures a second from the DVR.",
       [](const ChannelView& c) { return number(c.fpsIn); }},
      {"pelloxview_bridge_fps_out", "gauge", "Pictures a second sent, summed over clients.",
       [](const ChannelView& c) { return number(c.fpsOut); }},
      {"pelloxview_bridge_frames_in_total", "counter", "Pictures from the DVR.",
       [](const ChannelView& c) { return std::to_string(c.counters.picturesIn); }},
      {"pelloxview_bridge_frames_out_total", "counter", "Pictures sent, summed over clients.",
       [](const ChannelView& c) { return std::to_string(c.counters.picturesOut); }},
      {"pelloxview_bridge_frames_skipped_total", "counter",
       "Pictures a client was too slow to take.",
       [](const ChannelView& c) { return std::to_string(c.counters.skipped); }},
  };
  for (const Series& s : series) {
    text +=
        std::string("# HELP ") + s.name + " " + s.help + "\n# TYPE " + s.name + " " + s.type + "\n";
    for (size_t n = 0; n < view.channels.size(); ++n) {
      if (!view.channels[n].offered) continue;
      text += std::string(s.name) + "{channel=\"" + std::to_string(n + 1) + "\"} " +
              s.value(view.channels[n]) + "\n";
    }
  }
  return text;
}
