#include "platform/wave_out/wave_out_device.h"

#include <algorithm>
#include <cstring>

#include "platform/messages.h"

namespace platform {

WaveOutHandle newWaveOutHandle() {
  static std::atomic<WaveOutHandle> last{0};
  return ++last;
}

bool isSupportedFormat(const WaveFormat& f) {
  if (f.formatTag != 1 || (f.channels != 1 && f.channels != 2)) return false;
  if (f.bitsPerSample != 8 && f.bitsPerSample != 16) return false;
  if (f.samplesPerSec < 1000 || f.samplesPerSec > 192000) return false;
  if (f.blockAlign != f.channels * f.bitsPerSample / 8) return false;
  return f.avgBytesPerSec == f.samplesPerSec * f.blockAlign;
}

CWaveOutDevice::~CWaveOutDevice() = default;

void CWaveOutDevice::closeAll() {
  std::vector<std::shared_ptr<IWaveOutput>> outputs;
  {
    std::lock_guard lock(mutex_);
    for (auto& [handle, device] : devices_) outputs.push_back(std::move(device.output));
    devices_.clear();
  }
  outputs.clear();  // outside the lock: an output may wait for its own thread
}

CWaveOutDevice::Device* CWaveOutDevice::findLocked(WaveOutHandle handle) {
  auto it = devices_.find(handle);
  return it == devices_.end() ? nullptr : &it->second;
}

uint32_t CWaveOutDevice::open(WaveOutHandle* handle, uint32_t deviceId, const WaveFormat& format,
                              WindowId callbackWindow) {
  if (handle == nullptr) return kMmInvalidParam;
  *handle = kNoWaveOut;
  if (deviceId != 0 && deviceId != kWaveMapper) return kMmBadDeviceId;
  if (!isSupportedFormat(format)) return kWaveBadFormat;

  const WaveOutHandle id = newWaveOutHandle();
  uint32_t error = kMmError;
  std::shared_ptr<IWaveOutput> output = createOutput(id, format, &error);
  if (!output) return error;
  {
    std::lock_guard lock(mutex_);
    output->setVolume(volume_);
    Device& device = devices_[id];
    device.window = callbackWindow;
    device.output = std::move(output);
  }
  *handle = id;
  if (callbackWindow != kNoWindow) postMessage(callbackWindow, msg::kWaveOutOpen, id, 0);
  return kMmNoError;
}

uint32_t CWaveOutDevice::prepareHeader(WaveOutHandle handle, WaveHeader* header) {
  std::lock_guard lock(mutex_);
  Device* device = findLocked(handle);
  if (device == nullptr) return kMmInvalidHandle;
  if (header == nullptr || header->data == nullptr) return kMmInvalidParam;
  if (header->flags & kWaveHeaderInQueue) return kWaveStillPlaying;
  header->flags |= kWaveHeaderPrepared;
  if (std::find(device->prepared.begin(), device->prepared.end(), header) == device->prepared.end())
    device->prepared.push_back(header);
  return kMmNoError;
}

uint32_t CWaveOutDevice::unprepareHeader(WaveOutHandle handle, WaveHeader* header) {
  std::lock_guard lock(mutex_);
  Device* device = findLocked(handle);
  if (device == nullptr) return kMmInvalidHandle;
  if (header == nullptr) return kMmInvalidParam;
  if (header->flags & kWaveHeaderInQueue) return kWaveStillPlaying;
  header->flags &= ~kWaveHeaderPrepared;
  std::erase(device->prepared, header);
  return kMmNoError;
}

uint32_t CWaveOutDevice::write(WaveOutHandle handle, WaveHeader* header) {
  std::lock_guard lock(mutex_);
  Device* device = findLocked(handle);
  if (device == nullptr) return kMmInvalidHandle;
  if (header == nullptr || header->data == nullptr) return kMmInvalidParam;
  if (std::find(device->prepared.begin(), device->prepared.end(), header) == device->prepared.end())
    return kWaveUnprepared;
  if (header->flags & kWaveHeaderInQueue) return kWaveStillPlaying;

  header->flags = (header->flags & ~kWaveHeaderDone) | kWaveHeaderInQueue;
  const uint64_t serial = nextSerial_++;
  device->queue.push_back({serial, header});
  if (device->output->play(serial, header->data, header->bufferLength)) {
    device->queue.pop_back();
    finishLocked(handle, *device, header);
  }
  return kMmNoError;
}

void CWaveOutDevice::finishLocked(WaveOutHandle handle, Device& device, WaveHeader* header) {
  header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
  if (device.window != kNoWindow)
    postMessage(device.window, msg::kWaveOutDone, handle, reinterpret_cast<intptr_t>(header));
}

void CWaveOutDevice::blockPlayed(WaveOutHandle handle, uint64_t serial) {
  std::lock_guard lock(mutex_);
  Device* device = findLocked(handle);
  if (device == nullptr) return;
  auto it = std::find_if(device->queue.begin(), device->queue.end(),
                         [serial](const Queued& q) { return q.serial == serial; });
  if (it == device->queue.end()) return;  // returned by a reset meanwhile
  WaveHeader* header = it->header;
  device->queue.erase(it);
  finishLocked(handle, *device, header);
}

uint32_t CWaveOutDevice::reset(WaveOutHandle handle) {
  std::lock_guard lock(mutex_);
  Device* device = findLocked(handle);
  if (device == nullptr) return kMmInvalidHandle;
  device->output->discard();
  while (!device->queue.empty()) {
    WaveHeader* header = device->queue.front().header;
    device->queue.pop_front();
    finishLocked(handle, *device, header);
  }
  return kMmNoError;
}

uint32_t CWaveOutDevice::close(WaveOutHandle handle) {
  std::shared_ptr<IWaveOutput> output;
  WindowId window = kNoWindow;
  {
    std::lock_guard lock(mutex_);
    Device* device = findLocked(handle);
    if (device == nullptr) return kMmInvalidHandle;
    if (!device->queue.empty()) return kWaveStillPlaying;
    // Headers still prepared stay the caller's; they are simply no longer known to any device.
    for (WaveHeader* header : device->prepared) header->flags &= ~kWaveHeaderPrepared;
    output = std::move(device->output);
    window = device->window;
    devices_.erase(handle);
  }
  output.reset();  // outside the lock: the Qt output waits for its thread
  if (window != kNoWindow) postMessage(window, msg::kWaveOutClose, handle, 0);
  return kMmNoError;
}

uint32_t CWaveOutDevice::getDevCaps(uint32_t deviceId, WaveOutCaps* caps) {
  if (deviceId != 0 && deviceId != kWaveMapper) return kMmBadDeviceId;
  if (caps == nullptr) return kMmInvalidParam;
  std::memset(caps, 0, sizeof *caps);
  caps->driverVersion = 0x0100;
  const std::u16string name = deviceName();
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 31), caps->name);
  caps->formats = 0x0FFF;  // every classic PCM rate and width, mono and stereo
  caps->channels = 2;
  caps->support = kWaveCapsVolume | kWaveCapsLrVolume;
  return kMmNoError;
}

uint32_t CWaveOutDevice::getVolume(uint32_t deviceId, uint32_t* volume) {
  if (deviceId != 0 && deviceId != kWaveMapper) return kMmBadDeviceId;
  if (volume == nullptr) return kMmInvalidParam;
  std::lock_guard lock(mutex_);
  *volume = volume_;
  return kMmNoError;
}

uint32_t CWaveOutDevice::setVolume(uint32_t deviceId, uint32_t volume) {
  if (deviceId != 0 && deviceId != kWaveMapper) return kMmBadDeviceId;
  std::lock_guard lock(mutex_);
  volume_ = volume;
  for (auto& [handle, device] : devices_) device.output->setVolume(volume);
  return kMmNoError;
}

}  // namespace platform
