#include "scenario.h"

#include <array>
#include <random>

namespace {
constexpr std::array<const char*, 4> kConnections = {"control", "notice", "live", "audio"};
// Replies whose failure the viewer reports in a box of its own.
constexpr std::array<const char*, 4> kReportedFailures = {"RSP_INFOPRODUCTINFO", "RSP_PTZACTIVECAM",
                                                          "RSP_INFOCONFIGSET", "RSP_QOSRESOLUTION"};
// Replies whose failure stops the preparation or a later step without a box.
constexpr std::array<const char*, 7> kSilentFailures = {
    "RSP_LIVEOPEN",   "RSP_LIVESETUP",    "RSP_LIVESTART", "RSP_AUDIOOPEN",
    "RSP_AUDIOSTART", "RSP_AUDIOCHANNEL", "RSP_LIVEFRAME"};

std::string refusalText(int status) {
  switch (status) {
    case 2:
      return "Already logged in with the same user name. Please check it again.";
    case 2049:
      return "A user with their administrator authority has already logged in.";
    case 2050:
      return "Exceeded the maximum number of users who can be logged in. You cannot log in.";
    case 2051:
      return "Cannot log on to DVR with current account.";
    case 2052:
      return "Invaild password. Please check it again.";
    case 2053:
      return "";
    case 2054:
      return "The dvr of local is connecting already.";
    case 2055:
      return "The user has entered the DVR setup.";
    default:
      return "Auth Error";
  }
}

// Later expectations only narrow what an earlier fault allows when they are stronger.
int strength(Scenario::Expect e) {
  switch (e) {
    case Scenario::Expect::Refused:
      return 4;
    case Scenario::Expect::ErrorMessage:
      return 3;
    case Scenario::Expect::LinkLost:
      return 2;
    case Scenario::Expect::Connected:
      return 1;
    case Scenario::Expect::Any:
      return 0;
  }
  return 0;
}
}  // namespace

Scenario drawScenario(uint64_t seed) {
  std::mt19937_64 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint64_t>(n)); };
  Scenario s;
  s.seed = seed;
  s.channel = 1 + pick(4);
  s.quitAfterSeconds = 3.5 + pick(3) * 0.5;
  if (pick(2) == 0) s.emulatorArgs = {"--channel", std::to_string(s.channel) + ":codec=mpeg4"};
  s.expect = Scenario::Expect::Connected;

  // The first fault decides what the session must end in unless a later one is stronger and
  // would take effect first; combinations keep the weaker, wider expectation (Any) when unsure.
  const int faultCount = 1 + (pick(4) == 0 ? 1 + pick(2) : 0);
  bool mixed = false;
  Scenario::Expect strongest = Scenario::Expect::Connected;
  for (int f = 0; f < faultCount; ++f) {
    const std::string conn = kConnections[static_cast<size_t>(pick(4))];
    Scenario::Expect e = Scenario::Expect::Any;
    switch (pick(14)) {
      case 0:
        s.kinds.push_back("drop-at-message");
        s.startFaults.push_back(conn + " close-after " + std::to_string(pick(40)));
        break;
      case 1:
        s.kinds.push_back("bad-magic");
        s.startFaults.push_back(conn + " bad-magic");
        break;
      case 2:
        s.kinds.push_back("oversize");
        s.startFaults.push_back(conn + " oversize");
        break;
      case 3:
        s.kinds.push_back("huge-length");
        s.startFaults.push_back(conn + " huge-length");
        break;
      case 4:
        s.kinds.push_back("cut-body");
        s.startFaults.push_back(conn + " cut-body");
        break;
      case 5:
        s.kinds.push_back("stall");
        s.startFaults.push_back(conn + " stall " + std::to_string(1 + pick(2)));
        break;
      case 6: {
        static constexpr std::array<int, 10> kCodes = {2,    2049, 2050, 2051, 2052,
                                                       2053, 2054, 2055, 7,    65535};
        const int code = kCodes[static_cast<size_t>(pick(static_cast<int>(kCodes.size())))];
        const std::string where = pick(3) == 0 ? (pick(2) == 0 ? "live" : "audio") : "control";
        s.kinds.push_back("refuse-" + std::to_string(code) + "-" + where);
        s.startFaults.push_back("refuse-next " + std::to_string(code) + " " + where);
        e = Scenario::Expect::Refused;
        s.refusalMessage = refusalText(code);
        break;
      }
      case 7: {
        if (pick(2) == 0) {
          const std::string name =
              kReportedFailures[static_cast<size_t>(pick(kReportedFailures.size()))];
          s.kinds.push_back("fail-" + name);
          s.startFaults.push_back("fail " + name + " 0");
          e = Scenario::Expect::ErrorMessage;
          s.errorMessage = "Error : " + name;
        } else {
          const std::string name =
              kSilentFailures[static_cast<size_t>(pick(kSilentFailures.size()))];
          s.kinds.push_back("fail-" + name);
          s.startFaults.push_back("fail " + name + " 0");
        }
        break;
      }
      case 8: {
        static constexpr std::array<const char*, 3> kNotices = {"power", "setup", "leave"};
        const std::string notice = kNotices[static_cast<size_t>(pick(3))];
        s.kinds.push_back("notice-" + notice);
        s.liveCommands.push_back("notice " + notice + (pick(2) == 0 ? " user" : " admin"));
        e = Scenario::Expect::Connected;  // a notice shows; power and setup texts stay
        break;
      }
      case 9:
        s.kinds.push_back("busy-camera");
        s.startFaults.push_back("fail RSP_PTZCONTROL");
        // Every run nudges the camera once its picture shows (--move-camera).
        e = Scenario::Expect::ErrorMessage;
        s.errorMessage = "Already using PTZ Camera Control. Please check it again.";
        break;
      case 10:
        if (pick(2) == 0) {
          s.kinds.push_back("audio-codec-switch");
          s.liveCommands.push_back(pick(2) == 0 ? "audio-codec adpcm" : "audio-codec g726");
        } else {
          // The shown channel's pictures change coding mid-stream (JPEG to MPEG-4 or back).
          const bool mpeg4 = !s.emulatorArgs.empty();
          s.kinds.push_back(mpeg4 ? "video-codec-to-jpeg" : "video-codec-to-mpeg4");
          s.liveCommands.push_back("video-codec " + std::to_string(s.channel) +
                                   (mpeg4 ? " jpeg" : " mpeg4"));
        }
        e = Scenario::Expect::Connected;
        break;
      case 11:
        s.kinds.push_back("silent-" + conn);
        s.liveCommands.push_back("silent " + conn);
        if (conn == "control") {
          e = Scenario::Expect::LinkLost;
          s.quitAfterSeconds = 8;  // the link timeout (3 s) must end it before the quit
        }
        break;
      case 12:
        s.kinds.push_back("drop-" + conn);
        s.liveCommands.push_back("drop " + conn);
        if (conn == "control" || conn == "live") e = Scenario::Expect::LinkLost;
        break;
      default:
        s.kinds.push_back("none");
        e = Scenario::Expect::Connected;
        break;
    }
    if (f == 0) {
      strongest = e;
    } else if (e != strongest || e == Scenario::Expect::ErrorMessage) {
      // Two boxes expected: the first one may stop the session before the other can show.
      mixed = true;
      if (strength(e) > strength(strongest)) strongest = e;
    }
  }
  s.expect = mixed ? Scenario::Expect::Any : strongest;
  // A fault armed at start takes effect before anything sent later: a refusal or a reported
  // failure decides even when mixed with later faults.
  if (mixed && (strongest == Scenario::Expect::Refused)) {
    bool onlyControlRefusal = false;
    for (const auto& fault : s.startFaults) {
      if (fault.rfind("refuse-next", 0) == 0 && fault.find("control") != std::string::npos)
        onlyControlRefusal = true;
    }
    if (onlyControlRefusal && s.startFaults.size() == 1) s.expect = Scenario::Expect::Refused;
  }
  return s;
}

std::string describe(const Scenario& s) {
  std::string text = "seed " + std::to_string(s.seed) + " channel " + std::to_string(s.channel);
  for (const auto& f : s.startFaults) text += " [--fault " + f + "]";
  for (const auto& c : s.liveCommands) text += " [" + c + "]";
  for (const auto& a : s.emulatorArgs) text += " " + a;
  return text;
}
