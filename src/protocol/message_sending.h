#pragma once
// Sending whole messages on a channel, and choosing the window a connection reports to.
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/message_window.h"

class CSocketChannel;

// Header and body in one buffer and one send. False when the send failed.
bool sendWholeMessage(CSocketChannel& channel, uint32_t command,
                      std::span<const uint8_t> body = {});

// RSP_AUTHLOGIN as the sub-connections send it: the 17 header bytes, then the 64-byte login body,
// in two sends. False when either failed.
bool sendLoginInTwoParts(CSocketChannel& channel, std::string_view userId,
                         std::string_view password);

// The given window while it lives, else the application's main window.
WindowId liveWindowOr(WindowId window);
// The application's main window while it lives, else the given window.
WindowId mainWindowOr(WindowId window);
