// The RTP/JPEG fit-up on the frames a JPEG channel carries: every frame size the emulator serves
// (its four default channels, a few moments each, at its default quality), the shared camera
// photos as a DVR sends them, and the 704x480 photo coded as other encoders would (progressive,
// optimised Huffman tables, restart markers, 4:2:2 with doubled vertical factors, 4:4:4,
// grayscale, 2816x1920) to show what a frame
// costs when it is re-coded or re-encoded.
//
// Per source: how many frames go out untouched, transcoded (re-coded losslessly), re-encoded or
// not at all, the cost of the marker scan alone, and of the whole fit (scan included) per frame,
// both as thread CPU time so that a busy neighbour on a shared machine disturbs them little.
//
//   bench_rtp_jpeg_fit [MEDIA_DIR] [--seconds S]   (S: CPU time per measurement, default 0.3)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bridge/rtp_jpeg_fit.h"
#include "jpeg_codec.h"
#include "ptz_camera.h"
#include "synthetic_scene.h"

#ifndef PV_MEDIA_DIR
#define PV_MEDIA_DIR "../shared/media"
#endif

namespace {

using Frame = std::vector<uint8_t>;

struct Source {
  std::string label;
  std::vector<Frame> frames;
};

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// CPU microseconds per frame of work(frame), repeated over all frames for at least `seconds`.
double microsecondsPerFrame(const std::vector<Frame>& frames, double seconds,
                            const std::function<void(const Frame&)>& work) {
  size_t done = 0;
  const double start = threadSeconds();
  double elapsed = 0;
  do {
    for (const Frame& f : frames) work(f);
    done += frames.size();
    elapsed = threadSeconds() - start;
  } while (elapsed < seconds);
  return elapsed * 1e6 / double(done);
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

volatile int fitting = 0;  // keeps the scan from being optimised away

[[noreturn]] void fatal(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  std::fprintf(stderr, "bench_rtp_jpeg_fit: libjpeg: %s\n", text);
  std::exit(1);
}

// The photos are known good: a libjpeg error ends the program.
dvremu::RgbImage decodeRgb(const Frame& jpeg) {
  dvremu::RgbImage image;
  if (!dvremu::decodeJpeg(jpeg.data(), jpeg.size(), &image)) {
    std::fprintf(stderr, "bench_rtp_jpeg_fit: a photo does not decode\n");
    std::exit(1);
  }
  return image;
}

// image coded the way configure sets the encoder up (after the defaults at quality 75).
Frame encodeAs(const dvremu::RgbImage& image, const std::function<void(j_compress_ptr)>& configure,
               bool gray = false) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  errors.error_exit = fatal;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = JDIMENSION(image.width);
  info.image_height = JDIMENSION(image.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  if (gray) jpeg_set_colorspace(&info, JCS_GRAYSCALE);
  jpeg_set_quality(&info, 75, TRUE);
  configure(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.at(0, int(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Frame out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

std::vector<Source> emulatorSources() {
  std::vector<Source> sources;
  const int sizes[][2] = {{704, 480}, {704, 576}, {704, 240}, {704, 288}, {352, 240}, {352, 288}};
  for (const auto& size : sizes) {
    Source source{"emulator " + std::to_string(size[0]) + "x" + std::to_string(size[1]) + " q80",
                  {}};
    for (int channel = 1; channel <= 4; ++channel) {
      dvremu::SyntheticScene scene(channel, size[0], size[1]);
      dvremu::RgbImage image;
      image.resize(size[0], size[1]);
      for (int moment = 0; moment < 5; ++moment) {
        scene.render(moment * 0.7, dvremu::PtzPosition{}, uint64_t(moment), image);
        Frame jpeg;
        if (dvremu::encodeJpeg(image, 80, &jpeg)) source.frames.push_back(std::move(jpeg));
      }
    }
    sources.push_back(std::move(source));
  }
  return sources;
}

std::vector<Source> photoSources(const std::string& dir) {
  std::vector<Source> sources;
  const char* files[] = {"photo_704x480_422_q75.jpg", "photo_704x480_420_q75.jpg",
                         "photo_352x240_422_q30.jpg"};
  for (const char* file : files) {
    Frame jpeg = readFile(dir + "/" + file);
    if (!jpeg.empty()) sources.push_back({std::string("photo ") + file, {std::move(jpeg)}});
  }
  if (sources.empty()) return sources;
  // The first photo as other encoders would code it.
  const dvremu::RgbImage image = decodeRgb(sources[0].frames[0]);
  const auto add = [&](const char* label, Frame jpeg) {
    sources.push_back({std::string("704x480 photo, ") + label, {std::move(jpeg)}});
  };
  add("progressive", encodeAs(image, [](j_compress_ptr c) { jpeg_simple_progression(c); }));
  add("optimised Huffman", encodeAs(image, [](j_compress_ptr c) { c->optimize_coding = TRUE; }));
  add("restart every row", encodeAs(image, [](j_compress_ptr c) { c->restart_in_rows = 1; }));
  add("4:2:2 as 2x2, 1x2, 1x2", encodeAs(image, [](j_compress_ptr c) {
        c->comp_info[0].v_samp_factor = c->comp_info[1].v_samp_factor = 2;
        c->comp_info[2].v_samp_factor = 2;
      }));
  add("4:4:4", encodeAs(image, [](j_compress_ptr c) { c->comp_info[0].h_samp_factor = 1; }));
  add("grayscale", encodeAs(
                       image, [](j_compress_ptr) {}, true));
  dvremu::RgbImage large;
  large.resize(image.width * 4, image.height * 4);
  dvremu::scaleNearest(image, large);
  sources.push_back({"2816x1920 photo 4:2:0", {encodeAs(large, [](j_compress_ptr c) {
                       c->comp_info[0].v_samp_factor = 2;
                     })}});
  return sources;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mediaDir = PV_MEDIA_DIR;
  double seconds = 0.3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
      seconds = std::atof(argv[++i]);
    else
      mediaDir = argv[i];
  }
  std::vector<Source> sources = emulatorSources();
  std::vector<Source> photos = photoSources(mediaDir);
  if (photos.empty()) std::printf("no photos in %s: emulator frames only\n\n", mediaDir.c_str());
  for (Source& s : photos) sources.push_back(std::move(s));

  std::printf(
      "| source | frames | untouched | transcoded | re-encoded | unusable | scan µs | "
      "fit µs | out/in bytes |\n|---|---|---|---|---|---|---|---|---|\n");
  CRtpJpegFitter fitter;
  for (const Source& source : sources) {
    int counts[4] = {0, 0, 0, 0};
    size_t in = 0, out = 0;
    for (const Frame& f : source.frames) {
      const RtpJpegFitResult r = fitter.fit(f.data(), f.size());
      ++counts[int(r.fit)];
      in += f.size();
      out += r.fit == RtpJpegFit::Untouched ? f.size() : r.jpeg.size();
    }
    const double scan = microsecondsPerFrame(source.frames, seconds, [](const Frame& f) {
      fitting = fitting + (fitsRtpJpeg(f.data(), f.size(), nullptr) ? 1 : 0);
    });
    const double fit = microsecondsPerFrame(source.frames, seconds, [&](const Frame& f) {
      const RtpJpegFitResult r = fitter.fit(f.data(), f.size());
      if (r.fit == RtpJpegFit::Unusable) std::fprintf(stderr, "unusable: %s\n", r.reason.c_str());
    });
    std::printf("| %s | %zu | %d | %d | %d | %d | %.2f | %.1f | %.3f |\n", source.label.c_str(),
                source.frames.size(), counts[0], counts[1], counts[2], counts[3], scan, fit,
                double(out) / double(in));
  }
  return 0;
}
