#include "platform/wave_out/wav_file_wave_out.h"

#include "platform/output_file.h"

#include <stdio.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

namespace platform {

namespace {

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

class CWavFileOutput final : public IWaveOutput {
 public:
  explicit CWavFileOutput(CWavFileWaveOut& owner) : owner_(owner) {}
  bool play(uint64_t, const uint8_t* data, uint32_t length) override {
    owner_.append(data, length);
    return true;
  }
  void discard() override {}
  void setVolume(uint32_t) override {}

 private:
  CWavFileWaveOut& owner_;
};

}  // namespace

CWavFileWaveOut::CWavFileWaveOut(std::string path) : path_(std::move(path)) {}

CWavFileWaveOut::~CWavFileWaveOut() {
  closeAll();
  std::lock_guard lock(fileMutex_);
  if (file_ != nullptr) std::fclose(file_);
}

std::unique_ptr<IWaveOutput> CWavFileWaveOut::createOutput(WaveOutHandle, const WaveFormat& format,
                                                           uint32_t* error) {
  std::lock_guard lock(fileMutex_);
  if (file_ == nullptr) {
    // Private, and never written through a link planted at the name.
    platform::COutputFile created = createOutputFile(path_, ExistingFile::Replace);
    if (created.isOpen()) {
      file_ = ::fdopen(created.fd(), "wb");
      if (file_ != nullptr) created.release();
    }
    if (file_ == nullptr) {
      failLocked("cannot create the file");
      *error = kMmNoDriver;
      return nullptr;
    }
    format_ = format;
    dataBytes_ = 0;
    writeHeaderLocked();
  } else if (format.channels != format_.channels || format.samplesPerSec != format_.samplesPerSec ||
             format.bitsPerSample != format_.bitsPerSample) {
    *error = kWaveBadFormat;  // one file holds one format
    return nullptr;
  }
  return std::make_unique<CWavFileOutput>(*this);
}

std::string CWavFileWaveOut::error() const {
  std::lock_guard lock(fileMutex_);
  return error_;
}

void CWavFileWaveOut::failLocked(const char* what) {
  if (error_.empty()) error_ = std::string(what) + ": " + std::strerror(errno);
}

bool CWavFileWaveOut::writeHeaderLocked() {
  std::array<uint8_t, 44> h{};
  const uint8_t riff[4] = {'R', 'I', 'F', 'F'}, wave[4] = {'W', 'A', 'V', 'E'};
  const uint8_t fmt[4] = {'f', 'm', 't', ' '}, data[4] = {'d', 'a', 't', 'a'};
  std::copy_n(riff, 4, h.begin());
  put32(&h[4], 36 + dataBytes_);
  std::copy_n(wave, 4, h.begin() + 8);
  std::copy_n(fmt, 4, h.begin() + 12);
  put32(&h[16], 16);
  put16(&h[20], format_.formatTag);
  put16(&h[22], format_.channels);
  put32(&h[24], format_.samplesPerSec);
  put32(&h[28], format_.avgBytesPerSec);
  put16(&h[32], format_.blockAlign);
  put16(&h[34], format_.bitsPerSample);
  std::copy_n(data, 4, h.begin() + 36);
  put32(&h[40], dataBytes_);
  if (std::fseek(file_, 0, SEEK_SET) != 0 ||
      std::fwrite(h.data(), 1, h.size(), file_) != h.size()) {
    failLocked("cannot write the file");
    return false;
  }
  return true;
}

bool CWavFileWaveOut::append(const uint8_t* data, uint32_t length) {
  std::lock_guard lock(fileMutex_);
  if (file_ == nullptr) return false;
  // The sizes in the header are 32-bit; stop short of wrapping them.
  if (length > std::numeric_limits<uint32_t>::max() - 36 - dataBytes_) return false;
  if (std::fseek(file_, 0, SEEK_END) != 0 || std::fwrite(data, 1, length, file_) != length) {
    failLocked("cannot write the file");
    return false;
  }
  dataBytes_ += length;
  // Keep the file complete after every block, so it can be read while the device is open.
  if (!writeHeaderLocked()) return false;
  if (std::fflush(file_) != 0) {
    failLocked("cannot write the file");
    return false;
  }
  return true;
}

}  // namespace platform
