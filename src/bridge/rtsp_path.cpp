#include "bridge/rtsp_path.h"

int rtspChannelOfPath(std::string_view path) {
  constexpr std::string_view kPrefix = "/channel/";
  if (path.substr(0, kPrefix.size()) != kPrefix) return -1;
  path.remove_prefix(kPrefix.size());
  const auto end = path.find('/');
  const std::string_view number = path.substr(0, end);
  if (number.empty() || number.size() > 2 || number.front() == '0') return -1;
  int channel = 0;
  for (const char c : number) {
    if (c < '0' || c > '9') return -1;
    channel = channel * 10 + (c - '0');
  }
  return channel >= 1 && channel <= 16 ? channel - 1 : -1;
}
