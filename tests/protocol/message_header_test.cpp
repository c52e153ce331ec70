#include "protocol/message_header.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/command_codes.h"

namespace {

TEST(MessageHeader, BuildsTheSeventeenGoldenBytes) {
  const auto header = MessageHeader::build(REQ_LIVEFRAME, 4);
  const std::array<uint8_t, 17> expected{'Z',  'E',  'M', 'O', 0,    0,    0, 0, 4,
                                         0x81, 0x88, 0,   0,   0x81, 0x88, 0, 0};
  EXPECT_EQ(header, expected);
  uint8_t raw[17];
  EXPECT_FALSE(MessageHeader::build(raw, 0, 0));
  EXPECT_FALSE(MessageHeader::build(nullptr, REQ_LIVEOPEN, 0));
  EXPECT_EQ(buildMessage(REQ_LIVEOPEN).size(), 17u);
  const auto message = buildMessage(REQ_LIVESTART, std::vector<uint8_t>{1, 2, 3});
  ASSERT_EQ(message.size(), 20u);
  EXPECT_EQ(message[8], 3);
  EXPECT_EQ(message[19], 3);
}

TEST(MessageHeader, ParsesBigEndianAndIgnoresByteFour) {
  auto bytes = MessageHeader::build(RSP_AUTHRESULT, 0x01020304);
  bytes[4] = 0x7F;
  bytes[13] = 0x00;  // subCode is carried as received
  const auto header = MessageHeader::parse(bytes);
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->length, 0x01020304u);
  EXPECT_EQ(header->command, RSP_AUTHRESULT);
  EXPECT_EQ(header->subCode, 0x00020000u);
  bytes[0] = 'z';
  EXPECT_FALSE(MessageHeader::parse(bytes).has_value());
}

TEST(LoginBody, PadsAndCutsCredentials) {
  const auto body = buildLoginBody("admin", "");
  EXPECT_EQ(std::string(body.begin(), body.begin() + 5), "admin");
  for (size_t i = 5; i < body.size(); ++i) EXPECT_EQ(body[i], 0) << i;
  const auto longBody = buildLoginBody(std::string(40, 'u'), std::string(40, 'p'));
  EXPECT_EQ(std::string(longBody.begin(), longBody.begin() + 32), std::string(32, 'u'));
  EXPECT_EQ(std::string(longBody.begin() + 32, longBody.end()), std::string(32, 'p'));
}

// The wire value of every code, written out: the emulator links the same table, so a wrong value
// would pass every end-to-end test.
constexpr std::pair<uint32_t, std::string_view> kWireCodes[]{
    {0x88810000, "REQ_AUTHLOGIN"},       {0x88010000, "RSP_AUTHLOGIN"},
    {0x88020000, "RSP_AUTHRESULT"},      {0x84810000, "REQ_ALIVECHECK"},
    {0x84010000, "RSP_ALIVECHECK"},      {0x89840000, "REQ_INFOPRODUCTINFO"},
    {0x89040000, "RSP_INFOPRODUCTINFO"}, {0x86810000, "REQ_PTZACTIVECAM"},
    {0x86010000, "RSP_PTZACTIVECAM"},    {0x89940000, "REQ_INFOCONFIGSET"},
    {0x89140000, "RSP_INFOCONFIGSET"},   {0x85820000, "REQ_QOSRESOLUTION"},
    {0x85020000, "RSP_QOSRESOLUTION"},   {0x85010000, "RSP_QOS01"},
    {0x85030000, "RSP_QOS03"},           {0x85040000, "RSP_QOS04"},
    {0x85070000, "RSP_QOS07"},           {0x81810000, "REQ_LIVEOPEN"},
    {0x81010000, "RSP_LIVEOPEN"},        {0x81820000, "REQ_LIVESETUP"},
    {0x81020000, "RSP_LIVESETUP"},       {0x81830000, "REQ_LIVESTART"},
    {0x81030000, "RSP_LIVESTART"},       {0x81050000, "RSP_LIVECOMPLETE"},
    {0x81060000, "RSP_LIVESTOP"},        {0x81870000, "REQ_LIVECLOSE"},
    {0x81070000, "RSP_LIVECLOSE"},       {0x81880000, "REQ_LIVEFRAME"},
    {0x81080000, "RSP_LIVEFRAME"},       {0x81040000, "RSP_LIVEDATA"},
    {0x868d0000, "REQ_PTZCONTROL"},      {0x860d0000, "RSP_PTZCONTROL"},
    {0x89050000, "RSP_INFO05"},          {0x89060000, "RSP_INFO06"},
    {0x89070000, "RSP_INFO07"},          {0x89080000, "RSP_INFO08"},
    {0x89090000, "RSP_INFO09"},          {0x890e0000, "RSP_INFO0E"},
    {0x8e810000, "REQ_DISCONNECT"},      {0x8e010000, "RSP_DISCONNECT"},
    {0x8f810000, "REQ_AUDIOOPEN"},       {0x8f010000, "RSP_AUDIOOPEN"},
    {0x8f850000, "REQ_AUDIOSTART"},      {0x8f050000, "RSP_AUDIOSTART"},
    {0x8f830000, "REQ_AUDIOCHANNEL"},    {0x8f030000, "RSP_AUDIOCHANNEL"},
    {0x8f860000, "REQ_AUDIOSELECT"},     {0x8f060000, "RSP_AUDIOSELECT"},
    {0x8f870000, "REQ_AUDIOSTOP"},       {0x8f070000, "RSP_AUDIOSTOP"},
    {0x8f880000, "REQ_AUDIOCLOSE"},      {0x8f080000, "RSP_AUDIOCLOSE"},
    {0x8f110000, "RSP_AUDIO11"},         {0x8f100000, "RSP_AUDIOG726"},
    {0x8f150000, "RSP_AUDIOADPCM"},      {0x10080001, "EVT_NOTICE"},
};

TEST(CommandCodes, EveryCodeHasItsWireValue) {
  size_t count = 0;
  const CommandCode* codes = allCommandCodes(&count);
  const std::set<uint32_t> known(codes, codes + count);
  ASSERT_EQ(known.size(), std::size(kWireCodes));
  for (const auto& [value, name] : kWireCodes) {
    EXPECT_EQ(commandName(value), name);
    EXPECT_EQ(known.count(value), 1u) << name;
  }
  EXPECT_EQ(commandName(0x12345678), "");
}

}  // namespace
