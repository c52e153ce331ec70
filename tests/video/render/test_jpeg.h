#pragma once
// JPEG frames for the render tests and benchmarks (header only): pictures encoded and decoded
// with libjpeg-turbo, wrapped in the 16-byte FrameHeader the live stream puts before them.
#include <jpeglib.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "protocol/frame_sinks.h"

namespace testing_video {

// A BGR test scene: gradients with a few hard edges.
inline std::vector<uint8_t> testScene(int width, int height, int seed = 0) {
  std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
  for (int r = 0; r < height; ++r) {
    for (int c = 0; c < width; ++c) {
      uint8_t* p = &bgr[(static_cast<size_t>(r) * width + c) * 3];
      const bool stripe = ((c + seed) / 40 + r / 60) % 2 == 0;
      p[0] = static_cast<uint8_t>(c * 255 / width);
      p[1] = static_cast<uint8_t>(r * 255 / height);
      p[2] = stripe ? 220 : 30;
    }
  }
  return bgr;
}

inline std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& bgr, int width, int height,
                                       int quality = 90) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&bgr[static_cast<size_t>(cinfo.next_scanline) * width * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> jpeg(out, out + outSize);
  jpeg_destroy_compress(&cinfo);
  free(out);
  return jpeg;
}

// libjpeg-turbo's own decode to BGR (the reference the viewer's decoder is compared with), with
// the accurate integer IDCT and chroma repeated rather than smoothed, as the viewer enlarges it.
inline std::vector<uint8_t> decodeJpeg(const std::vector<uint8_t>& jpeg, int& width, int& height) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);
  width = static_cast<int>(cinfo.output_width);
  height = static_cast<int>(cinfo.output_height);
  std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &bgr[static_cast<size_t>(cinfo.output_scanline) * width * 3];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return bgr;
}

// FrameHeader (marker 0x01, channel, 14 bytes not interpreted), then the JPEG, then the zeroed
// slack the connection guarantees; frameLength() is what the sink is given.
struct JpegFrame {
  explicit JpegFrame(const std::vector<uint8_t>& jpeg, uint8_t channel = 0) {
    bytes.assign(16, 0);
    bytes[0] = 0x01;
    bytes[1] = channel;
    bytes.insert(bytes.end(), jpeg.begin(), jpeg.end());
    length = static_cast<uint32_t>(bytes.size());
    bytes.resize(bytes.size() + kFrameReadSlack, 0);
  }
  uint8_t* data() { return bytes.data(); }
  std::vector<uint8_t> bytes;
  uint32_t length = 0;
};

}  // namespace testing_video
