#pragma once
// One channel's RTSP side: the media (pipeline) that serves it to every RTSP client, and what
// feeds that media's two appsrc elements: the channel's frames as they came (JPEG frames made to
// fit RTP/JPEG first) and its audio, or silence while the DVR's audio is on another channel.
// A channel has at most one live media (they are shared), briefly two while one is replaced.
//
// Threads: pushVideo() on the live-stream thread, pushAudio() on the audio thread, tick() and the
// media calls on GStreamer's threads, the counts on the owner's thread. One mutex per channel; a
// push never blocks (the appsrc queues are bounded and drop their oldest data).
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "bridge/audio_timeline.h"
#include "bridge/rtp_jpeg_fit.h"
#include "bridge/video_pacing.h"
#include "session/session_listener.h"

typedef struct _GstElement GstElement;
typedef struct _GstRTSPMedia GstRTSPMedia;

class CRtspChannel {
 public:
  using Clock = std::chrono::steady_clock;

  explicit CRtspChannel(uint8_t channel);
  ~CRtspChannel();
  CRtspChannel(const CRtspChannel&) = delete;
  CRtspChannel& operator=(const CRtspChannel&) = delete;

  uint8_t number() const { return channel_; }

  // The pipeline description for a media of this channel, by the codec the DVR sends.
  static std::string pipelineFor(LiveCodec codec);

  // The codec of the channel's frames, once one came. A media can't be built before (its
  // pipeline depends on it): waits up to timeout, counting as a watcher meanwhile so that the
  // channel is pulled.
  std::optional<LiveCodec> waitForCodec(std::chrono::milliseconds timeout);

  // A media of this channel was configured (its pipeline built) or is gone. Either may come
  // twice for the same media.
  void attach(GstRTSPMedia* media, LiveCodec codec);
  void detach(GstRTSPMedia* media);
  // For a client about to ask for the channel's media: waits, up to timeout, until no media of
  // the channel is being taken down (such a media can't serve a new client, and its factory
  // hands it out until it is gone), then holds the live media prepared, so that its last client
  // leaving now doesn't take it down under the new one. Returns the held media (a reference of
  // the caller's) or null when there is none; releaseMedia() lets it go once the client's
  // request has taken its own hold.
  GstRTSPMedia* holdLiveMedia(std::chrono::milliseconds timeout);
  static void releaseMedia(GstRTSPMedia* media);

  // Live-stream thread: one frame's coded data (a JPEG image from its start marker on, or an
  // MPEG-4 frame).
  void pushVideo(LiveCodec codec, const uint8_t* data, size_t length, Clock::time_point arrival);
  // Audio thread: decoded 8 kHz samples of this channel.
  void pushAudio(const int16_t* samples, size_t count, Clock::time_point arrival);
  // A few times a second: silence where no audio came; a media whose channel sent nothing for
  // startTimeout since it was built fails (its DESCRIBE gets an error instead of waiting on).
  void tick(Clock::time_point now, std::chrono::milliseconds startTimeout);

  // Medias alive plus DESCRIBEs waiting for the codec: the channel is watched while above 0.
  int watchers() const;
  // When the oldest live media was built (the audio goes to the channel watched longest);
  // nullopt without one.
  std::optional<Clock::time_point> watchedSince() const;
  RtspFitCounts fitCounts() const;

 private:
  struct Feed;
  void pushSilence(Feed& feed, CAudioTimeline::Span span);
  void pushSamples(Feed& feed, int64_t start, const int16_t* samples, size_t count);

  const uint8_t channel_;
  mutable std::mutex mutex_;
  std::condition_variable codecKnown_;
  std::condition_variable feedGone_;
  std::optional<LiveCodec> codec_;
  int waiting_ = 0;
  std::vector<std::unique_ptr<Feed>> feeds_;
  std::atomic<bool> anyFeed_{false};
  RtspFitCounts fits_;
  CRtpJpegFitter fitter_;    // live-stream thread only
  CFrameInterval interval_;  // live-stream thread only
};

// True when an MPEG-4 frame carries a VOL header (00 00 01 2x) before an intra picture: a media
// can start on it, as its configuration comes with it.
bool carriesMpeg4Config(const uint8_t* coded, size_t length);
