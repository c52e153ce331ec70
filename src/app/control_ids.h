#pragma once
// The main window's controls, commands and timers by their classic numbers.
#include <cstdint>

namespace ctl {
inline constexpr int kConnect = 1004;
inline constexpr int kDisconnect = 1005;
inline constexpr int kFirstChannel = 1010;  // channel n is kFirstChannel + n, n = 0..15
inline constexpr int kLastChannel = 1025;
inline constexpr int kViewOption = 1035;
inline constexpr int kAudioOn = 1036;
inline constexpr int kVolume = 1037;
inline constexpr int kModeZoom = 1038;
inline constexpr int kModeFocus = 1039;
inline constexpr int kModePantilt = 1040;
inline constexpr int kModePreset = 1041;
inline constexpr int kAddressBook = 1042;
inline constexpr int kPadCornerTopLeft = 1043;
inline constexpr int kUp = 1044;
inline constexpr int kPadCornerTopRight = 1045;
inline constexpr int kLeft = 1046;
inline constexpr int kRight = 1047;
inline constexpr int kPadCornerBottomLeft = 1048;
inline constexpr int kDown = 1049;
inline constexpr int kPadCornerBottomRight = 1050;
inline constexpr int kFirstPreset = 1051;  // preset p (1..8) is kFirstPreset + p - 1
inline constexpr int kLastPreset = 1058;
inline constexpr int kAudioOff = 1059;
inline constexpr int kChannelMarker = 1060;
inline constexpr int kPlus = 1061;
inline constexpr int kLessThan = 1062;
inline constexpr int kMinus = 1063;
inline constexpr int kGreaterThan = 1064;
inline constexpr int kLayout0 = 32793;
inline constexpr int kLayout1 = 32794;  // the menu bar's version button
}  // namespace ctl

namespace timers {
inline constexpr uint32_t kReopenDisplay = 100;   // after leaving full screen
inline constexpr uint32_t kResumeDrawing = 200;   // after entering full screen
inline constexpr uint32_t kConnectTimeout = 300;  // armed by every connect attempt
inline constexpr uint32_t kSwitchTimeout = 400;   // a channel switch
inline constexpr int kDisplayDelayMs = 1000;
}  // namespace timers

// Channel button display states.
namespace chstate {
inline constexpr int kAvailable = 0;
inline constexpr int kShown = 1;
inline constexpr int kUnavailable = 3;
}  // namespace chstate

inline constexpr int kChannelCount = 16;
inline constexpr const char* kVersionText = "ver 1.0.0.0 (015)      ";
