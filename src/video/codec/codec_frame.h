#pragma once
// Where things lie in a codec frame (a 16-byte FrameHeader, then MPEG-4 Visual coded data): the
// stream's configuration bytes and where a decoder's input starts. Pure functions that never
// read outside [frame, frame + length).
#include <cstdint>
#include <optional>

namespace codec_frame {

inline constexpr uint32_t kFrameHeaderSize = 16;
// Bytes from offset 16 of a frame that carry the stream's configuration.
inline constexpr uint32_t kSequenceHeaderSize = 19;

inline constexpr uint8_t kVideoObjectStart = 0x01;  // 00 00 01 01
inline constexpr uint8_t kPictureStart = 0xB6;      // 00 00 01 B6

// First (or last) position in [from, to] where 00 00 01 code begins, looking only at whole start
// codes inside the length bytes.
std::optional<uint32_t> findStartCode(const uint8_t* frame, uint32_t length, uint32_t from,
                                      uint32_t to, uint8_t code, bool last);

// True when the frame carries the stream's configuration: a video object start code begins
// within the kSequenceHeaderSize bytes at offset 16 (the bytes there are then the sequence header).
bool carriesSequenceHeader(const uint8_t* frame, uint32_t length);

// Where the decoder's input starts: for the first frame after the decoder was opened, its last
// video object start (the configuration the decoder needs; 0 when there is none), otherwise its
// first picture start. Nullopt when a later frame holds no picture.
std::optional<uint32_t> decoderInputStart(const uint8_t* frame, uint32_t length, bool firstFrame);

}  // namespace codec_frame
