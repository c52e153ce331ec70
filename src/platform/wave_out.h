#pragma once
// The wave-out device: PCM playback through a queue of caller-owned blocks, with the device's
// open, done and close notifications posted to a window (messages 955, 957 and 956 of
// messages.h, wParam = the device handle, lParam = the finished header for 957).
//
// Backends: Qt Multimedia's default output device, a WAV file that receives exactly the bytes the
// device would play (PELLOXVIEW_AUDIO=wav:/path/file.wav, or selectWaveOut), and "no device".
// Device handles are never reused, so a notification of a closed device can always be told
// apart from one of a device opened later.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/message_window.h"

namespace platform {

using WaveOutHandle = uint64_t;
inline constexpr WaveOutHandle kNoWaveOut = 0;
inline constexpr uint32_t kWaveMapper = 0xFFFFFFFFu;  // device id: the default device

// Results of the device calls.
enum : uint32_t {
  kMmNoError = 0,
  kMmError = 1,
  kMmBadDeviceId = 2,
  kMmInvalidHandle = 5,
  kMmNoDriver = 6,
  kMmNoMem = 7,
  kMmInvalidParam = 11,
  kWaveBadFormat = 32,
  kWaveStillPlaying = 33,
  kWaveUnprepared = 34,
};

// Header flags.
enum : uint32_t {
  kWaveHeaderDone = 0x01,
  kWaveHeaderPrepared = 0x02,
  kWaveHeaderInQueue = 0x10,
};

// Capability bits of WaveOutCaps::support.
inline constexpr uint32_t kWaveCapsVolume = 0x0004;
inline constexpr uint32_t kWaveCapsLrVolume = 0x0008;

struct WaveFormat {
  uint16_t formatTag = 1;  // PCM
  uint16_t channels = 1;
  uint32_t samplesPerSec = 8000;
  uint32_t avgBytesPerSec = 16000;
  uint16_t blockAlign = 2;
  uint16_t bitsPerSample = 16;
};

// One block of samples, owned by the caller. The device sets the flags (from its own thread with
// the Qt backend), so they are atomic; the other fields belong to the caller while the block is
// not queued.
struct WaveHeader {
  uint8_t* data = nullptr;
  uint32_t bufferLength = 0;
  uint32_t bytesRecorded = 0;
  uintptr_t user = 0;
  std::atomic<uint32_t> flags{0};
  uint32_t loops = 0;
};

// The device-capabilities record (84 bytes, the record the main window zeroes and reads).
struct WaveOutCaps {
  uint16_t manufacturerId;
  uint16_t productId;
  uint32_t driverVersion;
  char16_t name[32];
  uint32_t formats;
  uint16_t channels;
  uint16_t reserved;
  uint32_t support;
};
static_assert(sizeof(WaveOutCaps) == 84);

class IWaveOut {
 public:
  virtual ~IWaveOut() = default;

  virtual uint32_t numDevices() = 0;
  // Opens device `deviceId` (0 or kWaveMapper) with notifications posted to callbackWindow.
  virtual uint32_t open(WaveOutHandle* handle, uint32_t deviceId, const WaveFormat& format,
                        WindowId callbackWindow) = 0;
  virtual uint32_t prepareHeader(WaveOutHandle handle, WaveHeader* header) = 0;
  virtual uint32_t unprepareHeader(WaveOutHandle handle, WaveHeader* header) = 0;
  // Queues a prepared block; refused with kWaveStillPlaying while the block is still queued. The
  // device plays bufferLength bytes as they are at this call.
  virtual uint32_t write(WaveOutHandle handle, WaveHeader* header) = 0;
  // Returns every queued block (marked done, one done notification each) and stops playback.
  virtual uint32_t reset(WaveOutHandle handle) = 0;
  // Refused with kWaveStillPlaying while blocks are queued.
  virtual uint32_t close(WaveOutHandle handle) = 0;
  virtual uint32_t getDevCaps(uint32_t deviceId, WaveOutCaps* caps) = 0;
  // Volume: low 16 bits left, high 16 bits right, 0xFFFF full.
  virtual uint32_t getVolume(uint32_t deviceId, uint32_t* volume) = 0;
  virtual uint32_t setVolume(uint32_t deviceId, uint32_t volume) = 0;
};

// The process's wave-out device. Chosen at first use: the backend named by selectWaveOut, else by
// the environment variable PELLOXVIEW_AUDIO, else Qt's default output device when there is one,
// else "no device".
IWaveOut& waveOut();

// Chooses the backend before first use (the command-line option): "wav:/path/file.wav", "qt"
// or "none". False for an unknown name, or when the device is already in use.
bool selectWaveOut(std::string_view backend);

// Why the WAV-file backend could not write its file in full; empty when it could, or when
// another backend was chosen.
std::string waveOutFileError();

// Replaces the process's device (tests); nullptr restores the chosen backend.
void setWaveOut(IWaveOut* device);

}  // namespace platform
