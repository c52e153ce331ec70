#pragma once
// Direct access to the 240 x 320 RGB565 display memory (480-byte rows, top row first).
//
// The UI thread opens, closes, suspends and resumes the display; the live-stream thread brackets
// every frame with GXBeginDraw / GXEndDraw. Between a begin that returned memory and its end the
// drawing thread holds the display: suspend, resume, open and close wait for that frame to end,
// so nothing is drawn after they return. The memory itself lives as long as the Display and never
// moves, so a pointer from GXBeginDraw stays valid whatever the UI thread does meanwhile.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QWidget;

namespace display {
inline constexpr int kWidth = 240;
inline constexpr int kHeight = 320;
inline constexpr int kRowBytes = kWidth * 2;
inline constexpr int kPixels = kWidth * kHeight;
// The format code reported for RGB565 memory.
inline constexpr uint32_t kFormatRgb565 = 0x80;
}  // namespace display

struct GXDisplayProperties {
  uint32_t cxWidth = 0;
  uint32_t cyHeight = 0;
  int32_t cbxPitch = 0;
  int32_t cbyPitch = 0;
  int32_t cBPP = 0;
  uint32_t ffFormat = 0;
};

// What shows the display memory: a Qt widget, or nothing at all (tests, headless runs).
class IDisplayBackend {
 public:
  virtual ~IDisplayBackend() = default;
  // UI thread. Attaches to the window (null: none); false refuses the open.
  virtual bool attach(QWidget* window) = 0;
  // UI thread. Stops showing the memory.
  virtual void detach() = 0;
  // Any thread. The depth the screen reports; only 16 can be drawn.
  virtual int bitsPerPixel() const = 0;
  // Drawing thread, at the end of every frame while the memory is still held: the newest picture.
  virtual void present(const uint16_t* memory) = 0;
};

class Display {
 public:
  explicit Display(IDisplayBackend& backend);
  ~Display();
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

  // UI thread. Non-zero when the display may be used. Opening an open display keeps it open.
  int GXOpenDisplay(QWidget* window, uint32_t flags);
  GXDisplayProperties GXGetDisplayProperties() const;
  // UI thread. Always 1; closing a closed display does nothing.
  int GXCloseDisplay();
  // UI thread. While suspended GXBeginDraw returns null. Both return 1.
  int GXSuspend();
  int GXResume();

  // Drawing thread. The display memory, or null when the display is closed, suspended, not
  // 16 bits per pixel, or already begun on this thread.
  uint16_t* GXBeginDraw();
  // Drawing thread. 1 after ending this thread's frame; 0 (and nothing done) without one.
  int GXEndDraw();

  // Read access, any thread.
  bool isOpen() const { return open_.load(); }
  bool isSuspended() const { return suspended_.load(); }
  uint64_t beginCount() const { return begins_.load(); }
  uint64_t endCount() const { return ends_.load(); }
  // A copy of the memory, taken while no frame is being drawn (waits for one in progress).
  std::vector<uint16_t> snapshot() const;
  // Overwrites the whole memory with one value, likewise between frames (tests, clearing).
  void fill(uint16_t value);
  // UI thread. Clears the memory to black between frames and hands it to the backend as a
  // finished picture, so the last live picture never outlives the session on screen.
  void clear();
  // Any thread but the drawing one: called on the drawing thread at the end of every frame,
  // after the backend's present and while the memory is still held (benchmarks time a picture's
  // arrival with it). Empty removes it.
  void setEndObserver(std::function<void()> observer);

 private:
  // Runs f while holding the display, unless this thread holds it already (mid-frame).
  template <typename F>
  void whileHeld(F&& f) const;

  IDisplayBackend& backend_;
  // Allocated once; written only between a begin and its end, or under drawMutex_.
  std::unique_ptr<uint16_t[]> memory_;
  // Held by the drawing thread from a successful GXBeginDraw to its GXEndDraw.
  mutable std::mutex drawMutex_;
  std::atomic<std::thread::id> drawingThread_{};
  // Written by the UI thread under drawMutex_; read anywhere.
  std::atomic<bool> open_{false};
  std::atomic<bool> suspended_{false};
  std::atomic<uint64_t> begins_{0};
  std::atomic<uint64_t> ends_{0};
  // Written under drawMutex_, called by the drawing thread while it holds the display.
  std::function<void()> endObserver_;
};
