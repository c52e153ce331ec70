#pragma once
// The video decoder library: MPEG-4 Visual decoder channels that draw their pictures straight
// into the 240 x 320 RGB565 display memory at the geometry given when the channel was created.
//
// Channels are numbered 1..kDecChannelCount. Every call is safe from any thread; a call waits
// while another one on the library is running, so a channel is never changed under a decode.
#include <cstdint>

inline constexpr int kDecChannelCount = 4;

// Mode flags of DecChannelCreation. With either top bit set the picture stands upright, its
// top-left corner at (left, top). Without them it is turned 90 degrees clockwise over the whole
// display: picture row r, column c lands on display row left + c, column 239 - top - r, so the
// picture's top edge lies along the display's right edge. The low bits are accepted and unused.
inline constexpr uint32_t kDecModeUpright = 0xC0000000;

// Results of VCDecoder.
inline constexpr int kDecDrawn = 0;         // a picture was decoded and drawn
inline constexpr int kDecNothingDrawn = 1;  // the data held no whole picture (damaged, or none yet)
inline constexpr int kDecFailed = -1;       // no such channel, no input, or no memory to draw into

// Opens (or, for a channel that is open, re-places) a decoder channel whose picture is width
// pixels wide and width * 3 / 4 high. A channel that is open keeps its decoder state, so the
// stream goes on decoding across a change of geometry. 0 on success; 1 when the channel number
// or the geometry is invalid, or the decoder can't be set up.
int DecChannelCreation(int channel, int width, int left, int top, uint32_t modeFlags, int last);

// Decodes one piece of an MPEG-4 Visual stream (start codes included; bytes before the first
// start code are skipped) and draws the picture into displayMemory. See the results above.
int VCDecoder(int channel, const uint8_t* data, uint32_t length, uint16_t* displayMemory);

// Closes the channel and frees its decoder. Decoding on it fails until it is created again.
void DecChannelEnd(int channel);

// The same three calls behind an interface, so callers can be observed in tests.
class IVideoCodecLibrary {
 public:
  virtual ~IVideoCodecLibrary() = default;
  virtual int channelCreation(int channel, int width, int left, int top, uint32_t modeFlags,
                              int last) = 0;
  virtual int decode(int channel, const uint8_t* data, uint32_t length,
                     uint16_t* displayMemory) = 0;
  virtual void channelEnd(int channel) = 0;
};

// The library above.
IVideoCodecLibrary& videoCodecLibrary();

// The arguments of DecChannelCreation for the two views of the live picture (channel 1).
struct DecChannelPlacement {
  int width;
  int left;
  int top;
  uint32_t modeFlags;
  int last;
};
// The 214 x 160 picture area of the main window at (14, 43).
inline constexpr DecChannelPlacement kDecWindowView{214, 14, 43, 0xC0000007, 1};
// A 320 x 240 picture turned over the whole display.
inline constexpr DecChannelPlacement kDecFullScreenView{320, 0, 0, 7, 1};
// The channel the viewer decodes on.
inline constexpr int kDecViewerChannel = 1;
