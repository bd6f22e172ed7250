// The development daemon records whatever an agent sends, malformed input included, and ends
// cleanly. A fake agent in the test talks to it on a temporary socket path.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/session/process.h"

namespace tarnvale_tests {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

std::string frame(std::string_view body, bool binary = false) {
  auto n = static_cast<std::uint32_t>(body.size()) | (binary ? 0x80000000u : 0);
  return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                     static_cast<char>(n >> 8), static_cast<char>(n)} +
         std::string(body);
}

class Devd : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnvale-devd-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    devd_ = std::make_unique<Process>(
        std::vector<std::string>{TARNVALE_DEVD_BINARY, "--once", "--socket", dir_ + "/agent.sock",
                                 "--out", dir_ + "/out"},
        std::map<std::string, std::string>{}, dir_ + "/devd.out", dir_ + "/devd.err");
    ASSERT_TRUE(devd_->wait_for_output("listening", 10s)) << devd_->err();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Connects as the agent, sends `bytes`, reads the answer frame if one is asked for, then closes.
  std::string agent_sends(const std::string& bytes, size_t answer_len) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = dir_ + "/agent.sock";
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    std::string answer(answer_len, '\0');
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    size_t got = 0;
    while (got < answer_len) {
      ssize_t r = ::recv(fd, answer.data() + got, answer_len - got, 0);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    answer.resize(got);
    ::close(fd);
    return answer;
  }

  json summary() { return json::parse(read_file(dir_ + "/out/summary.json"), nullptr, false); }

  std::string dir_;
  std::unique_ptr<Process> devd_;
};

TEST_F(Devd, RecordsMalformedAndUndecodableInputAndEndsCleanly) {
  std::string video = std::string(8, '\0') + std::string("\x01", 1) + "h264";
  std::string answer =
      agent_sends(frame(R"({"kind":"agent","protocol_version":5,"session_id":501})") +
                      frame(R"({"kind":"heartbeat"})") + frame("not json") + frame("abc", true) +
                      frame(video, true) + frame(R"({"kind":"teleported"})") +
                      frame(R"({"kind":"host_locked","locked":"yes"})") +
                      std::string("\x7f\xff\xff\xff", 4),  // announces far more than the limit
                  4 + 13);
  EXPECT_EQ(answer, frame(R"({"kind":"ok"})"));
  ASSERT_EQ(devd_->wait(10s), 0) << devd_->err();
  auto s = summary();
  ASSERT_FALSE(s.is_discarded());
  EXPECT_EQ(s["hello"]["session_id"], 501);
  EXPECT_EQ(s["heartbeats"], 1);
  EXPECT_EQ(s["frames"], 1);
  EXPECT_EQ(s["key_frames"], 1);
  EXPECT_EQ(s["video_bytes"], 4);
  EXPECT_EQ(s["malformed"], 3) << s.dump();
  EXPECT_EQ(s["undecodable_events"], (json{{"teleported", 1}, {"host_locked", 1}}));
  // Every line of the event log is JSON with a receive time.
  std::ifstream events(dir_ + "/out/events.jsonl");
  int lines = 0;
  for (std::string line; std::getline(events, line); ++lines) {
    auto entry = json::parse(line, nullptr, false);
    ASSERT_FALSE(entry.is_discarded()) << line;
    EXPECT_TRUE(entry["t_ms"].is_number()) << line;
  }
  EXPECT_EQ(lines, 8);  // hello, 6 frames, and the oversized header
}

TEST_F(Devd, AgentThatVanishesBeforeItsHelloIsASessionToo) {
  agent_sends(std::string("\0\0", 2), 0);
  ASSERT_EQ(devd_->wait(10s), 0) << devd_->err();
  auto s = summary();
  ASSERT_FALSE(s.is_discarded());
  EXPECT_EQ(s["heartbeats"], 0);
  EXPECT_EQ(s["malformed"], 1);
}

}  // namespace
}  // namespace tarnvale_tests
