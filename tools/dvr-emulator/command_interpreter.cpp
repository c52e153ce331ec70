#include "command_interpreter.h"

#include <sstream>

#include "protocol/command_codes.h"
#include "reply_bodies.h"

namespace dvremu {
namespace {

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

std::string error(const std::string& text) {
  return "error: " + text + "\n";
}

std::optional<uint32_t> codeByName(const std::string& name) {
  size_t count = 0;
  const CommandCode* codes = allCommandCodes(&count);
  for (size_t i = 0; i < count; ++i) {
    if (commandName(codes[i]) == name) return codes[i];
  }
  return parseNumber(name);
}

}  // namespace

std::string CommandInterpreter::startCommand(const std::string& option) {
  const auto w = words(option);
  if (!w.empty() && (w[0] == "fault" || w[0] == "fail" || w[0] == "refuse-next")) return option;
  return "fault " + option;
}

std::string CommandInterpreter::helpText() {
  return R"(commands:
  help                                   this list
  stats                                  sessions, frames and bytes served, audio blocks, PTZ positions
  sessions                               every open connection: id, kind, session, peer
  notice power|setup|leave [user|admin] [subcode=HEX]   push EVT_NOTICE to every notice connection
  drop all|ID|control|notice|live|audio  close connections (ID from 'sessions')
  drop session N                         close a session with its live-stream and audio connections
  silent all|ID|KIND|session N           those connections send nothing more and stay open
  refuse-next STATUS [control|notice|live|audio|any]    refuse the next login of that kind (default control)
  fault KIND TYPE [N] [login|login-result] [session S]
        KIND control|notice|live|audio; the login exchange only when named (login: REQ_AUTHLOGIN,
        login-result: RSP_AUTHRESULT); TYPE one of
        close-after N   close after N more messages        cut-body     half a body, then close
        bad-magic       next header says ZEMX              huge-length  next length 0xFFFFFFFF
        oversize        next body one byte over the viewer's buffer (live 811008, audio 5120)
        stall [N]       hold this and later messages N seconds, then send them in order
                        (0: send nothing more, keep the connection open)
        drop [N]        discard the next N messages (default 1)
        no-marker       next frame without any 0x01 byte   channel16    next frame names channel 16
  fail RSP_NAME [STATUS]                 next reply of that code carries STATUS (default 0)
  clear-faults                           forget every armed fault, refusal and failure
  model TEXT                             model identifier of later product-info replies
  live-close drop|keep                   after RSP_LIVECLOSE, close the live stream or leave it
  livestop all|SESSION MASK              send RSP_LIVESTOP with MASK and stop those channels
  audio-codec g726|adpcm                 codec of the next audio blocks
  video-codec CHANNEL jpeg|mpeg4         codec of the channel's next frames
  chatter [all|SESSION]                  send one uninterpreted reply now
  verbose on|off                         trace every message header
  quit                                   stop the emulator
)";
}

std::string CommandInterpreter::run(const std::string& line) {
  const auto w = words(line);
  if (w.empty() || w[0][0] == '#') return {};
  const std::string& verb = w[0];
  if (verb == "help") return helpText();
  if (verb == "stats") return stats();
  if (verb == "sessions") return listConnections();
  if (verb == "notice") return notice(w);
  if (verb == "drop" || verb == "silent") return dropOrSilence(w);
  if (verb == "live-close") {
    const auto mode = w.size() == 2 ? parseLiveCloseMode(w[1]) : std::nullopt;
    if (!mode) return error("live-close drop|keep");
    core_.setLiveCloseMode(*mode);
    return "ok: live-close " + w[1] + "\n";
  }
  if (verb == "fault") return fault(w);
  if (verb == "livestop") return liveStop(w);
  if (verb == "chatter") return chatter(w);
  if (verb == "refuse-next") {
    const auto status = w.size() >= 2 ? parseNumber(w[1]) : std::nullopt;
    if (!status || *status == 1 || *status > 0xFFFF)
      return error("refuse-next STATUS [kind]; STATUS not 1");
    ArmedRefusal refusal{ConnectionKind::Control, static_cast<uint16_t>(*status)};
    if (w.size() >= 3) {
      const auto kind = parseConnectionKind(w[2]);
      if (!kind) return error("unknown connection kind '" + w[2] + "'");
      refusal.kind = *kind;
    }
    core_.faults().armRefusal(refusal);
    return std::string("ok: next login refused with ") + std::to_string(*status) + "\n";
  }
  if (verb == "fail") {
    const auto code = w.size() >= 2 ? codeByName(w[1]) : std::nullopt;
    if (!code) return error("fail RSP_NAME [STATUS]");
    const auto status = w.size() >= 3 ? parseNumber(w[2]) : std::optional<uint32_t>(0);
    if (!status || *status > 0xFFFF) return error("bad status");
    core_.faults().armFailure({*code, static_cast<uint16_t>(*status)});
    return "ok: next " + w[1] + std::string(" carries status ") + std::to_string(*status) + "\n";
  }
  if (verb == "clear-faults") {
    core_.faults().clear();
    return "ok\n";
  }
  if (verb == "model") {
    if (w.size() != 2 || w[1].size() > 7) return error("model TEXT (at most 7 characters)");
    core_.setModel(w[1]);
    return "ok: model " + w[1] + "\n";
  }
  if (verb == "audio-codec") {
    if (w.size() == 2 && w[1] == "g726")
      core_.setAudioCodec(AudioCodec::G726);
    else if (w.size() == 2 && w[1] == "adpcm")
      core_.setAudioCodec(AudioCodec::Adpcm);
    else
      return error("audio-codec g726|adpcm");
    return "ok\n";
  }
  if (verb == "video-codec") {
    const auto number = w.size() == 3 ? parseNumber(w[1]) : std::nullopt;
    if (!number || *number < 1 || *number > kMaxChannels || (w[2] != "jpeg" && w[2] != "mpeg4"))
      return error("video-codec CHANNEL jpeg|mpeg4");
    core_.setVideoCodec(static_cast<int>(*number) - 1,
                        w[2] == "jpeg" ? VideoCodec::Jpeg : VideoCodec::Mpeg4);
    return "ok\n";
  }
  if (verb == "verbose") {
    if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return error("verbose on|off");
    core_.log().setVerbose(w[1] == "on");
    return "ok\n";
  }
  if (verb == "quit") {
    quit_ = true;
    return "ok: stopping\n";
  }
  return error("unknown command '" + verb + "' (try help)");
}

std::string CommandInterpreter::notice(const std::vector<std::string>& w) {
  if (w.size() < 2) return error("notice power|setup|leave [user|admin] [subcode=HEX]");
  uint8_t type = 0;
  if (w[1] == "power")
    type = 2;
  else if (w[1] == "setup")
    type = 3;
  else if (w[1] == "leave")
    type = 4;
  else if (auto n = parseNumber(w[1]); n && *n <= 255)
    type = static_cast<uint8_t>(*n);
  else
    return error("notice type power, setup, leave or a number");
  bool byUser = false;
  uint32_t subCode = noticeSubCode(type);
  for (size_t i = 2; i < w.size(); ++i) {
    if (w[i] == "user")
      byUser = true;
    else if (w[i] == "admin")
      byUser = false;
    else if (w[i].rfind("subcode=", 0) == 0) {
      const auto value = parseNumber(w[i].substr(8));
      if (!value) return error("bad subcode");
      subCode = *value;
    } else {
      return error("unknown notice argument '" + w[i] + "'");
    }
  }
  const auto body = noticeBody(type, byUser);
  int sent = 0;
  for (const auto& connection : core_.noticeConnections()) {
    if (connection->sendWithSubCode(EVT_NOTICE, subCode, body)) ++sent;
  }
  core_.stats().noticesSent.fetch_add(static_cast<uint64_t>(sent));
  return std::string("ok: notice sent on ") + std::to_string(sent) + " connection(s)\n";
}

std::string CommandInterpreter::dropOrSilence(const std::vector<std::string>& w) {
  const bool drop = w[0] == "drop";
  const std::string usage = w[0] + " all|ID|KIND|session N";
  if (w.size() < 2) return error(usage);
  const auto kind = parseConnectionKind(w[1]);
  const auto id = parseNumber(w[1]);
  const auto session = w[1] == "session" && w.size() == 3 ? parseNumber(w[2]) : std::nullopt;
  if (w[1] == "session" ? !session : (!kind && !id && w[1] != "all")) return error(usage);
  int count = 0;
  for (const auto& c : core_.connections()) {
    const bool match = session ? (c->session() == static_cast<int>(*session) &&
                                  c->kind() != ConnectionKind::Notice)
                               : (w[1] == "all" || (kind && c->kind() == *kind) ||
                                  (id && c->id() == static_cast<int>(*id)));
    if (!match || c->isShutdown()) continue;
    if (drop)
      c->shutdown();
    else
      c->goSilent();
    ++count;
  }
  return std::string(drop ? "ok: dropped " : "ok: silenced ") + std::to_string(count) +
         " connection(s)\n";
}

std::string CommandInterpreter::fault(const std::vector<std::string>& w) {
  if (w.size() < 3) return error("fault KIND TYPE [N] [login|login-result] [session S]");
  const auto kind = parseConnectionKind(w[1]);
  if (!kind || *kind == ConnectionKind::Pending)
    return error("fault kind control, notice, live or audio");
  const auto type = parseFaultType(w[2]);
  if (!type) return error("unknown fault '" + w[2] + "'");
  ArmedFault armed{*type, *kind, 0, 0, FaultTarget::Traffic};
  bool counted = false;
  for (size_t i = 3; i < w.size(); ++i) {
    if (w[i] == "session") {
      const auto s = i + 1 < w.size() ? parseNumber(w[i + 1]) : std::nullopt;
      if (!s || *s == 0) return error("bad session");
      armed.session = static_cast<int>(*s);
      ++i;
    } else if (const auto target = parseFaultTarget(w[i])) {
      armed.target = *target;
    } else if (const auto n = i == 3 ? parseNumber(w[i]) : std::nullopt) {
      armed.argument = *n;
      counted = true;
    } else {
      return error("unexpected '" + w[i] + "'");
    }
  }
  if (!counted && (*type == FaultType::CloseAfter || *type == FaultType::Drop)) armed.argument = 1;
  if (*type == FaultType::Drop && armed.argument == 0) return error("drop needs N of 1 or more");
  if (isFrameFault(*type) && armed.target != FaultTarget::Traffic)
    return error(std::string(faultTypeName(*type)) + " only hits frames");
  core_.faults().arm(armed);
  const char* what = armed.target == FaultTarget::LoginRequest  ? "REQ_AUTHLOGIN"
                     : armed.target == FaultTarget::LoginResult ? "RSP_AUTHRESULT"
                                                                : "message";
  return std::string("ok: armed ") + faultTypeName(*type) + " on the next " +
         connectionKindName(*kind) + " " + what + "\n";
}

std::string CommandInterpreter::listConnections() {
  std::ostringstream out;
  for (const auto& c : core_.connections()) {
    if (c->isShutdown()) continue;
    out << "  #" << c->id() << " " << connectionKindName(c->kind()) << " session " << c->session()
        << " " << c->peer() << "\n";
  }
  const std::string text = out.str();
  return text.empty() ? "  no connections\n" : text;
}

std::string CommandInterpreter::stats() {
  std::ostringstream out;
  const auto sessions = core_.sessions();
  out << "  sessions " << sessions.size() << "\n";
  for (const auto& session : sessions) {
    std::lock_guard lock(session->mutex);
    out << "  session " << session->id << " user " << session->account.user
        << (session->account.admin ? " (admin)" : "") << " started-mask 0x" << std::hex
        << session->startedMask << std::dec << " audio "
        << (session->audioStarted && session->audioChannel >= 0
                ? std::string("channel ") + std::to_string(session->audioChannel + 1)
                : std::string("off"));
    for (int channel = 0; channel < kMaxChannels; ++channel) {
      const uint64_t frames = session->framesServed[static_cast<size_t>(channel)].load();
      if (frames != 0) out << " ch" << channel + 1 << "-frames " << frames;
    }
    out << "\n";
  }
  out << core_.stats().describe();
  const auto now = std::chrono::steady_clock::now();
  for (int channel = 0; channel < kMaxChannels; ++channel) {
    if (ChannelFeed* feed = core_.feed(channel);
        feed && (core_.config().ptzMask & (1u << channel))) {
      out << "  ptz " << channel + 1 << ": " << feed->camera().describe(now) << "\n";
    }
  }
  out << "  live-close " << liveCloseModeName(core_.liveCloseMode()) << "\n";
  out << core_.faults().describe();
  return out.str();
}

std::string CommandInterpreter::liveStop(const std::vector<std::string>& w) {
  const auto mask = w.size() == 3 ? parseNumber(w[2]) : std::nullopt;
  const auto target = w.size() == 3 ? parseNumber(w[1]) : std::nullopt;
  if (!mask || (w[1] != "all" && !target)) return error("livestop all|SESSION MASK");
  int sent = 0;
  for (const auto& session : core_.sessions()) {
    if (w[1] != "all" && session->id != static_cast<int>(*target)) continue;
    {
      std::lock_guard lock(session->mutex);
      if (*mask != 0x0000FFFF) session->startedMask &= ~*mask;
    }
    if (session->control->send(RSP_LIVESTOP, liveMaskBody(kStatusOk, *mask))) ++sent;
  }
  return std::string("ok: sent to ") + std::to_string(sent) + " session(s)\n";
}

std::string CommandInterpreter::chatter(const std::vector<std::string>& w) {
  static const uint32_t kCodes[] = {RSP_QOS01,  RSP_QOS03,  RSP_QOS04,  RSP_QOS07,  RSP_INFO05,
                                    RSP_INFO06, RSP_INFO07, RSP_INFO08, RSP_INFO09, RSP_INFO0E};
  static std::atomic<unsigned> next{0};
  const auto target = w.size() >= 2 && w[1] != "all" ? parseNumber(w[1]) : std::nullopt;
  int sent = 0;
  for (const auto& session : core_.sessions()) {
    if (target && session->id != static_cast<int>(*target)) continue;
    const uint32_t code = kCodes[next.fetch_add(1) % std::size(kCodes)];
    if (session->control->send(code, statusBody(16, kStatusOk))) ++sent;
  }
  return std::string("ok: sent to ") + std::to_string(sent) + " session(s)\n";
}

}  // namespace dvremu
