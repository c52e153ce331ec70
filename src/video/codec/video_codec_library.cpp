#include "video/codec/video_codec_library.h"

#include <array>
#include <memory>
#include <mutex>

#include "video/codec/codec_channel.h"

namespace {

// Every call holds the library, so a channel is never created, moved or ended under a decode.
std::mutex libraryMutex;
std::array<std::unique_ptr<CCodecChannel>, kDecChannelCount> channels;  // under libraryMutex

std::unique_ptr<CCodecChannel>* slot(int channel) {
  if (channel < 1 || channel > kDecChannelCount) return nullptr;
  return &channels[static_cast<size_t>(channel - 1)];
}

class CVideoCodecLibrary final : public IVideoCodecLibrary {
 public:
  int channelCreation(int channel, int width, int left, int top, uint32_t modeFlags,
                      int last) override {
    return DecChannelCreation(channel, width, left, top, modeFlags, last);
  }
  int decode(int channel, const uint8_t* data, uint32_t length, uint16_t* displayMemory) override {
    return VCDecoder(channel, data, length, displayMemory);
  }
  void channelEnd(int channel) override { DecChannelEnd(channel); }
};

}  // namespace

int DecChannelCreation(int channel, int width, int left, int top, uint32_t modeFlags,
                       int /*last*/) {
  CodecGeometry geometry;
  if (!CodecGeometry::fromCreation(width, left, top, modeFlags, geometry)) return 1;
  std::lock_guard lock(libraryMutex);
  std::unique_ptr<CCodecChannel>* entry = slot(channel);
  if (entry == nullptr) return 1;
  if (!*entry) {
    auto created = std::make_unique<CCodecChannel>();
    if (!created->open()) return 1;
    *entry = std::move(created);
  }
  (*entry)->setGeometry(geometry);
  return 0;
}

int VCDecoder(int channel, const uint8_t* data, uint32_t length, uint16_t* displayMemory) {
  std::lock_guard lock(libraryMutex);
  std::unique_ptr<CCodecChannel>* entry = slot(channel);
  if (entry == nullptr || !*entry) return kDecFailed;
  return (*entry)->decode(data, length, displayMemory);
}

void DecChannelEnd(int channel) {
  std::unique_ptr<CCodecChannel> ended;
  {
    std::lock_guard lock(libraryMutex);
    std::unique_ptr<CCodecChannel>* entry = slot(channel);
    if (entry != nullptr) ended = std::move(*entry);
  }
}

IVideoCodecLibrary& videoCodecLibrary() {
  static CVideoCodecLibrary library;
  return library;
}
