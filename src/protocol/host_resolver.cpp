#include "protocol/host_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

std::mutex lookupMutex;  // guards testLookup
HostLookup testLookup;

std::vector<std::string> systemLookup(const std::string& host) {
  std::vector<std::string> addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) return addresses;
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addr == nullptr) continue;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr)
      addresses.emplace_back(text);
  }
  ::freeaddrinfo(list);
  return addresses;
}

HostLookup currentLookup() {
  std::lock_guard lock(lookupMutex);
  return testLookup ? testLookup : HostLookup(systemLookup);
}

bool isDottedAddress(const std::string& host) {
  in_addr address{};
  return ::inet_pton(AF_INET, host.c_str(), &address) == 1;
}

// Shared by a waiting caller and the helper thread that may outlive it.
struct LookupJob {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::vector<std::string> addresses;
};

}  // namespace

std::vector<std::string> lookupIpv4Addresses(std::string_view host) {
  if (host.empty()) return {};
  return currentLookup()(std::string(host));
}

std::optional<std::string> resolveForConnect(std::string_view host,
                                             const std::function<bool()>& abandon) {
  const std::string name(host);
  if (name.empty()) return std::nullopt;
  if (isDottedAddress(name)) return name;
  auto job = std::make_shared<LookupJob>();
  try {
    std::thread([job, name, lookup = currentLookup()] {
      auto addresses = lookup(name);
      std::lock_guard lock(job->mutex);
      job->addresses = std::move(addresses);
      job->finished = true;
      job->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return std::nullopt;
  }
  std::unique_lock lock(job->mutex);
  while (!job->finished) {
    if (abandon()) return std::nullopt;
    job->done.wait_for(lock, std::chrono::milliseconds(5));
  }
  if (job->addresses.empty()) return std::nullopt;
  return job->addresses.back();
}

std::string resolveToDottedAddress(std::string_view host) {
  const auto addresses = lookupIpv4Addresses(host);
  return addresses.empty() ? std::string(host) : addresses.back();
}

void setHostLookupForTesting(HostLookup lookup) {
  std::lock_guard lock(lookupMutex);
  testLookup = std::move(lookup);
}
