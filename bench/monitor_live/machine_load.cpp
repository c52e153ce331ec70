#include "monitor_live/machine_load.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace bench {
namespace {

// Busy and total jiffies of every core together.
void cpuJiffies(unsigned long long* busy, unsigned long long* total) {
  std::ifstream stat("/proc/stat");
  std::string cpu;
  unsigned long long value = 0, idle = 0, sum = 0;
  stat >> cpu;
  for (int field = 0; field < 10 && stat >> value; ++field) {
    sum += value;
    if (field == 3 || field == 4) idle += value;  // idle, iowait
  }
  *busy = sum - idle;
  *total = sum;
}

double selfCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int otherRunningProcesses() {
  int running = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  const long self = long(getpid());
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || pid == self) continue;
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string text;
    std::getline(stat, text);
    const size_t close = text.rfind(')');
    if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'R') ++running;
  }
  closedir(proc);
  return running;
}

}  // namespace

MachineLoad measureMachineLoad(int sampleMs) {
  MachineLoad load;
  unsigned long long busy0 = 0, total0 = 0, busy1 = 0, total1 = 0;
  cpuJiffies(&busy0, &total0);
  const double self0 = selfCpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(sampleMs));
  cpuJiffies(&busy1, &total1);
  const double self = selfCpuSeconds() - self0;
  const double tick = double(sysconf(_SC_CLK_TCK));
  if (total1 > total0) {
    const double others = double(busy1 - busy0) - self * tick;
    load.othersPercent = std::max(0.0, 100.0 * others / double(total1 - total0));
  }
  load.otherRunning = otherRunningProcesses();
  std::ifstream average("/proc/loadavg");
  std::string a, b, c;
  average >> a >> b >> c;
  load.loadAverage = a + " " + b + " " + c;
  return load;
}

}  // namespace bench
