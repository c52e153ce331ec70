#include "bridge/request_target.h"

RequestTarget parseRequestTarget(std::string_view path) {
  RequestTarget target;
  if (const auto query = path.find('?'); query != std::string_view::npos)
    path = path.substr(0, query);
  if (path == "/" || path == "/index.html") {
    target.kind = RequestKind::Page;
  } else if (path == "/status.json") {
    target.kind = RequestKind::Status;
  } else if (path == "/metrics") {
    target.kind = RequestKind::Metrics;
  } else if (constexpr std::string_view prefix = "/channels/";
             path.substr(0, prefix.size()) == prefix) {
    std::string_view rest = path.substr(prefix.size());
    int number = 0;
    size_t digits = 0;
    // One or two digits without a leading zero.
    while (digits < rest.size() && digits < 3 && rest[digits] >= '0' && rest[digits] <= '9') {
      number = number * 10 + (rest[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 2 || rest[0] == '0' || number > 16) return target;
    rest.remove_prefix(digits);
    if (rest == ".mjpg") {
      target.kind = RequestKind::Stream;
    } else if (rest == ".jpg") {
      target.kind = RequestKind::Snapshot;
    } else {
      return target;
    }
    target.channel = static_cast<uint8_t>(number - 1);
  }
  return target;
}
