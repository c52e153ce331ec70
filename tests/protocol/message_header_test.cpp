#include "protocol/message_header.h"

#include <gtest/gtest.h>

#include <set>
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

TEST(CommandCodes, NamesAreUniqueAndRequestsPairWithReplies) {
  size_t count = 0;
  const CommandCode* codes = allCommandCodes(&count);
  ASSERT_EQ(count, 56u);
  std::set<std::string_view> names;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view name = commandName(codes[i]);
    ASSERT_FALSE(name.empty());
    EXPECT_TRUE(names.insert(name).second) << name;
    // REQ_ codes carry 0x80 in their second byte, RSP_ codes don't.
    if (name.starts_with("REQ_") || name.starts_with("RSP_")) {
      EXPECT_EQ((codes[i] & 0x00800000u) != 0, name.starts_with("REQ_")) << name;
    }
  }
  EXPECT_EQ(commandName(0x12345678), "");
}

}  // namespace
