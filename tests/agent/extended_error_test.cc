// A domain controller's extended error, foreign bytes that an MIT realm never sends: the agent
// finds the NTSTATUS in the encodings a domain controller uses and nothing in malformed ones.
#include <gtest/gtest.h>

#include <string>

#include "kerberos_results.h"

namespace vesk::agentd {
namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

class ExtendedErrorTest : public ::testing::Test {};

TEST_F(ExtendedErrorTest, StatusIsFoundInEveryEncodingAndNotInMalformedBytes) {
  const std::string status = bytes({0x34, 0x02, 0x00, 0xc0, 0, 0, 0, 0, 1, 0, 0, 0});  // locked out
  const std::string entryBody = bytes({0xa1, 0x03, 0x02, 0x01, 0x03, 0xa2, 0x0e, 0x04, 0x0c}) + status;
  const std::string methodData = bytes({0x30, 0x17, 0x30, 0x15}) + entryBody;
  const std::string typedData =
      bytes({0x30, 0x17, 0x30, 0x15, 0xa0, 0x03, 0x02, 0x01, 0x03, 0xa1, 0x0e, 0x04, 0x0c}) + status;
  // An entry of another type before the status entry is skipped.
  const std::string saltFirst =
      bytes({0x30, 0x25, 0x30, 0x0c, 0xa1, 0x03, 0x02, 0x01, 0x13, 0xa2, 0x05, 0x04, 0x03, 'a', 'b', 'c', 0x30, 0x15}) +
      entryBody;
  for (const std::string& edata : {methodData, bytes({0x30, 0x15}) + entryBody, typedData, saltFirst}) {
    EXPECT_EQ(extendedErrorStatus(edata), std::optional<std::uint32_t>(kStatusLockedOut));
  }
  for (const std::string& edata :
       {std::string(), bytes({0x30}), bytes({0x30, 0x7f, 0x30}), bytes({0x30, 0x84, 0xff, 0xff, 0xff, 0xff}),
        methodData.substr(0, methodData.size() - 1), bytes({0x04, 0x02, 0x00, 0x00})}) {
    EXPECT_EQ(extendedErrorStatus(edata), std::nullopt) << edata.size();
  }
}

}  // namespace
}  // namespace vesk::agentd
