#include "monitor/tile_decode_pool.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "monitor/tile_codec_decoder.h"
#include "monitor/tile_frame_queue.h"
#include "monitor/tile_geometry.h"
#include "monitor/tile_jpeg_decoder.h"
#include "monitor/tile_scaler.h"

namespace {

constexpr int kChannelCount = 16;
constexpr int kMaxThreads = 16;
// A tile larger than any screen is a caller's mistake; it must not allocate gigabytes.
constexpr int kMaxTileSide = 8192;

uint64_t threadCpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

int scaleIndex(int denominator) {
  switch (denominator) {
    case 2:
      return 1;
    case 4:
      return 2;
    case 8:
      return 3;
    default:
      return 0;
  }
}

}  // namespace

struct CTileDecodePool::Impl {
  struct Channel {
    // Guarded by mutex.
    QSize tile;
    CTileFrameQueue queue;
    bool busy = false;       // a worker is decoding one of its frames and owns the decoders
    bool scheduled = false;  // listed in ready
    uint64_t epoch = 0;      // changes whenever the channel's state is dropped
    std::optional<TilePicture> picture;     // the newest, not taken yet
    std::optional<uint64_t> shownSequence;  // of the newest picture made since the last drop
    // Used by the worker that set busy, otherwise under mutex.
    std::unique_ptr<CTileJpegDecoder> jpeg;
    std::unique_ptr<CTileCodecDecoder> codec;
  };

  // What a worker made of one frame.
  struct Outcome {
    bool failed = false;
    bool superseded = false;
    std::optional<TilePicture> picture;
    int jpegScale = -1;
    uint64_t decodeNs = 0, scaleNs = 0;
  };

  mutable std::mutex mutex;
  std::condition_variable work;  // ready has entries, or stopping
  std::condition_variable idle;  // a worker finished a frame
  std::array<Channel, kChannelCount> channels;
  std::deque<uint8_t> ready;  // channels with waiting frames and no worker, oldest first
  int busyWorkers = 0;
  bool stopping = false;
  TileDecodeStats stats;
  std::shared_ptr<const std::function<void(uint8_t)>> pictureReady;
  std::function<void(uint8_t, bool)> backlog;
  std::vector<std::thread> workers;

  void run();
  Outcome decodeJpeg(Channel& channel, uint8_t number, QueuedFrame& frame, QSize tile);
  Outcome decodeCodec(Channel& channel, uint8_t number, QueuedFrame& frame,
                      std::unique_lock<std::mutex>& lock);
  void dropChannel(Channel& channel);              // caller holds mutex
  void tellBacklog(uint8_t number, bool behind) {  // caller holds mutex
    if (backlog) backlog(number, behind);
  }
  void schedule(uint8_t number);  // caller holds mutex
};

CTileDecodePool::CTileDecodePool(int threads) : impl_(std::make_unique<Impl>()) {
  if (threads <= 0) threads = int(std::thread::hardware_concurrency());
  threads = std::clamp(threads, 1, kMaxThreads);
  for (int i = 0; i < threads; ++i) impl_->workers.emplace_back([this] { impl_->run(); });
}

CTileDecodePool::~CTileDecodePool() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->work.notify_all();
  for (std::thread& worker : impl_->workers) worker.join();
}

void CTileDecodePool::setPictureReady(std::function<void(uint8_t channel)> ready) {
  auto shared =
      ready ? std::make_shared<const std::function<void(uint8_t)>>(std::move(ready)) : nullptr;
  std::lock_guard lock(impl_->mutex);
  impl_->pictureReady = std::move(shared);
}

void CTileDecodePool::setBacklog(std::function<void(uint8_t channel, bool behind)> backlog) {
  std::lock_guard lock(impl_->mutex);
  impl_->backlog = std::move(backlog);
}

void CTileDecodePool::setTileSize(uint8_t channel, QSize size) {
  if (channel >= kChannelCount) return;
  std::lock_guard lock(impl_->mutex);
  Impl::Channel& state = impl_->channels[channel];
  if (size.isEmpty()) {
    state.tile = QSize();
    impl_->dropChannel(state);
    state.queue.clear(true);
    impl_->tellBacklog(channel, false);
    return;
  }
  state.tile = QSize(std::min(size.width(), kMaxTileSide), std::min(size.height(), kMaxTileSide));
}

void CTileDecodePool::submit(const LiveFrame& frame) {
  if (frame.channel >= kChannelCount) return;
  std::lock_guard lock(impl_->mutex);
  Impl::Channel& state = impl_->channels[frame.channel];
  // No tile shows the channel, or there is nothing to decode.
  if (state.tile.isEmpty() || frame.data == nullptr || frame.length == 0) {
    impl_->tellBacklog(frame.channel, false);
    return;
  }
  ++impl_->stats.submitted;
  impl_->stats.skipped += state.queue.admit(frame);
  if (!state.queue.empty()) impl_->schedule(frame.channel);
  impl_->tellBacklog(frame.channel, !state.queue.empty() || state.busy);
}

std::optional<TilePicture> CTileDecodePool::takePicture(uint8_t channel) {
  if (channel >= kChannelCount) return std::nullopt;
  std::lock_guard lock(impl_->mutex);
  std::optional<TilePicture> picture;
  picture.swap(impl_->channels[channel].picture);
  return picture;
}

void CTileDecodePool::reset() {
  std::lock_guard lock(impl_->mutex);
  for (Impl::Channel& state : impl_->channels) {
    impl_->dropChannel(state);
    state.queue.clear(true);
  }
  for (uint8_t number = 0; number < kChannelCount; ++number) impl_->tellBacklog(number, false);
  impl_->ready.clear();
  for (Impl::Channel& state : impl_->channels) state.scheduled = false;
}

TileDecodeStats CTileDecodePool::stats() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->stats;
}

bool CTileDecodePool::waitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->mutex);
  return impl_->idle.wait_for(lock, timeout,
                              [this] { return impl_->ready.empty() && impl_->busyWorkers == 0; });
}

void CTileDecodePool::Impl::schedule(uint8_t number) {
  Channel& state = channels[number];
  if (state.busy || state.scheduled) return;  // its worker or its turn will take the frame
  state.scheduled = true;
  ready.push_back(number);
  work.notify_one();
}

void CTileDecodePool::Impl::dropChannel(Channel& state) {
  state.queue.clear(false);
  state.picture.reset();
  state.shownSequence.reset();
  ++state.epoch;
  // A worker that holds the decoders frees them when it sees the new epoch.
  if (!state.busy) {
    state.jpeg.reset();
    state.codec.reset();
  }
}

void CTileDecodePool::Impl::run() {
  std::unique_lock lock(mutex);
  for (;;) {
    work.wait(lock, [this] { return stopping || !ready.empty(); });
    if (stopping) return;
    const uint8_t number = ready.front();
    ready.pop_front();
    Channel& state = channels[number];
    state.scheduled = false;
    if (state.busy || state.queue.empty()) {  // dropped since it was listed
      idle.notify_all();
      continue;
    }

    state.busy = true;
    ++busyWorkers;
    const uint64_t epoch = state.epoch;
    QueuedFrame frame = state.queue.take();
    Outcome outcome;
    if (frame.codec == LiveCodec::Jpeg) {
      const QSize tile = state.tile;
      lock.unlock();
      outcome = decodeJpeg(state, number, frame, tile);
      lock.lock();
    } else {
      outcome = decodeCodec(state, number, frame, lock);  // unlocks while it works
    }

    state.busy = false;
    state.queue.recycle(std::move(frame.bytes));
    stats.decodeNs += outcome.decodeNs;
    stats.scaleNs += outcome.scaleNs;
    bool changed = false;
    if (state.epoch != epoch) {
      // The channel was dropped meanwhile (a new session, or its tile went away).
      state.jpeg.reset();
      state.codec.reset();
    } else {
      if (outcome.failed) ++stats.failed;
      if (outcome.superseded) ++stats.skipped;
      if (outcome.picture &&
          (!state.shownSequence || outcome.picture->sequence > *state.shownSequence)) {
        state.shownSequence = outcome.picture->sequence;
        if (state.picture) ++stats.replaced;
        state.picture = std::move(outcome.picture);
        ++stats.decoded;
        if (outcome.jpegScale >= 0) ++stats.jpegAtScale[outcome.jpegScale];
        changed = true;
      }
    }
    if (!state.queue.empty()) {
      schedule(number);
    } else {
      tellBacklog(number, false);
    }
    if (changed && pictureReady) {
      const std::shared_ptr<const std::function<void(uint8_t)>> ready = pictureReady;
      lock.unlock();
      (*ready)(number);
      lock.lock();
    }
    --busyWorkers;  // only now: waitIdle covers the wake-up too
    idle.notify_all();
  }
}

CTileDecodePool::Impl::Outcome CTileDecodePool::Impl::decodeJpeg(Channel& state, uint8_t number,
                                                                 QueuedFrame& frame, QSize tile) {
  Outcome outcome;
  if (!state.jpeg) state.jpeg = std::make_unique<CTileJpegDecoder>();
  const uint64_t start = threadCpuNs();
  const bool ok = state.jpeg->decode(frame.bytes.data(), frame.length, tile);
  const uint64_t decoded = threadCpuNs();
  outcome.decodeNs = decoded - start;
  if (!ok) {
    outcome.failed = true;
    return outcome;
  }
  const QRect target = letterboxRect(state.jpeg->sourceSize(), tile);
  const QSize decodedSize = state.jpeg->decodedSize();
  // A picture to be enlarged goes to the tile as decoded: the tile scales it up while painting
  // it, so the enlarged picture is written once, into the window, instead of being made here and
  // copied there.
  const bool enlarged =
      target.width() > decodedSize.width() || target.height() > decodedSize.height();
  QImage image =
      enlarged ? QImage(decodedSize, QImage::Format_RGB32) : letterboxedTile(tile, target);
  if (image.isNull()) {
    outcome.failed = true;
    return outcome;
  }
  state.jpeg->placeInto(image, enlarged ? image.rect() : target);
  outcome.scaleNs = threadCpuNs() - decoded;
  outcome.jpegScale = scaleIndex(state.jpeg->denominator());
  outcome.picture = TilePicture{number, frame.sequence, std::move(image), state.jpeg->sourceSize(),
                                frame.arrival};
  return outcome;
}

CTileDecodePool::Impl::Outcome CTileDecodePool::Impl::decodeCodec(
    Channel& state, uint8_t number, QueuedFrame& frame, std::unique_lock<std::mutex>& lock) {
  Outcome outcome;
  lock.unlock();
  // Every frame is decoded (the next one may refer to its picture); only a picture that a
  // waiting frame will replace is not scaled.
  if (!state.codec) state.codec = std::make_unique<CTileCodecDecoder>();
  const uint64_t start = threadCpuNs();
  const CTileCodecDecoder::Result result = state.codec->decode(frame.bytes.data(), frame.length);
  const uint64_t decoded = threadCpuNs();
  outcome.decodeNs = decoded - start;
  if (result != CTileCodecDecoder::Result::Picture) {
    outcome.failed = true;
    lock.lock();
    return outcome;
  }
  lock.lock();
  if (!state.queue.empty()) {
    outcome.superseded = true;
    return outcome;
  }
  const QSize tile = state.tile;
  lock.unlock();
  const QSize source = state.codec->pictureSize();
  const QRect target = letterboxRect(source, tile);
  QImage image = letterboxedTile(tile, target);
  if (!image.isNull() && state.codec->scaleInto(image, target)) {
    outcome.picture = TilePicture{number, frame.sequence, std::move(image), source, frame.arrival};
  } else {
    outcome.failed = true;
  }
  outcome.scaleNs = threadCpuNs() - decoded;
  lock.lock();
  return outcome;
}
