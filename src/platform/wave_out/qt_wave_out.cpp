#include "platform/wave_out/qt_wave_out.h"

#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QMetaObject>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace platform {

namespace {

// The sink's pull source: the queued blocks, then silence.
class CBlockSource final : public QIODevice {
 public:
  CBlockSource(CWaveOutDevice& owner, WaveOutHandle handle) : owner_(owner), handle_(handle) {
    open(QIODevice::ReadOnly);
  }

  // Any thread.
  void push(uint64_t serial, const uint8_t* data, uint32_t length) {
    std::lock_guard lock(mutex_);
    blocks_.push_back({serial, std::vector<uint8_t>(data, data + length)});
  }
  void discard() {
    std::lock_guard lock(mutex_);
    blocks_.clear();
    offset_ = 0;
  }

  bool isSequential() const override { return true; }

 protected:
  // Audio thread.
  qint64 readData(char* data, qint64 maxSize) override {
    if (maxSize <= 0) return 0;
    std::vector<uint64_t> finished;
    qint64 copied = 0;
    {
      std::lock_guard lock(mutex_);
      while (copied < maxSize && !blocks_.empty()) {
        Block& block = blocks_.front();
        const size_t n =
            std::min<size_t>(block.bytes.size() - offset_, static_cast<size_t>(maxSize - copied));
        std::memcpy(data + copied, block.bytes.data() + offset_, n);
        copied += static_cast<qint64>(n);
        offset_ += n;
        if (offset_ == block.bytes.size()) {
          finished.push_back(block.serial);
          blocks_.pop_front();
          offset_ = 0;
        }
      }
    }
    std::memset(data + copied, 0, static_cast<size_t>(maxSize - copied));
    // Reported outside the source's lock: the device takes its own lock.
    for (uint64_t serial : finished) owner_.blockPlayed(handle_, serial);
    return maxSize;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  struct Block {
    uint64_t serial;
    std::vector<uint8_t> bytes;
  };
  CWaveOutDevice& owner_;
  const WaveOutHandle handle_;
  std::mutex mutex_;  // guards blocks_ and offset_: caller threads push, the audio thread reads
  std::deque<Block> blocks_;
  size_t offset_ = 0;
};

class CQtOutput final : public IWaveOutput {
 public:
  CQtOutput(QObject* context, CBlockSource* source, QAudioSink* sink)
      : context_(context), source_(source), sink_(sink) {}

  ~CQtOutput() override {
    QAudioSink* sink = sink_;
    CBlockSource* source = source_;
    QMetaObject::invokeMethod(
        context_,
        [sink, source] {
          sink->stop();
          delete sink;
          delete source;
        },
        Qt::BlockingQueuedConnection);
  }
  CQtOutput(const CQtOutput&) = delete;
  CQtOutput& operator=(const CQtOutput&) = delete;

  bool play(uint64_t serial, const uint8_t* data, uint32_t length) override {
    source_->push(serial, data, length);
    return false;
  }
  void discard() override { source_->discard(); }
  void setVolume(uint32_t volume) override {
    const double level = ((volume & 0xFFFF) + (volume >> 16)) / (2.0 * 0xFFFF);
    QAudioSink* sink = sink_;
    QMetaObject::invokeMethod(
        context_, [sink, level] { sink->setVolume(level); }, Qt::QueuedConnection);
  }

 private:
  QObject* context_;
  // Both live on the audio thread and are deleted there; the source's queue is shared with the
  // caller threads under its own lock.
  CBlockSource* source_;
  QAudioSink* sink_;
};

}  // namespace

CQtWaveOut::CQtWaveOut(QAudioDevice device)
    : device_(std::move(device)), context_(std::make_unique<QObject>()) {
  thread_.setObjectName(QStringLiteral("wave-out"));
  context_->moveToThread(&thread_);
  thread_.start();
}

CQtWaveOut::~CQtWaveOut() {
  closeAll();
  QObject* context = context_.release();
  QMetaObject::invokeMethod(
      context, [context] { delete context; }, Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

QAudioDevice CQtWaveOut::defaultDevice() {
  return QMediaDevices::defaultAudioOutput();
}

std::u16string CQtWaveOut::deviceName() const {
  return device_.description().toStdU16String();
}

std::unique_ptr<IWaveOutput> CQtWaveOut::createOutput(WaveOutHandle handle,
                                                      const WaveFormat& format, uint32_t* error) {
  QAudioFormat qtFormat;
  qtFormat.setSampleRate(static_cast<int>(format.samplesPerSec));
  qtFormat.setChannelCount(format.channels);
  qtFormat.setSampleFormat(format.bitsPerSample == 16 ? QAudioFormat::Int16 : QAudioFormat::UInt8);
  if (!device_.isFormatSupported(qtFormat)) {
    *error = kWaveBadFormat;
    return nullptr;
  }
  CBlockSource* source = nullptr;
  QAudioSink* sink = nullptr;
  QMetaObject::invokeMethod(
      context_.get(),
      [&] {
        source = new CBlockSource(*this, handle);
        sink = new QAudioSink(device_, qtFormat);
        sink->start(source);
        if (sink->error() != QAudio::NoError) {
          delete sink;
          delete source;
          sink = nullptr;
        }
      },
      Qt::BlockingQueuedConnection);
  if (sink == nullptr) {
    *error = kMmNoDriver;
    return nullptr;
  }
  return std::make_unique<CQtOutput>(context_.get(), source, sink);
}

}  // namespace platform
