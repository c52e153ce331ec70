// The control requests, each one message in one send.
#include "platform/result_codes.h"
#include "protocol/command_codes.h"
#include "protocol/dvr_client.h"
#include "protocol/message_sending.h"
#include "protocol/request_bodies.h"

int32_t CDvrClient::sendRequest(uint32_t command, std::span<const uint8_t> body) {
  if (!state_.connected()) return 0;
  if (command == 0) return E_FAIL;
  return sendWholeMessage(channel_, command, body) ? 1 : 0;
}

int32_t CDvrClient::requestProductInfo() {
  return sendRequest(REQ_INFOPRODUCTINFO);
}
int32_t CDvrClient::requestPtzActiveCam() {
  return sendRequest(REQ_PTZACTIVECAM);
}
int32_t CDvrClient::requestConfigSet(bool flag) {
  return sendRequest(REQ_INFOCONFIGSET, buildConfigSetBody(flag));
}
int32_t CDvrClient::requestQosResolution(uint32_t value, uint8_t byte) {
  return sendRequest(REQ_QOSRESOLUTION, buildQosResolutionBody(value, byte));
}
int32_t CDvrClient::requestLiveOpen() {
  return sendRequest(REQ_LIVEOPEN);
}
int32_t CDvrClient::requestLiveSetup() {
  return sendRequest(REQ_LIVESETUP, buildLiveSetupBody());
}
int32_t CDvrClient::requestLiveStart(uint32_t channelMask) {
  return sendRequest(REQ_LIVESTART, buildLiveStartBody(channelMask));
}

int32_t CDvrClient::requestLiveClose() {
  if (!state_.connected() || !stream_.isRunning()) return 0;
  const int32_t result = sendRequest(REQ_LIVECLOSE);
  if (result == 1) state_.clearLiveMask();
  return result;
}

int32_t CDvrClient::requestPtzControl(uint8_t channel, uint8_t command, uint8_t value) {
  return sendRequest(REQ_PTZCONTROL, buildPtzControlBody(state_.userId(), state_.password(),
                                                         channel, command, value));
}

int32_t CDvrClient::requestDisconnect() {
  return sendRequest(REQ_DISCONNECT);
}
int32_t CDvrClient::requestAudioOpen() {
  audioClosed_ = false;  // before the send: the answer may arrive at once
  return sendRequest(REQ_AUDIOOPEN);
}
int32_t CDvrClient::requestAudioStart(uint32_t mask) {
  return sendRequest(REQ_AUDIOSTART, buildAudioStartBody(mask));
}
int32_t CDvrClient::requestAudioChannel(uint32_t number) {
  return sendRequest(REQ_AUDIOCHANNEL, buildAudioChannelBody(number));
}
int32_t CDvrClient::requestAudioSelect(uint32_t channelMask) {
  return sendRequest(REQ_AUDIOSELECT, buildAudioSelectBody(channelMask));
}
int32_t CDvrClient::requestAudioStop(uint32_t mask) {
  return sendRequest(REQ_AUDIOSTOP, buildAudioStopBody(mask));
}

int32_t CDvrClient::requestAudioClose() {
  if (!state_.connected() || !audio_.isConnected()) return 0;
  return sendRequest(REQ_AUDIOCLOSE);
}
