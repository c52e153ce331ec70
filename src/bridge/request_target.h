#pragma once
// What an HTTP request's path asks for. Pure parsing of untrusted text: anything but the exact
// forms below is Unknown (the caller answers 404), and a query string is ignored.
#include <cstdint>
#include <string_view>

enum class RequestKind { Unknown, Page, Status, Metrics, Stream, Snapshot };

struct RequestTarget {
  RequestKind kind = RequestKind::Unknown;
  uint8_t channel = 0;  // 0..15 for Stream and Snapshot (the path counts from 1)
};

// "/", "/status.json", "/metrics", "/channels/N.mjpg", "/channels/N.jpg" with N 1..16.
RequestTarget parseRequestTarget(std::string_view path);
