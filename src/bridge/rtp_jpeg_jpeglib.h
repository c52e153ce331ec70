#pragma once
// libjpeg glue for the RTP/JPEG fit-up: errors that jump back to the caller instead of exit(),
// data damage treated as an error, a scan-count guard, and output into a std::vector.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

namespace rtpjpeg {

struct ErrorTrap {
  jpeg_error_mgr manager{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  char message[JMSG_LENGTH_MAX] = {};
  int maxScans = 0;  // progressive scans allowed before a frame counts as hostile
};

// Points the error manager at trap: every error, and every warning about damaged entropy data,
// longjmps to trap.jump with the text in trap.message.
jpeg_error_mgr* installTrap(ErrorTrap* trap);
// Adds the scan-count guard to a decompressor that uses trap.
void installScanGuard(j_decompress_ptr info, ErrorTrap* trap, int maxScans);

// A destination that writes into a vector, growing it as needed; the vector holds exactly the
// encoded bytes after jpeg_finish_compress.
struct VectorDestination {
  jpeg_destination_mgr manager{};
  std::vector<uint8_t>* out = nullptr;
};
void installDestination(j_compress_ptr info, VectorDestination* destination,
                        std::vector<uint8_t>* out);

}  // namespace rtpjpeg
