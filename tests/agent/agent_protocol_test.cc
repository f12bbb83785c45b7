// The agent protocol codec: what it accepts, what it refuses, and that a refused frame is refused
// whole on both sides.
#include "agent_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesk::agentproto {
namespace {

Request makeRequest(MessageType type) {
  Request request;
  request.type = type;
  request.user = "alice@kestrova.test";
  request.password = "N3w-Passw\xc3\xb6rd";
  request.oldPassword = "Old-Passw0rd";
  request.adminUser = "helpdesk";
  request.adminPassword = "Helpdesk-Passw0rd";
  request.cacheName = "FILE:/tmp/krb5cc_1000";
  request.flags = 1;
  return request;
}

// Decodes a whole frame as the daemon does: header, then payload.
bool decodeFrame(const SecretBytes& frame, Request& request, std::string& why) {
  if (frame.size() < kHeaderSize) return false;
  FrameHeader header;
  if (decodeHeader(frame.data(), header) != HeaderStatus::Ok) return false;
  if (header.length != frame.size() - kHeaderSize) return false;
  return decodeRequest(header.type, frame.data() + kHeaderSize, header.length, request, why);
}

TEST(AgentProtocol, EveryRequestSurvivesTheRoundTrip) {
  for (MessageType type : {MessageType::Validate, MessageType::Change, MessageType::Set, MessageType::Authenticate,
                           MessageType::SetWithCache, MessageType::GetUser}) {
    SCOPED_TRACE(messageTypeName(type));
    const Request sent = makeRequest(type);
    SecretBytes frame;
    std::string why;
    ASSERT_TRUE(encodeRequest(sent, frame, why)) << why;
    Request got;
    ASSERT_TRUE(decodeFrame(frame, got, why)) << why;
    EXPECT_EQ(got.type, type);
    const bool hasUser = type != MessageType::Authenticate;
    EXPECT_EQ(got.user, hasUser ? sent.user : "");
    EXPECT_EQ(got.password.view(), hasUser && type != MessageType::GetUser ? sent.password.view() : "");
    EXPECT_EQ(got.oldPassword.view(), type == MessageType::Change ? sent.oldPassword.view() : "");
    EXPECT_EQ(got.adminUser, type == MessageType::Set ? sent.adminUser : "");
    EXPECT_EQ(got.adminPassword.view(), type == MessageType::Set ? sent.adminPassword.view() : "");
    const bool hasCache = type == MessageType::Authenticate || type == MessageType::SetWithCache;
    EXPECT_EQ(got.cacheName, hasCache ? sent.cacheName : "");
    EXPECT_EQ(got.flags, type == MessageType::GetUser ? 1 : 0);
  }
}

TEST(AgentProtocol, ReplySurvivesTheRoundTripAndEmptyPasswordIsAllowed) {
  Reply sent;
  sent.result = 9;
  sent.errorCode = -1765328360;
  sent.errorText = "Preauthentication failed";
  sent.principal = "alice@KESTROVA.TEST";
  SecretBytes frame;
  std::string why;
  ASSERT_TRUE(encodeReply(sent, frame, why)) << why;
  FrameHeader header;
  ASSERT_EQ(decodeHeader(frame.data(), header), HeaderStatus::Ok);
  EXPECT_EQ(header.type, MessageType::Reply);
  Reply got;
  ASSERT_TRUE(decodeReply(frame.data() + kHeaderSize, header.length, got, why)) << why;
  EXPECT_EQ(got.result, 9);
  EXPECT_EQ(got.errorCode, -1765328360);
  EXPECT_EQ(got.errorText, sent.errorText);
  EXPECT_EQ(got.principal, sent.principal);

  Request empty = makeRequest(MessageType::Validate);
  empty.password = "";
  frame.clear();
  EXPECT_TRUE(encodeRequest(empty, frame, why)) << why;
}

TEST(AgentProtocol, FieldsOutOfBoundsAreRefusedByTheEncoder) {
  struct Case {
    const char* what;
    void (*spoil)(Request&);
  };
  const Case cases[] = {
      {"empty user", [](Request& r) { r.user.clear(); }},
      {"user too long", [](Request& r) { r.user.assign(kMaxNameLength + 1, 'a'); }},
      {"control character in user", [](Request& r) { r.user = "ali\nce"; }},
      {"invalid UTF-8 in user", [](Request& r) { r.user = "ali\xc3"; }},
      {"NUL in user", [](Request& r) { r.user = std::string("ali\0ce", 6); }},
      {"password too long", [](Request& r) { r.password.assign(kMaxPasswordLength + 1, 'p'); }},
      {"NUL in password", [](Request& r) { r.password.assign("pa\0ss", 5); }},
      {"empty administrator", [](Request& r) { r.adminUser.clear(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Request request = makeRequest(MessageType::Set);
    c.spoil(request);
    SecretBytes frame = {0xAA};
    std::string why;
    EXPECT_FALSE(encodeRequest(request, frame, why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(frame.size(), 1u) << "a refused request leaves the buffer as it was";
  }
  Request cache = makeRequest(MessageType::Authenticate);
  cache.cacheName.assign(kMaxCacheNameLength + 1, 'c');
  SecretBytes frame;
  std::string why;
  EXPECT_FALSE(encodeRequest(cache, frame, why));
  Reply reply;
  reply.errorText = "bell\a";
  EXPECT_FALSE(encodeReply(reply, frame, why));
}

TEST(AgentProtocol, HeadersAreCheckedBeforeAnyPayloadIsRead) {
  SecretBytes frame;
  std::string why;
  ASSERT_TRUE(encodeRequest(makeRequest(MessageType::Validate), frame, why));
  struct Case {
    std::size_t offset;
    unsigned char value;
    HeaderStatus expected;
  };
  const Case cases[] = {
      {0, 'X', HeaderStatus::BadMagic},  {5, 2, HeaderStatus::BadVersion}, {7, 0, HeaderStatus::BadType},
      {7, 0x77, HeaderStatus::BadType},  {8, 0x01, HeaderStatus::TooLong}, {10, 0x20, HeaderStatus::TooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    SecretBytes spoiled = frame;
    spoiled[c.offset] = c.value;
    FrameHeader header;
    EXPECT_EQ(decodeHeader(spoiled.data(), header), c.expected);
  }
  FrameHeader header;
  SecretBytes versioned = frame;
  versioned[5] = 9;
  ASSERT_EQ(decodeHeader(versioned.data(), header), HeaderStatus::BadVersion);
  EXPECT_EQ(header.version, 9) << "the version is reported so that the agent can say which it speaks";
}

TEST(AgentProtocol, TruncatedOrPaddedPayloadsAreRefused) {
  for (MessageType type : {MessageType::Validate, MessageType::Change, MessageType::Set, MessageType::Authenticate,
                           MessageType::SetWithCache, MessageType::GetUser}) {
    SCOPED_TRACE(messageTypeName(type));
    SecretBytes frame;
    std::string why;
    ASSERT_TRUE(encodeRequest(makeRequest(type), frame, why));
    const unsigned char* payload = frame.data() + kHeaderSize;
    const std::size_t length = frame.size() - kHeaderSize;
    for (std::size_t cut = 0; cut < length; ++cut) {
      Request request;
      EXPECT_FALSE(decodeRequest(type, payload, cut, request, why)) << "cut at " << cut;
    }
    SecretBytes padded(payload, payload + length);
    padded.push_back(0);
    Request request;
    EXPECT_FALSE(decodeRequest(type, padded.data(), padded.size(), request, why));
    EXPECT_NE(why.find("follow"), std::string::npos) << why;
  }
}

TEST(AgentProtocol, DecoderAppliesTheSameFieldBoundsAsTheEncoder) {
  // A hand-made Validate payload whose user holds a control character.
  const unsigned char payload[] = {0, 3, 'a', '\x1b', 'b', 0, 1, 'p'};
  Request request;
  std::string why;
  EXPECT_FALSE(decodeRequest(MessageType::Validate, payload, sizeof payload, request, why));
  EXPECT_NE(why.find("user"), std::string::npos) << why;
  const unsigned char nulPassword[] = {0, 1, 'a', 0, 2, 'p', 0};
  EXPECT_FALSE(decodeRequest(MessageType::Validate, nulPassword, sizeof nulPassword, request, why));
  EXPECT_FALSE(decodeRequest(MessageType::Reply, payload, sizeof payload, request, why));
  std::vector<unsigned char> huge(kMaxPayload + 1, 0);
  EXPECT_FALSE(decodeRequest(MessageType::Validate, huge.data(), huge.size(), request, why));
}

TEST(AgentProtocol, PrintableTextAcceptsUtf8AndRefusesControlBytes) {
  EXPECT_TRUE(isPrintableText("J\xc3\xbcrgen \xe2\x82\xac \xf0\x9f\x94\x91"));
  for (const char* bad : {"tab\there", "\x7f", "\xc0\xaf", "\xe2\x82", "\xff", "\xf5\x80\x80\x80"}) {
    EXPECT_FALSE(isPrintableText(bad)) << bad;
  }
}

}  // namespace
}  // namespace vesk::agentproto
