#include "host-ipc/messages_handshake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnvale_host_ipc {
namespace {

std::string encode(const auto& msg) {
  std::string out;
  msg.encode_json(out);
  return out;
}

// The description without the position the document decoder appends.
std::string description(const tarnvale_base::Error& error) {
  const std::string& m = error.message();
  return m.substr(0, m.find(" at line "));
}

TEST(HelloTest, AgentHelloIsExactlyTheWireText) {
  EXPECT_EQ(encode(Hello::agent(501)), R"({"kind":"agent","protocol_version":5,"session_id":501})");
  EXPECT_EQ(encode(Hello::agent(0)), R"({"kind":"agent","protocol_version":5,"session_id":0})");
  EXPECT_EQ(encode(Hello::agent(4294967295u)),
            R"({"kind":"agent","protocol_version":5,"session_id":4294967295})");
  EXPECT_EQ(encode(Hello(Hello::Ui{5})), R"({"kind":"ui","protocol_version":5})");
}

TEST(HelloTest, DaemonSideReadsBothForms) {
  EXPECT_EQ(Hello::decode_json(R"({"session_id":501,"protocol_version":5,"kind":"agent"})").value(),
            Hello::agent(501));
  EXPECT_EQ(Hello::decode_json(R"(["ui",4])").value(), Hello(Hello::Ui{4}));
  EXPECT_EQ(description(Hello::decode_json(R"({"kind":"agent","protocol_version":5})").error()),
            "missing field `session_id`");
  EXPECT_EQ(description(Hello::decode_json(R"({"kind":"viewer"})").error()),
            "unknown variant `viewer`, expected `agent` or `ui`");
}

TEST(HelloAckTest, Decodes) {
  struct Case {
    std::string body;
    HelloAck expected;
  };
  const std::vector<Case> cases = {
      {R"({"kind":"ok"})", HelloAck::Ok{}},
      {R"({"kind":"ok","note":"x"})", HelloAck::Ok{}},
      {R"({"note":"x","kind":"ok"})", HelloAck::Ok{}},
      {R"({"kind":"ok","service_version":"not read"})", HelloAck::Ok{}},
      {R"({"kind":"version_mismatch","service_version":4})", HelloAck::VersionMismatch{4}},
      {R"({"kind":"version_mismatch","service_version":4294967295})",
       HelloAck::VersionMismatch{4294967295u}},
      {R"({"service_version":6,"kind":"version_mismatch","extra":[1,2]})",
       HelloAck::VersionMismatch{6}},
      {R"({"kind":"rejected","reason":"busy"})", HelloAck::Rejected{"busy"}},
      {R"({"kind":"rejected","reason":""})", HelloAck::Rejected{""}},
      {R"(["rejected","busy"])", HelloAck::Rejected{"busy"}},
      {R"(["version_mismatch",3])", HelloAck::VersionMismatch{3}},
      {R"(["ok"])", HelloAck::Ok{}},
      {" {\"kind\":\"ok\"}\r\n", HelloAck::Ok{}},
  };
  for (const auto& c : cases) {
    auto got = HelloAck::decode_json(c.body);
    ASSERT_TRUE(got) << c.body << ": " << got.error().what();
    EXPECT_EQ(*got, c.expected) << c.body;
  }
}

TEST(HelloAckTest, RejectsWithExactDescriptions) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"kind":"rejected"})", "missing field `reason`"},
      {R"({"kind":"version_mismatch"})", "missing field `service_version`"},
      {R"({"kind":"version_mismatch","service_version":-1})",
       "invalid value: integer `-1`, expected u32"},
      {R"({"kind":"version_mismatch","service_version":4294967296})",
       "invalid value: integer `4294967296`, expected u32"},
      {R"({"kind":"version_mismatch","service_version":4.0})",
       "invalid type: floating point `4.0`, expected u32"},
      {R"({"kind":"OK"})",
       "unknown variant `OK`, expected one of `ok`, `version_mismatch`, `rejected`"},
      {R"({"service_version":6})", "missing field `kind`"},
      {R"({"kind":"rejected","reason":"busy","reason":"again"})", "duplicate field `reason`"},
      {R"({"kind":"ok","kind":"ok"})", "duplicate field `kind`"},
      {R"({"kind":"rejected","reason":7})", "invalid type: integer `7`, expected a string"},
      {R"("ok")", "invalid type: string \"ok\", expected internally tagged enum HelloAck"},
      {R"(5)", "invalid type: integer `5`, expected internally tagged enum HelloAck"},
      {R"(["rejected"])",
       "invalid length 0, expected struct variant HelloAck::Rejected with 1 element"},
  };
  for (const auto& [body, expected] : cases) {
    auto got = HelloAck::decode_json(body);
    ASSERT_FALSE(got) << body;
    EXPECT_EQ(description(got.error()), expected) << body;
  }
  // The position follows the description, so the session's error reads
  // "json decode: missing field `reason` at line 1 column 19".
  EXPECT_EQ(HelloAck::decode_json(R"({"kind":"rejected"})").error().what(),
            "missing field `reason` at line 1 column 19");
}

TEST(HelloAckTest, DebugForm) {
  EXPECT_EQ(HelloAck(HelloAck::Ok{}).debug_form(), "Ok");
  EXPECT_EQ(HelloAck(HelloAck::VersionMismatch{4}).debug_form(),
            "VersionMismatch { service_version: 4 }");
  EXPECT_EQ(HelloAck(HelloAck::Rejected{"busy"}).debug_form(), R"(Rejected { reason: "busy" })");
  EXPECT_EQ(HelloAck(HelloAck::Rejected{"say \"no\"\\\n"}).debug_form(),
            R"(Rejected { reason: "say \"no\"\\\n" })");
}

TEST(HelloAckTest, EncodesForTheDaemonSide) {
  for (const HelloAck& ack : {HelloAck(HelloAck::Ok{}), HelloAck(HelloAck::VersionMismatch{4}),
                              HelloAck(HelloAck::Rejected{"busy \"now\""})}) {
    EXPECT_EQ(HelloAck::decode_json(encode(ack)).value(), ack);
  }
  EXPECT_EQ(encode(HelloAck(HelloAck::VersionMismatch{4})),
            R"({"kind":"version_mismatch","service_version":4})");
}

}  // namespace
}  // namespace tarnvale_host_ipc
