#include "bridge/rtsp_channel.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-media.h>

#include <algorithm>

#include "bridge/mpeg4_transcoder.h"

namespace {

constexpr int64_t kPrimeSamples = CAudioTimeline::kRate / 50;  // 20 ms, so the audio caps are known

int64_t nanoseconds(CRtspChannel::Clock::duration duration) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
}

int64_t samplesAt(CRtspChannel::Clock::duration sinceStart) {
  return CAudioTimeline::samplesIn(nanoseconds(sinceStart));
}

GstClockTime sampleTime(int64_t position) {
  return static_cast<GstClockTime>(CAudioTimeline::nanosecondsAt(position));
}

// Both queues are bounded and drop their oldest data when full: a push never waits. The tee
// after each source lets a stream that no client set up (a client may take the video alone) be
// unlinked without stopping the pipeline.
const char* const kAudioBranch =
    " appsrc name=audio is-live=true format=time block=false max-bytes=64000"
    " leaky-type=downstream"
    " caps=audio/x-raw,format=S16LE,rate=8000,channels=1,layout=interleaved"
    " ! tee allow-not-linked=true ! mulawenc ! rtppcmupay name=pay1 pt=0";

}  // namespace

struct CRtspChannel::Feed {
  ~Feed() {
    if (video != nullptr) gst_object_unref(video);
    if (audio != nullptr) gst_object_unref(audio);
    if (media != nullptr) g_object_unref(media);
  }
  GstRTSPMedia* media = nullptr;  // owned reference, until the media is unprepared
  GstElement* video = nullptr;    // owned references
  GstElement* audio = nullptr;
  LiveCodec codec = LiveCodec::Jpeg;
  Clock::time_point epoch;  // when the media was built: time 0 of both streams
  bool started = false;     // a picture went in
  bool failed = false;      // gave up waiting for the first picture
  int64_t lastVideoPts = -1;
  CAudioTimeline audioTimeline;
};

bool carriesMpeg4Config(const uint8_t* coded, size_t length) {
  if (coded == nullptr || !CMpeg4Transcoder::startsWithIntra(coded, length)) return false;
  for (size_t i = 0; i + 3 < length; ++i) {
    if (coded[i] == 0 && coded[i + 1] == 0 && coded[i + 2] == 1) {
      if ((coded[i + 3] & 0xF0) == 0x20) return true;
      if (coded[i + 3] == 0xB6) return false;  // the picture came first
    }
  }
  return false;
}

CRtspChannel::CRtspChannel(uint8_t channel) : channel_(channel) {}

CRtspChannel::~CRtspChannel() = default;

std::string CRtspChannel::pipelineFor(LiveCodec codec) {
  std::string video =
      "appsrc name=video is-live=true format=time block=false max-bytes=4000000"
      " leaky-type=downstream";
  if (codec == LiveCodec::Jpeg) {
    // The parser puts the picture's size into the caps, which the payloader needs.
    video +=
        " caps=image/jpeg,framerate=0/1 ! tee allow-not-linked=true ! jpegparse"
        " ! rtpjpegpay name=pay0 pt=26";
  } else {
    // The parser puts the VOL into the caps, the payloader into the SDP's config=.
    video +=
        " caps=video/mpeg,mpegversion=4,systemstream=false,parsed=false"
        " ! tee allow-not-linked=true ! mpeg4videoparse ! rtpmp4vpay name=pay0 pt=96";
  }
  return video + kAudioBranch;
}

std::optional<LiveCodec> CRtspChannel::waitForCodec(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  ++waiting_;
  codecKnown_.wait_for(lock, timeout, [&] { return codec_.has_value(); });
  --waiting_;
  return codec_;
}

void CRtspChannel::attach(GstRTSPMedia* media, LiveCodec codec) {
  GstElement* bin = gst_rtsp_media_get_element(media);
  if (bin == nullptr) return;
  auto feed = std::make_unique<Feed>();
  feed->media = GST_RTSP_MEDIA(g_object_ref(media));
  feed->codec = codec;
  feed->epoch = Clock::now();
  feed->video = gst_bin_get_by_name(GST_BIN(bin), "video");
  feed->audio = gst_bin_get_by_name(GST_BIN(bin), "audio");
  gst_object_unref(bin);
  if (feed->video == nullptr || feed->audio == nullptr) return;
  std::lock_guard lock(mutex_);
  for (const auto& existing : feeds_)
    if (existing->media == media) return;
  // A little silence at once: the media is ready only when both streams had data.
  static const std::array<int16_t, kPrimeSamples> prime{};
  if (const auto start = feed->audioTimeline.place(0, kPrimeSamples))
    pushSamples(*feed, *start, prime.data(), prime.size());
  feeds_.push_back(std::move(feed));
  anyFeed_.store(true);
}

void CRtspChannel::detach(GstRTSPMedia* media) {
  std::lock_guard lock(mutex_);
  std::erase_if(feeds_, [&](const std::unique_ptr<Feed>& feed) { return feed->media == media; });
  anyFeed_.store(!feeds_.empty());
  feedGone_.notify_all();
}

GstRTSPMedia* CRtspChannel::holdLiveMedia(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    std::vector<GstRTSPMedia*> medias;
    {
      std::lock_guard lock(mutex_);
      for (const auto& feed : feeds_) medias.push_back(GST_RTSP_MEDIA(g_object_ref(feed->media)));
    }
    // Asked without our lock: the media's own lock may be held while it calls detach(). The
    // status of a media being prepared is known once it is (the call waits for it).
    bool closing = false;
    GstRTSPMedia* live = nullptr;
    for (GstRTSPMedia* media : medias) {
      const GstRTSPMediaStatus status = gst_rtsp_media_get_status(media);
      if (status == GST_RTSP_MEDIA_STATUS_PREPARED || status == GST_RTSP_MEDIA_STATUS_SUSPENDED) {
        if (live == nullptr) live = GST_RTSP_MEDIA(g_object_ref(media));
      } else {
        closing = true;  // being taken down, or built and not yet prepared
      }
      g_object_unref(media);
    }
    if (!closing && live == nullptr) return nullptr;  // the client's request builds one
    // One more preparation of a prepared media only counts it, under the media's own lock; it
    // fails once the take-down began. A media never returns to its first, unprepared state (it
    // isn't reusable), so the missing thread is never needed.
    if (!closing && gst_rtsp_media_prepare(live, nullptr)) return live;
    if (live != nullptr) g_object_unref(live);
    std::unique_lock lock(mutex_);
    feedGone_.wait_for(lock, std::chrono::milliseconds(20));
  }
  return nullptr;
}

void CRtspChannel::releaseMedia(GstRTSPMedia* media) {
  if (media == nullptr) return;
  gst_rtsp_media_unprepare(media);  // takes the media down when no client holds it any more
  g_object_unref(media);
}

void CRtspChannel::pushVideo(LiveCodec codec, const uint8_t* data, size_t length,
                             Clock::time_point arrival) {
  {
    std::lock_guard lock(mutex_);
    if (codec_ != codec) {
      codec_ = codec;
      codecKnown_.notify_all();
    }
  }
  interval_.arrived(nanoseconds(arrival.time_since_epoch()));
  if (!anyFeed_.load() || data == nullptr || length == 0) return;
  const uint8_t* payload = data;
  size_t size = length;
  RtpJpegFitResult fitted;
  bool config = false;
  if (codec == LiveCodec::Jpeg) {
    fitted = fitter_.fit(data, length);
    if (fitted.fit == RtpJpegFit::Transcoded || fitted.fit == RtpJpegFit::Reencoded) {
      payload = fitted.jpeg.data();
      size = fitted.jpeg.size();
    }
  } else {
    config = carriesMpeg4Config(data, length);
  }
  std::lock_guard lock(mutex_);
  switch (codec == LiveCodec::Jpeg ? fitted.fit : RtpJpegFit::Untouched) {
    case RtpJpegFit::Untouched:
      fits_.untouched += codec == LiveCodec::Jpeg;
      break;
    case RtpJpegFit::Transcoded:
      ++fits_.transcoded;
      break;
    case RtpJpegFit::Reencoded:
      ++fits_.reencoded;
      break;
    case RtpJpegFit::Unusable:
      ++fits_.unusable;
      return;
  }
  for (const auto& feed : feeds_) {
    if (feed->codec != codec || feed->failed) continue;
    if (!feed->started && codec == LiveCodec::Mpeg4 && !config) continue;
    feed->started = true;
    const int64_t pts =
        pacedTimestamp(nanoseconds(arrival - feed->epoch), feed->lastVideoPts, interval_.meanNs());
    feed->lastVideoPts = pts;
    GstBuffer* buffer = gst_buffer_new_memdup(payload, size);
    GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(pts);
    GST_BUFFER_DTS(buffer) = static_cast<GstClockTime>(pts);
    gst_app_src_push_buffer(GST_APP_SRC(feed->video), buffer);  // takes the buffer
  }
}

void CRtspChannel::pushAudio(const int16_t* samples, size_t count, Clock::time_point arrival) {
  if (!anyFeed_.load() || samples == nullptr || count == 0) return;
  std::lock_guard lock(mutex_);
  for (const auto& feed : feeds_) {
    if (feed->failed) continue;
    // The block ends at its arrival; it starts count samples before.
    const int64_t now = samplesAt(arrival - feed->epoch) - static_cast<int64_t>(count);
    pushSilence(*feed, feed->audioTimeline.fill(now));
    if (const auto start = feed->audioTimeline.place(now, static_cast<int64_t>(count)))
      pushSamples(*feed, *start, samples, count);
  }
}

void CRtspChannel::tick(Clock::time_point now, std::chrono::milliseconds startTimeout) {
  std::lock_guard lock(mutex_);
  for (const auto& feed : feeds_) {
    if (feed->failed) continue;
    if (!feed->started && now - feed->epoch >= startTimeout) {
      // The DESCRIBE waiting on this media gets an error rather than waiting for ever.
      feed->failed = true;
      GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND,
                                          "The channel sends no pictures");
      gst_element_post_message(
          feed->video, gst_message_new_error(GST_OBJECT(feed->video), error, "start timeout"));
      g_error_free(error);
      continue;
    }
    pushSilence(*feed, feed->audioTimeline.fill(samplesAt(now - feed->epoch)));
  }
}

void CRtspChannel::pushSilence(Feed& feed, CAudioTimeline::Span span) {
  if (span.count <= 0) return;
  const auto bytes = static_cast<gsize>(span.count) * sizeof(int16_t);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
  if (buffer == nullptr) return;
  gst_buffer_memset(buffer, 0, 0, bytes);
  GST_BUFFER_PTS(buffer) = sampleTime(span.start);
  GST_BUFFER_DURATION(buffer) = sampleTime(span.count);
  gst_app_src_push_buffer(GST_APP_SRC(feed.audio), buffer);
}

void CRtspChannel::pushSamples(Feed& feed, int64_t start, const int16_t* samples, size_t count) {
  GstBuffer* buffer = gst_buffer_new_memdup(samples, count * sizeof(int16_t));
  GST_BUFFER_PTS(buffer) = sampleTime(start);
  GST_BUFFER_DURATION(buffer) = sampleTime(static_cast<int64_t>(count));
  gst_app_src_push_buffer(GST_APP_SRC(feed.audio), buffer);
}

int CRtspChannel::watchers() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(feeds_.size()) + waiting_;
}

std::optional<CRtspChannel::Clock::time_point> CRtspChannel::watchedSince() const {
  std::lock_guard lock(mutex_);
  std::optional<Clock::time_point> oldest;
  for (const auto& feed : feeds_)
    if (!feed->failed && (!oldest || feed->epoch < *oldest)) oldest = feed->epoch;
  return oldest;
}

RtspFitCounts CRtspChannel::fitCounts() const {
  std::lock_guard lock(mutex_);
  return fits_;
}
