#pragma once
// What the web page, /status.json and /metrics show: the session's state as the owner's thread
// last saw it, and per channel the rates measured over the last second. The owner's thread
// writes; HTTP threads read a copy. Never holds the DVR password.
#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "bridge/frame_hub.h"
#include "bridge/rtp_jpeg_fit.h"

struct ChannelView {
  bool offered = false;    // among the channels the bridge serves
  bool pulled = false;     // frames are asked for now (someone watches, or the grace runs)
  bool running = false;    // the DVR has it started
  bool refused = false;    // the DVR refused to start it
  const char* codec = "";  // "jpeg" or "mpeg4" once a frame came
  double fpsIn = 0;
  double fpsOut = 0;
  ChannelCounters counters;
  int rtspClients = 0;  // RTSP clients that set up the channel's streams
  RtspFitCounts fits;   // the JPEG frames sent over RTSP: as they came, re-coded, or dropped
};

struct BridgeView {
  std::string address;  // the DVR's address as configured
  std::string model;
  std::string phase;                // "idle", "connecting", "ready", "disconnecting"
  std::string status;               // the status line ("... Connected.")
  std::deque<std::string> notices;  // newest last
  uint64_t sessions = 0;            // times the session reached "Connected."
  bool dvrKnown = false;            // the DVR's channels are known (or --channels named them)
  std::array<ChannelView, CFrameHub::kChannels> channels;
};

class CBridgeState {
 public:
  static constexpr size_t kMaxNotices = 10;

  template <typename Change>
  void update(Change&& change) {
    std::lock_guard lock(mutex_);
    change(view_);
  }
  void addNotice(const std::string& text) {
    std::lock_guard lock(mutex_);
    view_.notices.push_back(text);
    while (view_.notices.size() > kMaxNotices) view_.notices.pop_front();
  }
  BridgeView snapshot() const {
    std::lock_guard lock(mutex_);
    return view_;
  }

 private:
  mutable std::mutex mutex_;
  BridgeView view_;
};

// The documents built from a snapshot.
std::string renderPage(const BridgeView& view);
std::string renderStatusJson(const BridgeView& view);
std::string renderMetrics(const BridgeView& view);
// Text made safe inside HTML, and inside a JSON string.
std::string escapeHtml(const std::string& text);
std::string escapeJson(const std::string& text);
