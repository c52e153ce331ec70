#pragma once
// The wave-out backend over Qt Multimedia's QAudioSink on the default output device. Sinks live
// on one audio thread owned by this object and pull the queued blocks from there; a block is
// reported done once the sink has taken its last byte. Between blocks the sink gets silence.
#include <QAudioDevice>
#include <QThread>

#include <memory>

#include "platform/wave_out/wave_out_device.h"

class QObject;

namespace platform {

class CQtWaveOut final : public CWaveOutDevice {
 public:
  explicit CQtWaveOut(QAudioDevice device);
  ~CQtWaveOut() override;

  // The default output device, or a null device when the system has none.
  static QAudioDevice defaultDevice();

 protected:
  std::unique_ptr<IWaveOutput> createOutput(WaveOutHandle handle, const WaveFormat& format,
                                            uint32_t* error) override;
  std::u16string deviceName() const override;

 private:
  const QAudioDevice device_;
  QThread thread_;                    // runs the sinks' event loop
  std::unique_ptr<QObject> context_;  // lives on thread_; target of the calls made there
};

}  // namespace platform
