#pragma once
// The channel an RTSP request's path names: "/channel/N" (N 1..16), alone or followed by a
// stream's part ("/channel/N/stream=0"). Returns 0..15, or -1 for any other path.
#include <string_view>

int rtspChannelOfPath(std::string_view path);
