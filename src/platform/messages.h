#pragma once
// Window message numbers used across the viewer. The system numbers keep their classic values so
// that handlers read like the protocol of the original window framework.
#include <cstdint>

namespace msg {
// System messages.
inline constexpr uint32_t kDestroy = 0x0002;
inline constexpr uint32_t kPaint = 0x000F;
inline constexpr uint32_t kClose = 0x0010;
inline constexpr uint32_t kKeyDown = 0x0100;
inline constexpr uint32_t kCommand = 0x0111;
inline constexpr uint32_t kTimer = 0x0113;
inline constexpr uint32_t kPenDown = 0x0201;
inline constexpr uint32_t kPenUp = 0x0202;

// Wave-out notifications to the audio window.
inline constexpr uint32_t kWaveOutOpen = 955;
inline constexpr uint32_t kWaveOutClose = 956;
inline constexpr uint32_t kWaveOutDone = 957;

// Main window messages.
inline constexpr uint32_t kConnectRequest = 2024;        // sent: 0, ConnectRequest*
inline constexpr uint32_t kDisconnectDone = 2025;        // sent: channel, 0
inline constexpr uint32_t kControlConnectResult = 2041;  // posted: index, 0 or negative
inline constexpr uint32_t kControlLinkLost = 2042;       // posted: index, 0
inline constexpr uint32_t kFilterPenDown = 2044;         // sent: 0, InputMessage*
inline constexpr uint32_t kFilterPenUp = 2045;           // sent: 0, InputMessage*
inline constexpr uint32_t kPresetPressed = 2050;         // sent: 64, preset 1..8
inline constexpr uint32_t kLiveStreamLost = 2051;        // posted: index, 0
inline constexpr uint32_t kQuery3039 = 3039;
inline constexpr uint32_t kQuery3040 = 3040;
inline constexpr uint32_t kQueryClientExists = 3041;
inline constexpr uint32_t kRequestOrder = 4025;     // sent: order*, argument
inline constexpr uint32_t kReply = 4026;            // sent by the reply queue: 0, ReplyRecord*
inline constexpr uint32_t kVolumeChanged = 10025;   // posted: control id, position
inline constexpr uint32_t kRecordingEnded = 10100;  // a recording's writer has news: 0, 0
inline constexpr uint32_t kSnapshotSaved = 10101;   // a snapshot's save has ended: 0, 0
}  // namespace msg

// Results of window-message handlers.
inline constexpr int kHandled = 0;
inline constexpr int kRefused = -1;
