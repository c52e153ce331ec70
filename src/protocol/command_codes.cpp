#include "protocol/command_codes.h"

#include <iterator>

std::string_view commandName(uint32_t code) {
  switch (code) {
    case REQ_AUTHLOGIN:
      return "REQ_AUTHLOGIN";
    case RSP_AUTHLOGIN:
      return "RSP_AUTHLOGIN";
    case RSP_AUTHRESULT:
      return "RSP_AUTHRESULT";
    case REQ_ALIVECHECK:
      return "REQ_ALIVECHECK";
    case RSP_ALIVECHECK:
      return "RSP_ALIVECHECK";
    case REQ_INFOPRODUCTINFO:
      return "REQ_INFOPRODUCTINFO";
    case RSP_INFOPRODUCTINFO:
      return "RSP_INFOPRODUCTINFO";
    case REQ_PTZACTIVECAM:
      return "REQ_PTZACTIVECAM";
    case RSP_PTZACTIVECAM:
      return "RSP_PTZACTIVECAM";
    case REQ_INFOCONFIGSET:
      return "REQ_INFOCONFIGSET";
    case RSP_INFOCONFIGSET:
      return "RSP_INFOCONFIGSET";
    case REQ_QOSRESOLUTION:
      return "REQ_QOSRESOLUTION";
    case RSP_QOSRESOLUTION:
      return "RSP_QOSRESOLUTION";
    case RSP_QOS01:
      return "RSP_QOS01";
    case RSP_QOS03:
      return "RSP_QOS03";
    case RSP_QOS04:
      return "RSP_QOS04";
    case RSP_QOS07:
      return "RSP_QOS07";
    case REQ_LIVEOPEN:
      return "REQ_LIVEOPEN";
    case RSP_LIVEOPEN:
      return "RSP_LIVEOPEN";
    case REQ_LIVESETUP:
      return "REQ_LIVESETUP";
    case RSP_LIVESETUP:
      return "RSP_LIVESETUP";
    case REQ_LIVESTART:
      return "REQ_LIVESTART";
    case RSP_LIVESTART:
      return "RSP_LIVESTART";
    case RSP_LIVECOMPLETE:
      return "RSP_LIVECOMPLETE";
    case RSP_LIVESTOP:
      return "RSP_LIVESTOP";
    case REQ_LIVECLOSE:
      return "REQ_LIVECLOSE";
    case RSP_LIVECLOSE:
      return "RSP_LIVECLOSE";
    case REQ_LIVEFRAME:
      return "REQ_LIVEFRAME";
    case RSP_LIVEFRAME:
      return "RSP_LIVEFRAME";
    case RSP_LIVEDATA:
      return "RSP_LIVEDATA";
    case REQ_PTZCONTROL:
      return "REQ_PTZCONTROL";
    case RSP_PTZCONTROL:
      return "RSP_PTZCONTROL";
    case RSP_INFO05:
      return "RSP_INFO05";
    case RSP_INFO06:
      return "RSP_INFO06";
    case RSP_INFO07:
      return "RSP_INFO07";
    case RSP_INFO08:
      return "RSP_INFO08";
    case RSP_INFO09:
      return "RSP_INFO09";
    case RSP_INFO0E:
      return "RSP_INFO0E";
    case REQ_DISCONNECT:
      return "REQ_DISCONNECT";
    case RSP_DISCONNECT:
      return "RSP_DISCONNECT";
    case REQ_AUDIOOPEN:
      return "REQ_AUDIOOPEN";
    case RSP_AUDIOOPEN:
      return "RSP_AUDIOOPEN";
    case REQ_AUDIOSTART:
      return "REQ_AUDIOSTART";
    case RSP_AUDIOSTART:
      return "RSP_AUDIOSTART";
    case REQ_AUDIOCHANNEL:
      return "REQ_AUDIOCHANNEL";
    case RSP_AUDIOCHANNEL:
      return "RSP_AUDIOCHANNEL";
    case REQ_AUDIOSELECT:
      return "REQ_AUDIOSELECT";
    case RSP_AUDIOSELECT:
      return "RSP_AUDIOSELECT";
    case REQ_AUDIOSTOP:
      return "REQ_AUDIOSTOP";
    case RSP_AUDIOSTOP:
      return "RSP_AUDIOSTOP";
    case REQ_AUDIOCLOSE:
      return "REQ_AUDIOCLOSE";
    case RSP_AUDIOCLOSE:
      return "RSP_AUDIOCLOSE";
    case RSP_AUDIO11:
      return "RSP_AUDIO11";
    case RSP_AUDIOG726:
      return "RSP_AUDIOG726";
    case RSP_AUDIOADPCM:
      return "RSP_AUDIOADPCM";
    case EVT_NOTICE:
      return "EVT_NOTICE";
    default:
      return {};
  }
}

const CommandCode* allCommandCodes(size_t* count) {
  static constexpr CommandCode kCodes[] = {
      REQ_AUTHLOGIN,     RSP_AUTHLOGIN,       RSP_AUTHRESULT,      REQ_ALIVECHECK,
      RSP_ALIVECHECK,    REQ_INFOPRODUCTINFO, RSP_INFOPRODUCTINFO, REQ_PTZACTIVECAM,
      RSP_PTZACTIVECAM,  REQ_INFOCONFIGSET,   RSP_INFOCONFIGSET,   REQ_QOSRESOLUTION,
      RSP_QOSRESOLUTION, RSP_QOS01,           RSP_QOS03,           RSP_QOS04,
      RSP_QOS07,         REQ_LIVEOPEN,        RSP_LIVEOPEN,        REQ_LIVESETUP,
      RSP_LIVESETUP,     REQ_LIVESTART,       RSP_LIVESTART,       RSP_LIVECOMPLETE,
      RSP_LIVESTOP,      REQ_LIVECLOSE,       RSP_LIVECLOSE,       REQ_LIVEFRAME,
      RSP_LIVEFRAME,     RSP_LIVEDATA,        REQ_PTZCONTROL,      RSP_PTZCONTROL,
      RSP_INFO05,        RSP_INFO06,          RSP_INFO07,          RSP_INFO08,
      RSP_INFO09,        RSP_INFO0E,          REQ_DISCONNECT,      RSP_DISCONNECT,
      REQ_AUDIOOPEN,     RSP_AUDIOOPEN,       REQ_AUDIOSTART,      RSP_AUDIOSTART,
      REQ_AUDIOCHANNEL,  RSP_AUDIOCHANNEL,    REQ_AUDIOSELECT,     RSP_AUDIOSELECT,
      REQ_AUDIOSTOP,     RSP_AUDIOSTOP,       REQ_AUDIOCLOSE,      RSP_AUDIOCLOSE,
      RSP_AUDIO11,       RSP_AUDIOG726,       RSP_AUDIOADPCM,      EVT_NOTICE};
  if (count != nullptr) *count = std::size(kCodes);
  return kCodes;
}
