#include "platform/display.h"

#include <algorithm>
#include <cstring>

Display::Display(IDisplayBackend& backend)
    : backend_(backend), memory_(std::make_unique<uint16_t[]>(display::kPixels)) {}

Display::~Display() {
  if (open_.load()) backend_.detach();
}

template <typename F>
void Display::whileHeld(F&& f) const {
  if (drawingThread_.load() == std::this_thread::get_id()) {
    f();
    return;
  }
  std::lock_guard lock(drawMutex_);
  f();
}

int Display::GXOpenDisplay(QWidget* window, uint32_t /*flags*/) {
  int result = 0;
  whileHeld([&] {
    if (open_.load()) {
      result = 1;
      return;
    }
    if (!backend_.attach(window)) return;
    open_.store(true);
    suspended_.store(false);
    result = 1;
  });
  return result;
}

GXDisplayProperties Display::GXGetDisplayProperties() const {
  GXDisplayProperties properties;
  properties.cxWidth = display::kWidth;
  properties.cyHeight = display::kHeight;
  properties.cBPP = backend_.bitsPerPixel();
  properties.cbxPitch = (properties.cBPP + 7) / 8;
  properties.cbyPitch = properties.cbxPitch * display::kWidth;
  properties.ffFormat = properties.cBPP == 16 ? display::kFormatRgb565 : 0;
  return properties;
}

int Display::GXCloseDisplay() {
  whileHeld([&] {
    if (!open_.load()) return;
    backend_.detach();
    open_.store(false);
    suspended_.store(false);
  });
  return 1;
}

int Display::GXSuspend() {
  whileHeld([&] { suspended_.store(true); });
  return 1;
}

int Display::GXResume() {
  whileHeld([&] { suspended_.store(false); });
  return 1;
}

uint16_t* Display::GXBeginDraw() {
  if (drawingThread_.load() == std::this_thread::get_id()) return nullptr;
  std::unique_lock lock(drawMutex_);
  if (!open_.load() || suspended_.load() || backend_.bitsPerPixel() != 16) return nullptr;
  drawingThread_.store(std::this_thread::get_id());
  begins_.fetch_add(1);
  lock.release();  // held until GXEndDraw on this thread
  return memory_.get();
}

int Display::GXEndDraw() {
  if (drawingThread_.load() != std::this_thread::get_id()) return 0;
  backend_.present(memory_.get());
  if (endObserver_) endObserver_();
  ends_.fetch_add(1);
  drawingThread_.store(std::thread::id{});
  drawMutex_.unlock();
  return 1;
}

std::vector<uint16_t> Display::snapshot() const {
  std::vector<uint16_t> copy(display::kPixels);
  whileHeld([&] { std::memcpy(copy.data(), memory_.get(), display::kPixels * 2); });
  return copy;
}

void Display::fill(uint16_t value) {
  whileHeld([&] { std::fill_n(memory_.get(), display::kPixels, value); });
}

void Display::clear() {
  whileHeld([&] {
    std::fill_n(memory_.get(), display::kPixels, uint16_t{0});
    backend_.present(memory_.get());
  });
}

void Display::setEndObserver(std::function<void()> observer) {
  std::lock_guard lock(drawMutex_);
  endObserver_ = std::move(observer);
}
