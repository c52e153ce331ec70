#include "bridge/rtp_jpeg_jpeglib.h"

#include <cstring>

// clang-format off
#include <jerror.h>
// clang-format on

namespace rtpjpeg {
namespace {

ErrorTrap* trapOf(j_common_ptr info) {
  return reinterpret_cast<ErrorTrap*>(info->err);
}

[[noreturn]] void onError(j_common_ptr info) {
  ErrorTrap* trap = trapOf(info);
  (*info->err->format_message)(info, trap->message);
  std::longjmp(trap->jump, 1);
}

void onMessage(j_common_ptr info, int level) {
  if (level != -1) return;  // trace messages
  // Damaged entropy data: libjpeg would fill the rest of the picture with grey; such a frame is
  // not worth sending.
  switch (info->err->msg_code) {
    case JWRN_HIT_MARKER:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
      onError(info);
    default:
      ++info->err->num_warnings;
  }
}

void onProgress(j_common_ptr info) {
  if (!info->is_decompressor) return;
  ErrorTrap* trap = trapOf(info);
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > trap->maxScans) {
    std::snprintf(trap->message, sizeof trap->message, "more than %d scans", trap->maxScans);
    std::longjmp(trap->jump, 1);
  }
}

void initDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<VectorDestination*>(info->dest);
  std::vector<uint8_t>& out = *destination->out;
  out.resize(out.capacity() > 16384 ? out.capacity() : 16384);
  destination->manager.next_output_byte = out.data();
  destination->manager.free_in_buffer = out.size();
}

boolean emptyOutput(j_compress_ptr info) {
  auto* destination = reinterpret_cast<VectorDestination*>(info->dest);
  std::vector<uint8_t>& out = *destination->out;
  // libjpeg calls this only when the whole buffer is used.
  const size_t used = out.size();
  out.resize(used * 2);
  destination->manager.next_output_byte = out.data() + used;
  destination->manager.free_in_buffer = out.size() - used;
  return TRUE;
}

void termDestination(j_compress_ptr info) {
  auto* destination = reinterpret_cast<VectorDestination*>(info->dest);
  destination->out->resize(destination->out->size() - destination->manager.free_in_buffer);
}

}  // namespace

jpeg_error_mgr* installTrap(ErrorTrap* trap) {
  jpeg_error_mgr* manager = jpeg_std_error(&trap->manager);
  manager->error_exit = onError;
  manager->emit_message = onMessage;
  return manager;
}

void installScanGuard(j_decompress_ptr info, ErrorTrap* trap, int maxScans) {
  trap->maxScans = maxScans;
  trap->progress.progress_monitor = onProgress;
  info->progress = &trap->progress;
}

void installDestination(j_compress_ptr info, VectorDestination* destination,
                        std::vector<uint8_t>* out) {
  destination->out = out;
  destination->manager.init_destination = initDestination;
  destination->manager.empty_output_buffer = emptyOutput;
  destination->manager.term_destination = termDestination;
  info->dest = &destination->manager;
}

}  // namespace rtpjpeg
