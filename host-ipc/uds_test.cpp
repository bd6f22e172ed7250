#include "host-ipc/uds.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>
#include "tests/support/run_awaitable.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

namespace tarnvale_host_ipc::uds {
namespace {

using tarnvale_base::Result;

// Any JSON document, decoded and encoded with the message contract of the link.
struct Doc {
  nlohmann::json value;

  static Result<Doc> decode_json(std::string_view body) {
    try {
      return Doc{nlohmann::json::parse(body)};
    } catch (const std::exception& e) {
      return tarnvale_base::fail(e.what());
    }
  }
  void encode_json(std::string& out) const { out += value.dump(); }
};

struct Unencodable {
  void encode_json(std::string&) const { throw std::runtime_error("invalid UTF-8 byte"); }
};

using tarnvale_testing::run_awaitable;

// One end of a socket pair as the link's halves, the other as a plain descriptor for the peer.
struct Pair {
  asio::io_context io;
  std::optional<ReadHalf> read;
  std::optional<WriteHalf> write;
  int peer = -1;

  Pair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    peer = fds[1];
    auto halves = split(Socket(io, asio::local::stream_protocol(), fds[0]));
    EXPECT_TRUE(halves.has_value());
    read.emplace(std::move(halves->read));
    write.emplace(std::move(halves->write));
  }
  ~Pair() {
    if (peer >= 0) ::close(peer);
  }

  void peer_send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      ASSERT_GT(n, 0);
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }
  std::string peer_recv(size_t n) {
    std::string out(n, '\0');
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::recv(peer, out.data() + got, n - got, 0);
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
  }
  void peer_close() {
    ::close(peer);
    peer = -1;
  }
};

std::string header(std::uint32_t len) {
  return {static_cast<char>(len >> 24), static_cast<char>(len >> 16), static_cast<char>(len >> 8),
          static_cast<char>(len)};
}

struct ReadCase {
  const char* name;
  std::string bytes;           // everything the peer sends before closing
  std::string expected_error;  // empty: decodes; ending in ": " means a prefix
};

class ReadFramedCase : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadFramedCase, DecodesOrFailsWithItsText) {
  const ReadCase& c = GetParam();
  Pair p;
  p.peer_send(c.bytes);
  p.peer_close();
  auto got = run_awaitable(p.io, read_framed<Doc>(*p.read));
  if (c.expected_error.empty()) {
    ASSERT_TRUE(got.has_value()) << got.error().what();
    return;
  }
  ASSERT_FALSE(got.has_value());
  if (c.expected_error.ends_with(": ")) {
    EXPECT_TRUE(got.error().what().starts_with(c.expected_error)) << got.error().what();
    EXPECT_GT(got.error().what().size(), c.expected_error.size());
  } else {
    EXPECT_EQ(got.error().what(), c.expected_error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ReadFramedCase,
    testing::Values(ReadCase{"OneDocument", header(7) + R"({"a":1})", ""},
                    ReadCase{"TrailingNewline", header(8) + "{\"a\":1}\n", ""},
                    ReadCase{"LeadingWhitespace", header(11) + " \t\r\n{\"a\":1}", ""},
                    ReadCase{"EmptyBody", header(0), "json decode: "},
                    ReadCase{"TwoDocuments", header(14) + R"({"a":1}{"b":2})", "json decode: "},
                    ReadCase{"CleanCloseBeforeHeader", "", "early eof"},
                    ReadCase{"CloseInsideHeader", std::string("\0\0", 2), "early eof"},
                    ReadCase{"CloseInsideBody", header(10) + "{\"a\"", "early eof"},
                    ReadCase{"OneByteOverLimit", header(0x04000001), "frame too large: 67108865"},
                    ReadCase{"BinaryHeader", header(0x80000009) + std::string(9, '\0'),
                             "frame too large: 2147483657"},
                    ReadCase{"LargestHeader", header(0xFFFFFFFF), "frame too large: 4294967295"}),
    [](const auto& info) { return info.param.name; });

TEST(ReadFramed, BodyOfExactlyTheLimitIsRead) {
  Pair p;
  std::string body = "{}" + std::string(kMaxFrameLen - 2, ' ');
  std::thread peer([&] {
    p.peer_send(header(0x04000000));
    p.peer_send(body);
  });
  auto got = run_awaitable(p.io, read_framed<Doc>(*p.read));
  peer.join();
  ASSERT_TRUE(got.has_value()) << got.error().what();
  EXPECT_TRUE(got->value.is_object());
}

TEST(ReadFramed, FramesFollowOneAnotherThenEarlyEof) {
  Pair p;
  p.peer_send(header(3) + "[1]" + header(3) + "[2]");
  p.peer_close();
  auto task = [&]() -> asio::awaitable<std::vector<std::string>> {
    std::vector<std::string> seen;
    for (;;) {
      auto doc = co_await read_framed<Doc>(*p.read);
      if (!doc) {
        seen.push_back(doc.error().what());
        co_return seen;
      }
      seen.push_back(doc->value.dump());
    }
  };
  EXPECT_EQ(run_awaitable(p.io, task()), (std::vector<std::string>{"[1]", "[2]", "early eof"}));
}

TEST(WriteFramed, WritesLengthThenCompactBody) {
  Pair p;
  auto sent =
      run_awaitable(p.io, write_framed(*p.write, Doc{nlohmann::json{{"kind", "heartbeat"}}}));
  ASSERT_TRUE(sent.has_value());
  EXPECT_EQ(p.peer_recv(4 + 20), header(20) + R"({"kind":"heartbeat"})");
}

TEST(WriteFramed, EncodeFailureWritesNothing) {
  Pair p;
  auto sent = run_awaitable(p.io, write_framed(*p.write, Unencodable{}));
  ASSERT_FALSE(sent.has_value());
  EXPECT_EQ(sent.error().what(), "json encode: invalid UTF-8 byte");
  p.write.reset();  // end of stream for the peer
  EXPECT_EQ(p.peer_recv(1), "");
}

TEST(WriteFramed, FailsWithTheIoErrorWhenThePeerIsGone) {
  Pair p;
  p.peer_close();
  auto sent = run_awaitable(p.io, write_framed(*p.write, Doc{nlohmann::json::array()}));
  ASSERT_FALSE(sent.has_value());
  EXPECT_EQ(sent.error().code().value(), EPIPE);
}

TEST(WriteVideoFrame, ThousandBytePacketLayout) {
  Pair p;
  std::vector<std::uint8_t> packet(1000, 0xAB);
  auto sent = run_awaitable(p.io, write_video_frame(*p.write, 0x0102030405060708, true, packet));
  ASSERT_TRUE(sent.has_value());
  std::string got = p.peer_recv(4 + 1009);
  ASSERT_EQ(got.size(), 1013u);
  EXPECT_EQ(got.substr(0, 4), std::string("\x80\x00\x03\xF1", 4));
  EXPECT_EQ(got.substr(4, 8), std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
  EXPECT_EQ(got[12], '\x01');
  EXPECT_EQ(got.substr(13), std::string(1000, '\xAB'));
}

TEST(WriteVideoFrame, EmptyDeltaPacket) {
  Pair p;
  ASSERT_TRUE(run_awaitable(p.io, write_video_frame(*p.write, 33333, false, {})).has_value());
  EXPECT_EQ(p.peer_recv(13), std::string("\x80\x00\x00\x09\0\0\0\0\0\0\x82\x35\0", 13));
}

TEST(WriteVideoFrame, BodyOverTheLimitIsRefusedBeforeWriting) {
  Pair p;
  std::vector<std::uint8_t> fits(kMaxFrameLen - 9), over(kMaxFrameLen - 8);
  auto refused = run_awaitable(p.io, write_video_frame(*p.write, 0, true, over));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().what(), "binary frame too large: 67108865");
  std::thread reader([&] {
    EXPECT_EQ(p.peer_recv(4), header(kMaxFrameLen | kBinaryFrameBit));
    EXPECT_EQ(p.peer_recv(kMaxFrameLen).size(), kMaxFrameLen);
  });
  EXPECT_TRUE(run_awaitable(p.io, write_video_frame(*p.write, 0, true, fits)).has_value());
  reader.join();
}

TEST(Halves, WriteHalfReleaseHalfClosesThenBothReleasesClose) {
  Pair p;
  p.write.reset();
  EXPECT_EQ(p.peer_recv(1), "");  // end of stream for the peer
  // The other direction still works.
  p.peer_send(header(2) + "[]");
  EXPECT_TRUE(run_awaitable(p.io, read_framed<Doc>(*p.read)).has_value());
  p.read.reset();
  char byte = 0;
  // The socket is closed now: the peer's send fails (it may take one send to notice).
  ssize_t first = ::send(p.peer, &byte, 1, MSG_NOSIGNAL);
  ssize_t second = ::send(p.peer, &byte, 1, MSG_NOSIGNAL);
  EXPECT_TRUE(first < 0 || second < 0);
}

TEST(Halves, ReadAndWriteRunAtOnceOnTwoThreads) {
  Pair p;
  constexpr int kFrames = 200;
  auto writer = [&]() -> asio::awaitable<Result<void>> {
    for (int i = 0; i < kFrames; ++i) {
      auto r = co_await write_framed(*p.write, Doc{nlohmann::json(i)});
      if (!r) co_return r;
    }
    co_return Result<void>{};
  };
  auto reader = [&]() -> asio::awaitable<int> {
    int n = 0;
    while ((co_await read_framed<Doc>(*p.read)).has_value()) ++n;
    co_return n;
  };
  // The peer echoes every byte back, then closes when the agent side stops writing.
  std::thread echo([&] {
    char buf[4096];
    for (;;) {
      ssize_t n = ::recv(p.peer, buf, sizeof buf, 0);
      if (n <= 0) break;
      p.peer_send(std::string_view(buf, static_cast<size_t>(n)));
    }
    ::shutdown(p.peer, SHUT_WR);
  });
  auto wrote = asio::co_spawn(asio::make_strand(p.io), writer(), asio::use_future);
  auto read = asio::co_spawn(asio::make_strand(p.io), reader(), asio::use_future);
  std::thread second([&] { p.io.run(); });
  // Release the write half once everything is written, so the echo ends.
  EXPECT_TRUE(wrote.get().has_value());
  asio::post(p.io, [&] { p.write.reset(); });
  EXPECT_EQ(read.get(), kFrames);
  second.join();
  echo.join();
}

class ConnectWithRetry : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnvale-uds-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    path_ = dir_ + "/agent.sock";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string dir_;
  std::string path_;
  asio::io_context io_;
};

TEST_F(ConnectWithRetry, ZeroAttemptsMakesOneAttemptWithoutWaiting) {
  auto start = std::chrono::steady_clock::now();
  auto got = run_awaitable(io_, connect_with_retry(path_, 0, std::chrono::seconds(30)));
  ASSERT_FALSE(got.has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(got.error().what(), "connect " + path_ + ": No such file or directory");
  EXPECT_EQ(got.error().code().value(), ENOENT);
}

TEST_F(ConnectWithRetry, WaitsBetweenAttemptsButNotAfterTheLast) {
  auto start = std::chrono::steady_clock::now();
  auto got = run_awaitable(io_, connect_with_retry(path_, 3, std::chrono::milliseconds(100)));
  auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(got.has_value());
  EXPECT_GE(elapsed, std::chrono::milliseconds(200));
  EXPECT_EQ(got.error().what(), "connect " + path_ + ": No such file or directory");
}

TEST_F(ConnectWithRetry, RefusedWhenNobodyListensOnTheFile) {
  {
    asio::local::stream_protocol::socket s(io_);
    s.open();
    s.bind(asio::local::stream_protocol::endpoint(path_));
  }  // bound, never listened, closed: the file stays
  auto got = run_awaitable(io_, connect_with_retry(path_, 1, std::chrono::milliseconds(1)));
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().what(), "connect " + path_ + ": Connection refused");
}

TEST_F(ConnectWithRetry, ConnectsOnceTheDaemonListens) {
  asio::local::stream_protocol::acceptor acceptor(io_);
  // The listener appears after the first attempt has failed.
  asio::steady_timer later(io_, std::chrono::milliseconds(30));
  later.async_wait([&](std::error_code) {
    acceptor =
        asio::local::stream_protocol::acceptor(io_, asio::local::stream_protocol::endpoint(path_));
  });
  auto got = run_awaitable(io_, connect_with_retry(path_, 50, std::chrono::milliseconds(20)));
  ASSERT_TRUE(got.has_value()) << got.error().what();
  auto served = acceptor.accept();
  auto halves = split(std::move(*got));
  ASSERT_TRUE(halves.has_value());
  ASSERT_TRUE(
      run_awaitable(io_, write_framed(halves->write, Doc{nlohmann::json{{"kind", "agent"}}})));
  std::string buf(20, '\0');
  asio::read(served, asio::buffer(buf));
  EXPECT_EQ(buf, header(16) + R"({"kind":"agent"})");
}

TEST_F(ConnectWithRetry, PathTooLongForASocketAddress) {
  std::string long_path = "/tmp/" + std::string(200, 'x');
  auto got = run_awaitable(io_, connect_with_retry(long_path, 5, std::chrono::seconds(1)));
  ASSERT_FALSE(got.has_value());
  EXPECT_TRUE(got.error().what().starts_with("connect " + long_path + ": "));
}

TEST(SocketPath, IsTheDaemonsFixedPath) {
  EXPECT_EQ(agent_socket_path(), "/Library/Application Support/Tarnvale/run/agent.sock");
}

}  // namespace
}  // namespace tarnvale_host_ipc::uds
