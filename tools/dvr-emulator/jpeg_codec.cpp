#include "jpeg_codec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// clang-format off
#include <jpeglib.h>
// clang-format on

namespace dvremu {
namespace {

struct ErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void onJpegError(j_common_ptr info) {
  auto* trap = reinterpret_cast<ErrorTrap*>(info->err);
  std::longjmp(trap->jump, 1);
}

// Runs the encoder with only trivially destructible state between setjmp and longjmp.
bool encodeRaw(const RgbImage& image, int quality, unsigned char** buffer, unsigned long* size) {
  jpeg_compress_struct info{};
  ErrorTrap trap{};
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = onJpegError;
  if (setjmp(trap.jump) != 0) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, buffer, size);
  info.image_width = static_cast<JDIMENSION>(image.width);
  info.image_height = static_cast<JDIMENSION>(image.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  info.comp_info[0].h_samp_factor = 2;
  info.comp_info[0].v_samp_factor = 1;
  info.comp_info[1].h_samp_factor = info.comp_info[1].v_samp_factor = 1;
  info.comp_info[2].h_samp_factor = info.comp_info[2].v_samp_factor = 1;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.at(0, static_cast<int>(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

bool decodeRaw(const uint8_t* data, size_t size, int* width, int* height, unsigned char* pixels,
               size_t capacity) {
  jpeg_decompress_struct info{};
  ErrorTrap trap{};
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = onJpegError;
  if (setjmp(trap.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  *width = static_cast<int>(info.output_width);
  *height = static_cast<int>(info.output_height);
  const size_t needed = static_cast<size_t>(info.output_width) * info.output_height * 3;
  if (pixels == nullptr || needed > capacity || info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return pixels == nullptr;  // a size query succeeds
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels + static_cast<size_t>(info.output_scanline) * info.output_width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

bool encodeJpeg(const RgbImage& image, int quality, std::vector<uint8_t>* out) {
  out->clear();
  if (image.width <= 0 || image.height <= 0) return false;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool ok = encodeRaw(image, quality, &buffer, &size);
  if (ok && buffer != nullptr) out->assign(buffer, buffer + size);
  std::free(buffer);
  return ok && !out->empty();
}

bool decodeJpeg(const uint8_t* data, size_t size, RgbImage* out) {
  int width = 0, height = 0;
  if (data == nullptr || size == 0 || !decodeRaw(data, size, &width, &height, nullptr, 0))
    return false;
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return false;
  out->resize(width, height);
  return decodeRaw(data, size, &width, &height, out->pixels.data(), out->pixels.size());
}

}  // namespace dvremu
