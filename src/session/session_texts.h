#pragma once
// The texts a session reports: the compact window's status lines and message boxes, word for
// word, so every view of a DVR reads the same.
#include <cstdint>
#include <string>
#include <string_view>

namespace session_text {

// pattern with its one "%s" replaced by name.
std::string format(std::string_view pattern, std::string_view name);

inline constexpr std::string_view kConnecting = "%s Connecting...";
inline constexpr std::string_view kConnected = "%s Connected.";
inline constexpr std::string_view kDisconnected = "%s Disconnected.";
inline constexpr std::string_view kConnectTimeout = "%s Connecting timeout.";
inline constexpr std::string_view kConnectFailure = "%s Connecting failure.";
inline constexpr std::string_view kLiveOpenFailure = "%s Connection falure.";
inline constexpr std::string_view kPowerOff = "%s Power off";
inline constexpr std::string_view kSetupEntered = "%s entered into DVR Setup";
inline constexpr std::string_view kSetupLeft = "%s get out of DVR Setup";
inline constexpr std::string_view kCameraBusy =
    "Already using PTZ Camera Control. Please check it again.";
inline constexpr std::string_view kLiveStreamConnect = "Error : Live Stream Connect";

// "Error : " and the reply's name, the box of a reply that answered with an error.
std::string errorText(std::string_view replyName);

// The box for a refused login's status; empty for the status that has none.
std::string loginRefusal(int16_t status);

}  // namespace session_text
