#include "platform/wave_out.h"

#include <QCoreApplication>

#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/wave_out/no_wave_out.h"
#include "platform/wave_out/qt_wave_out.h"
#include "platform/wave_out/wav_file_wave_out.h"

namespace platform {

namespace {

struct Registry {
  std::mutex mutex;  // guards the fields below
  std::string selection;
  std::unique_ptr<IWaveOut> chosen;
  IWaveOut* replacement = nullptr;
};

Registry& registry() {
  static Registry r;
  return r;
}

bool isKnownBackend(std::string_view name) {
  return name == "qt" || name == "none" || (name.starts_with("wav:") && name.size() > 4);
}

std::unique_ptr<IWaveOut> makeBackend(std::string_view name) {
  if (name.starts_with("wav:"))
    return std::make_unique<CWavFileWaveOut>(std::string(name.substr(4)));
  if (name == "none" || QCoreApplication::instance() == nullptr)
    return std::make_unique<CNoWaveOut>();
  QAudioDevice device = CQtWaveOut::defaultDevice();
  if (device.isNull()) return std::make_unique<CNoWaveOut>();
  return std::make_unique<CQtWaveOut>(std::move(device));
}

// The Qt backend's thread and sinks must go before the application object does.
void releaseBackend() {
  std::unique_ptr<IWaveOut> backend;
  {
    std::lock_guard lock(registry().mutex);
    backend = std::move(registry().chosen);
  }
}

}  // namespace

IWaveOut& waveOut() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.replacement != nullptr) return *r.replacement;
  if (!r.chosen) {
    std::string name = r.selection;
    if (name.empty()) {
      const char* env = std::getenv("PELLOXVIEW_AUDIO");
      if (env != nullptr && isKnownBackend(env)) name = env;
    }
    r.chosen = makeBackend(name);
    if (QCoreApplication::instance() != nullptr) qAddPostRoutine(releaseBackend);
  }
  return *r.chosen;
}

bool selectWaveOut(std::string_view backend) {
  if (!isKnownBackend(backend)) return false;
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.chosen) return false;
  r.selection = std::string(backend);
  return true;
}

std::string waveOutFileError() {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  const auto* file = dynamic_cast<const CWavFileWaveOut*>(r.chosen.get());
  return file != nullptr ? file->error() : std::string();
}

void setWaveOut(IWaveOut* device) {
  Registry& r = registry();
  std::lock_guard lock(r.mutex);
  r.replacement = device;
}

}  // namespace platform
