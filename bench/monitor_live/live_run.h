#pragma once
// One measured run of the real monitor window (offscreen) against a dvr-emulator in this process:
// the emulator serves 704x480 pre-encoded loops on 16 channels, the window shows a grid of them,
// and for a number of seconds every picture painted for the first time is counted and timed.
#include <QSize>

#include <memory>
#include <string>
#include <vector>

#include "monitor/grid_layout.h"
#include "monitor_live/cpu_clocks.h"

namespace dvremu {
class DvrEmulator;
}

namespace bench {

struct RunSetup {
  GridLayout layout = GridLayout::Sixteen;
  int tiles = 16;  // the first tiles show channels 1..tiles, the rest stay empty
  QSize window{1280, 720};
  bool enlarged = false;  // tile 1 enlarged to the whole window
  int decodeThreads = 0;  // 0: one per core
  double seconds = 10;
};

struct RunResult {
  bool ok = false;
  std::string error;
  double seconds = 0;
  std::vector<double> tileFps;  // new pictures painted per second, per shown tile
  double totalFps = 0;
  // Frames of the measured time: requested from the DVR, arrived, painted.
  uint64_t requested = 0, arrived = 0, painted = 0;
  uint64_t unanswered = 0;  // requests of the measured time never answered
  // Why arrived frames were not painted (they overlap: a count per stage of the way).
  uint64_t skipped = 0, failed = 0, replacedInPool = 0, replacedInTile = 0;
  // CPU in ms per painted picture: decoding, scaling into the tile, the UI thread (taking the
  // pictures, painting, the rest of its work), Qt's helper threads (parts of large scales and
  // paints), and the viewer's other threads (receiving, pulling, waking). viewerPercent: the
  // viewer's CPU in % of one core.
  double decodeMs = 0, scaleMs = 0, uiMs = 0, helperMs = 0, restMs = 0, viewerPercent = 0;
  double emulatorPercent = 0;
  double heartbeatMs = 0;  // the UI thread's longest gap beyond the heartbeat's period
  double latencyMedianMs = 0, latencyP99Ms = 0;
  // The viewer's peak resident memory during the run: the process's peak, less what it held
  // before the window was made (the emulator, what earlier runs left in the heap), plus what the
  // program held before any emulator started (Qt and the libraries, the viewer's too).
  double residentMb = 0;
};

// The emulator of a run: 16 channels of 704x480, the last `mpeg4` of them MPEG-4, the others
// JPEG, each at fps frames a second (0: as fast as asked).
class CBenchDvr {
 public:
  CBenchDvr(double fps, int mpeg4);
  ~CBenchDvr();
  bool start(std::string* error);
  uint16_t port() const;
  uint64_t cpuNs() const { return threads_.cpuNs(); }

 private:
  double fps_;
  int mpeg4_;
  CThreadGroup threads_;
  std::unique_ptr<dvremu::DvrEmulator> emulator_;
};

// programKb: resident memory before any emulator started.
RunResult measureRun(CBenchDvr& dvr, const RunSetup& setup, long programKb);

// Resident memory now, kB.
long residentKb();

}  // namespace bench
