#pragma once
// How busy the machine is besides this process: the load average, the processes running now,
// and the share of every core other processes used over a short sample.
#include <string>

namespace bench {

struct MachineLoad {
  std::string loadAverage;   // the first three fields of /proc/loadavg
  int otherRunning = 0;      // other processes in state R at the end of the sample
  double othersPercent = 0;  // CPU of all other processes, % of all cores
};

// Sleeps for sampleMs while it measures.
MachineLoad measureMachineLoad(int sampleMs);

}  // namespace bench
