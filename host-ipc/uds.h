// The framed socket link between the agent and the daemon: a Unix-domain stream carrying frames of
// a four-byte big-endian length header and a body. JSON frames carry messages both ways; binary
// frames (bit 31 of the header set) carry encoded video from the agent to the daemon.
//
// After connecting, the stream is split into a read half and a write half, each owned by one
// coroutine at a time; the two may be used at the same time from different runtime threads.
// Releasing the write half shuts down the sending direction; the socket closes once both halves
// are released. Every operation is an `asio::awaitable` that suspends while the socket is not
// ready; none has a timeout and none retries except `connect_with_retry`.
#pragma once

#include <asio.hpp>

#include <chrono>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/error.h"

namespace tarnvale_host_ipc::uds {

using tarnvale_base::Error;
using tarnvale_base::Result;

inline constexpr std::string_view kSocketDir = "/Library/Application Support/Tarnvale/run";
inline constexpr std::string_view kSocketFile = "agent.sock";
// kSocketDir + "/" + kSocketFile: where the daemon listens.
std::string agent_socket_path();

// Largest body a frame may announce; a body of exactly this size is allowed.
inline constexpr std::uint32_t kMaxFrameLen = 67'108'864;
inline constexpr std::uint32_t kBinaryFrameBit = 0x8000'0000;
// The encoding buffer starts this large and grows as needed.
inline constexpr std::size_t kEncodeBufferStart = 128;

using Socket = asio::local::stream_protocol::socket;

// The receiving side of a connected stream. Move-only; one owner at a time.
class ReadHalf {
 public:
  explicit ReadHalf(Socket socket) : socket_(std::move(socket)) {}
  Socket& socket() { return socket_; }

 private:
  Socket socket_;
};

// The sending side of a connected stream. Move-only; one owner at a time. Destroying it shuts down
// the sending direction, so the peer sees end of stream even while the read half lives on.
class WriteHalf {
 public:
  explicit WriteHalf(Socket socket) : socket_(std::move(socket)) {}
  WriteHalf(WriteHalf&&) = default;
  WriteHalf& operator=(WriteHalf&& other) noexcept;
  ~WriteHalf();
  Socket& socket() { return socket_; }

 private:
  void shutdown() noexcept;
  Socket socket_;
};

struct Halves {
  ReadHalf read;
  WriteHalf write;
};

// Splits a connected stream into its two halves. Each half gets its own descriptor for the same
// socket, so the halves never share an Asio object. Fails only when the descriptor cannot be
// duplicated.
Result<Halves> split(Socket stream);

// Connects to the listening socket at `path`. Makes `attempts` attempts (one when `attempts` is 0)
// with `delay` between two attempts and none after the last. Returns the stream, or the last
// attempt's error: "connect " + path + ": " + the operating system's description.
asio::awaitable<Result<Socket>> connect_with_retry(std::string path, std::uint32_t attempts,
                                                   std::chrono::steady_clock::duration delay);

// A message `write_framed` can send: appends its compact JSON form to `out`.
template <class T>
concept JsonEncodable = requires(const T& msg, std::string& out) {
  msg.encode_json(out);
};

// A message `read_framed` can return: decodes one JSON document (with optional whitespace around
// it) or describes why it cannot.
template <class T>
concept JsonDecodable = requires(std::string_view body) {
  { T::decode_json(body) } -> std::same_as<Result<T>>;
};

// Writes a JSON frame: the 4-byte header (the body length, bit 31 clear), then the body. A write
// error ends the operation; part of the frame may already have been sent.
asio::awaitable<Result<void>> write_json_body(WriteHalf& out, std::string_view body);

// Reads one frame body of at most kMaxFrameLen bytes into a buffer of exactly the announced size.
// Errors: "early eof" when the stream ends before or inside the frame, "frame too large: N" when
// the header announces more (a binary header always does), or the I/O error.
asio::awaitable<Result<std::vector<char>>> read_frame_body(ReadHalf& in);

// Encodes `msg` into a fresh buffer; "json encode: " + description when the encoder gives up.
template <JsonEncodable T>
Result<std::string> encode_body(const T& msg) {
  std::string body;
  body.reserve(kEncodeBufferStart);
  try {
    msg.encode_json(body);
  } catch (const std::exception& e) {
    return tarnvale_base::fail(Error(e.what()).context("json encode"));
  }
  return body;
}

template <JsonEncodable T>
asio::awaitable<Result<void>> write_framed(WriteHalf& out, const T& msg) {
  auto body = encode_body(msg);
  if (!body) co_return std::unexpected(std::move(body.error()));
  co_return co_await write_json_body(out, *body);
}

template <JsonDecodable T>
asio::awaitable<Result<T>> read_framed(ReadHalf& in) {
  auto body = co_await read_frame_body(in);
  if (!body) co_return std::unexpected(std::move(body.error()));
  auto msg = T::decode_json(std::string_view(body->data(), body->size()));
  if (!msg) co_return std::unexpected(msg.error().context("json decode"));
  co_return std::move(*msg);
}

// Writes one encoded video packet as a binary frame: header (9 + n) | bit 31, then a body of
// `pts_us` (8 bytes, big-endian), the key-frame byte and the packet. A body above kMaxFrameLen is
// refused with "binary frame too large: " + its length before anything is written.
asio::awaitable<Result<void>> write_video_frame(WriteHalf& out, std::uint64_t pts_us, bool keyframe,
                                                std::span<const std::uint8_t> data);

}  // namespace tarnvale_host_ipc::uds
