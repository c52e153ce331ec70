#pragma once
// JPEG test material made on the spot with libjpeg-turbo: synthetic photograph-like pictures,
// compressed with chosen sampling, quality, restart interval and Huffman tables, and decoded back
// with libjpeg-turbo for comparisons. Header-only so the benchmark can use it too.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace jpegsamples {

struct Options {
  int width = 64, height = 64;
  int components = 3;        // 1: grey, 3: YCbCr
  int lumaH = 2, lumaV = 1;  // luminance sampling; chrominance is 1 × 1
  int quality = 75;
  int restartInterval = 0;  // in MCUs
  bool optimiseHuffman = false;
  bool progressive = false;
  unsigned seed = 1;
};

// A deterministic picture with smooth shading, texture, hard edges and sensor-like noise.
inline std::vector<uint8_t> syntheticPhoto(int width, int height, int components, unsigned seed) {
  std::vector<uint8_t> pixels(size_t(width) * height * components);
  uint32_t state = seed * 2654435761u + 12345u;
  auto noise = [&state] {
    state = state * 1664525u + 1013904223u;
    return int(state >> 27) - 16;  // -16..15
  };
  const double cx = width * 0.6, cy = height * 0.4, radius = (width + height) * 0.15;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double dx = x - cx, dy = y - cy;
      const bool inDisc = dx * dx + dy * dy < radius * radius;
      const bool inBar = (x / 24 + y / 40) % 5 == 0;
      for (int c = 0; c < components; ++c) {
        double v = 60 + 120.0 * x / width + 40.0 * std::sin(y * 0.05 + c) +
                   25.0 * std::sin(x * 0.31 + y * 0.17 * (c + 1));
        if (inDisc) v = 220 - 50.0 * c - 0.3 * std::sqrt(dx * dx + dy * dy);
        if (inBar) v = 30 + 70 * c;
        v += noise() / 3.0;
        pixels[(size_t(y) * width + x) * components + c] = uint8_t(v < 0     ? 0
                                                                   : v > 255 ? 255
                                                                             : int(v));
      }
    }
  }
  return pixels;
}

// Compresses pixels (RGB or grey) into a JPEG.
inline std::vector<uint8_t> compress(const std::vector<uint8_t>& pixels, const Options& o) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(o.width);
  cinfo.image_height = JDIMENSION(o.height);
  cinfo.input_components = o.components;
  cinfo.in_color_space = o.components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, o.quality, TRUE);
  cinfo.optimize_coding = o.optimiseHuffman ? TRUE : FALSE;
  cinfo.restart_interval = unsigned(o.restartInterval);
  if (o.components == 3) {
    cinfo.comp_info[0].h_samp_factor = o.lumaH;
    cinfo.comp_info[0].v_samp_factor = o.lumaV;
    for (int c = 1; c < 3; ++c)
      cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
  }
  if (o.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  const int stride = o.width * o.components;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(&pixels[size_t(cinfo.next_scanline) * size_t(stride)]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return jpeg;
}

inline std::vector<uint8_t> makeJpeg(const Options& o) {
  return compress(syntheticPhoto(o.width, o.height, o.components, o.seed), o);
}

// Decodes with libjpeg-turbo to BGR. fancy: libjpeg's smooth upsampling (its default).
struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> bgr;
};
inline Decoded decodeWithLibjpeg(const uint8_t* data, size_t size, bool fancy,
                                 std::vector<uint8_t>* reuse = nullptr) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_fancy_upsampling = fancy ? TRUE : FALSE;
  jpeg_start_decompress(&cinfo);
  Decoded out;
  out.width = int(cinfo.output_width);
  out.height = int(cinfo.output_height);
  std::vector<uint8_t>& bgr = reuse ? *reuse : out.bgr;
  bgr.resize(size_t(out.width) * out.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &bgr[size_t(cinfo.output_scanline) * size_t(out.width) * 3];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

}  // namespace jpegsamples
