#pragma once
// Passes every call on to the real video decoder library and records it.
#include <cstdint>
#include <mutex>
#include <vector>

#include "video/codec/video_codec_library.h"

namespace testing_video {

class CRecordingCodecLibrary final : public IVideoCodecLibrary {
 public:
  struct Creation {
    int channel, width, left, top;
    uint32_t modeFlags;
    int last;
  };
  struct Decode {
    int channel;
    const uint8_t* data;
    uint32_t length;
    int result;
  };

  int channelCreation(int channel, int width, int left, int top, uint32_t modeFlags,
                      int last) override {
    const int result = DecChannelCreation(channel, width, left, top, modeFlags, last);
    std::lock_guard lock(mutex);
    creations.push_back({channel, width, left, top, modeFlags, last});
    return result;
  }
  int decode(int channel, const uint8_t* data, uint32_t length, uint16_t* memory) override {
    const int result =
        forcedDecodeResult != 0 ? forcedDecodeResult : VCDecoder(channel, data, length, memory);
    std::lock_guard lock(mutex);
    decodes.push_back({channel, data, length, result});
    return result;
  }
  void channelEnd(int channel) override {
    DecChannelEnd(channel);
    std::lock_guard lock(mutex);
    ends.push_back(channel);
  }
  size_t calls() {
    std::lock_guard lock(mutex);
    return creations.size() + decodes.size() + ends.size();
  }

  std::mutex mutex;
  std::vector<Creation> creations;
  std::vector<Decode> decodes;
  std::vector<int> ends;
  int forcedDecodeResult = 0;  // non-zero: returned instead of decoding
};

}  // namespace testing_video
