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

namespace {

// A browser opens at most six connections to one server. Up to this many tiles each hold an
// MJPEG stream, leaving room for the status poll and a click; with more channels every tile
// shows snapshots fetched one after another instead, so no tile waits forever for a connection.
constexpr int kStreamedTiles = 4;

constexpr const char* kStyle =
    "body{background:#111;color:#ddd;font-family:sans-serif;margin:8px}"
    "h1{font-size:1.3em;margin:0 0 4px}#state{margin:0 0 6px}body.down #state{color:#f84}"
    "#notices{margin:0 0 6px;padding-left:1.2em;color:#fc6}"
    // As many columns as rows, the grid no wider than lets every row fit the window's height
    // (pictures are about 4:3); a phone shows one tile a row and scrolls.
    ".grid{display:grid;grid-template-columns:repeat(var(--cols),1fr);gap:6px;margin:0 auto;"
    "max-width:calc((100vh - 8em) / var(--rows) * 4 / 3 * var(--cols))}"
    "@media(max-width:600px){.grid{grid-template-columns:1fr;max-width:none}}"
    "figure{margin:0;border:2px solid transparent}figure.bad{border-color:#c33}"
    ".off img{visibility:hidden}"
    "img{display:block;width:100%;background:#000;aspect-ratio:auto 4/3;object-fit:contain}"
    "figcaption{font-size:90%;padding:2px 4px}.bad figcaption{color:#f84}";

// Keeps the state, the notices and each tile's note current from /status.json, marks a channel
// whose pictures stopped, reopens the streams once the bridge answers again after a loss, and
// loads the page again when the channels served change (a page loaded before the DVR answered
// has no tiles yet).
// A snapshot tile fetches its next picture and shows it once decoded, so it never goes blank.
constexpr const char* kScript = R"js(
(function(){
const tiles=[...document.querySelectorAll('img[data-channel]')];
const shown=tiles.map(img=>img.dataset.channel).join();const seen={};let lost=false;
const sleep=ms=>new Promise(done=>setTimeout(done,ms));
async function refresh(img){
for(;;){try{
const r=await fetch('/channels/'+img.dataset.channel+'.jpg',{cache:'no-store'});
if(!r.ok)throw r.status;
const url=URL.createObjectURL(await r.blob());const next=new Image();next.src=url;
await next.decode();const old=img.src;img.src=url;
if(old.startsWith('blob:'))URL.revokeObjectURL(old);await sleep(150);
}catch(e){await sleep(2000);}}}
for(const img of tiles)if('refresh' in img.dataset)refresh(img);
const note=(n,text,off)=>{const f=document.getElementById('tile'+n);if(!f)return;
f.querySelector('figcaption').textContent='Channel '+n+(text?' ('+text+')':'');
f.classList.toggle('bad',text!=='');f.classList.toggle('off',off);};
const show=(state,down)=>{document.getElementById('state').textContent=state;
document.body.classList.toggle('down',down);};
async function poll(){
try{
const r=await fetch('/status.json',{cache:'no-store'});if(!r.ok)throw r.status;
const s=await r.json();const now=Date.now();const ready=s.dvr.state==='ready';
if(s.channels.map(c=>c.channel).join()!==shown){location.reload();return;}
show(s.dvr.state+': '+s.dvr.status,!ready);
document.getElementById('notices').replaceChildren(...s.notices.slice().reverse().map(t=>{
const li=document.createElement('li');li.textContent=t;return li;}));
for(const c of s.channels){
const last=seen[c.channel];if(!last||last.n!==c.frames_in)seen[c.channel]={n:c.frames_in,t:now};
const still=Math.round((now-seen[c.channel].t)/1000);
note(c.channel,c.refused?'Not available':!ready?'DVR not connected':
c.pulled&&still>=5?'No pictures for '+still+' s':'',c.refused);}
if(lost)for(const img of tiles)if(!('refresh' in img.dataset))
img.src='/channels/'+img.dataset.channel+'.mjpg?t='+now;
lost=false;
}catch(e){lost=true;show('The bridge does not answer',true);}
setTimeout(poll,2000);}
poll();
})();
)js";

}  // namespace

std::string renderPage(const BridgeView& view) {
  int tiles = 0;
  for (const ChannelView& channel : view.channels) tiles += channel.offered ? 1 : 0;
  const bool streamed = tiles <= kStreamedTiles;
  std::string page = std::string(
                         "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                         "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                         "<title>") +
                     (view.model.empty() ? "" : escapeHtml(view.model) + " - ") +
                     "PelloxView bridge" + "</title><style>" + kStyle + "</style></head><body" +
                     (view.phase == "ready" ? "" : " class=\"down\"") + ">\n";
  page += "<h1 id=\"dvr\">" +
          escapeHtml(view.model.empty() ? view.address : view.model + " at " + view.address) +
          "</h1>\n";
  page += "<p id=\"state\">" + escapeHtml(view.phase) + ": " + escapeHtml(view.status) + "</p>\n";
  page += "<ul id=\"notices\">";
  for (auto notice = view.notices.rbegin(); notice != view.notices.rend(); ++notice)
    page += "<li>" + escapeHtml(*notice) + "</li>";
  int columns = 1;
  while (columns * columns < tiles) ++columns;
  const int rows = tiles == 0 ? 1 : (tiles + columns - 1) / columns;
  page += "</ul>\n<div class=\"grid\" style=\"--cols:" + std::to_string(columns) +
          ";--rows:" + std::to_string(rows) + "\">\n";
  for (size_t n = 0; n < view.channels.size(); ++n) {
    if (!view.channels[n].offered) continue;
    const std::string channel = std::to_string(n + 1);
    const bool refused = view.channels[n].refused;
    page += "<figure id=\"tile" + channel + "\"" + (refused ? " class=\"bad off\"" : "") +
            "><a href=\"/channels/" + channel + ".jpg\"><img src=\"/channels/" + channel +
            (streamed ? ".mjpg\"" : ".jpg\" data-refresh") + " data-channel=\"" + channel +
            "\" alt=\"Channel " + channel + "\"></a><figcaption>Channel " + channel +
            (refused ? " (Not available)" : "") + "</figcaption></figure>\n";
  }
  page += "</div>\n<script>" + std::string(kScript) + "</script>\n</body></html>\n";
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
            ",\"frames_skipped\":" + std::to_string(c.counters.skipped) +
            ",\"rtp_jpeg_fit\":{\"untouched\":" + std::to_string(c.fits.untouched) +
            ",\"transcoded\":" + std::to_string(c.fits.transcoded) +
            ",\"reencoded\":" + std::to_string(c.fits.reencoded) +
            ",\"unusable\":" + std::to_string(c.fits.unusable) + "}}";
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
  // One counter, the outcome as a label: the four add up to the JPEG frames RTSP had to send.
  constexpr const char* kFit = "pelloxview_bridge_rtp_jpeg_fit_total";
  text += std::string("# HELP ") + kFit +
          " JPEG frames for RTSP clients by how they fit RTP/JPEG: untouched, transcoded "
          "(re-coded without loss), reencoded, unusable (dropped).\n# TYPE " +
          kFit + " counter\n";
  for (size_t n = 0; n < view.channels.size(); ++n) {
    const ChannelView& c = view.channels[n];
    if (!c.offered) continue;
    const std::string labels =
        std::string(kFit) + "{channel=\"" + std::to_string(n + 1) + "\",result=\"";
    text += labels + "untouched\"} " + std::to_string(c.fits.untouched) + "\n";
    text += labels + "transcoded\"} " + std::to_string(c.fits.transcoded) + "\n";
    text += labels + "reencoded\"} " + std::to_string(c.fits.reencoded) + "\n";
    text += labels + "unusable\"} " + std::to_string(c.fits.unusable) + "\n";
  }
  return text;
}
