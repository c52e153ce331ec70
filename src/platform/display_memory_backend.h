#pragma once
// A display backend that shows nothing: for tests and headless runs. Its depth can be set (to
// exercise the refusal of displays that are not 16 bits per pixel) and it can refuse to open.
#include <atomic>
#include <cstdint>

#include "platform/display.h"

class CMemoryDisplayBackend final : public IDisplayBackend {
 public:
  explicit CMemoryDisplayBackend(int bitsPerPixel = 16) : bitsPerPixel_(bitsPerPixel) {}

  bool attach(QWidget* window) override;
  void detach() override { attached_.store(false); }
  int bitsPerPixel() const override { return bitsPerPixel_.load(); }
  void present(const uint16_t* memory) override;

  void setBitsPerPixel(int bits) { bitsPerPixel_.store(bits); }
  void setRefuseOpen(bool refuse) { refuseOpen_.store(refuse); }
  bool attached() const { return attached_.load(); }
  QWidget* window() const { return window_.load(); }
  uint64_t presentCount() const { return presents_.load(); }

 private:
  std::atomic<int> bitsPerPixel_;
  std::atomic<bool> refuseOpen_{false};
  std::atomic<bool> attached_{false};
  std::atomic<QWidget*> window_{nullptr};
  std::atomic<uint64_t> presents_{0};
};
