#pragma once
// What the audio connection feeds: the player inside the hidden audio window. Implemented by
// CAudioPlayer; tests use recording stand-ins.
#include <cstdint>

#include "platform/message_window.h"

enum class AudioCodecMode : int32_t { Adpcm = 0, G726 = 1 };

class IAudioSink {
 public:
  virtual ~IAudioSink() = default;
  // Opens the wave-out device; window 0 keeps the stored callback window. 0 on success.
  virtual int32_t open(WindowId window) = 0;
  virtual void close() = 0;
  virtual int32_t playG726(const uint8_t* payload, uint32_t length) = 0;
  virtual int32_t playAdpcm(const uint8_t* payload, uint32_t length) = 0;
  // The codec mode, read and switched by the audio connection on its receive thread.
  virtual AudioCodecMode mode() const = 0;
  virtual void setMode(AudioCodecMode mode) = 0;
  // A wave-out notification (open, done, close) that reached the window given to open(). A
  // window that only hosts the sink passes them on here; a sink that needs none ignores them.
  virtual void onDeviceMessage(uint32_t msg, uintptr_t wParam) {
    (void)msg;
    (void)wParam;
  }
};
