#include "host-ipc/uds.h"

#include <unistd.h>

#include <fmt/format.h>
#include <asio/experimental/as_tuple.hpp>
#include <cerrno>
#include <cstring>

namespace tarnvale_host_ipc::uds {
namespace {

constexpr auto kUseTuple = asio::experimental::as_tuple(asio::use_awaitable);

Error io_error(const std::error_code& ec) {
  if (ec == asio::error::eof) return Error("early eof", ec);
  return Error(ec);
}

void put_be32(std::uint8_t* out, std::uint32_t v) {
  out[0] = static_cast<std::uint8_t>(v >> 24);
  out[1] = static_cast<std::uint8_t>(v >> 16);
  out[2] = static_cast<std::uint8_t>(v >> 8);
  out[3] = static_cast<std::uint8_t>(v);
}

// Header first, then the body, each written completely.
asio::awaitable<Result<void>> write_frame(Socket& socket, std::uint32_t header,
                                          asio::const_buffer body) {
  std::uint8_t head[4];
  put_be32(head, header);
  auto [ec, n] = co_await asio::async_write(socket, asio::buffer(head), kUseTuple);
  if (ec) co_return std::unexpected(io_error(ec));
  if (body.size() > 0) {
    auto [ec2, n2] = co_await asio::async_write(socket, body, kUseTuple);
    if (ec2) co_return std::unexpected(io_error(ec2));
  }
  co_return Result<void>{};
}

}  // namespace

std::string agent_socket_path() {
  return fmt::format("{}/{}", kSocketDir, kSocketFile);
}

WriteHalf& WriteHalf::operator=(WriteHalf&& other) noexcept {
  if (this != &other) {
    shutdown();
    socket_ = std::move(other.socket_);
  }
  return *this;
}

WriteHalf::~WriteHalf() {
  shutdown();
}

void WriteHalf::shutdown() noexcept {
  if (!socket_.is_open()) return;
  std::error_code ignored;
  socket_.shutdown(asio::socket_base::shutdown_send, ignored);
  socket_.close(ignored);
}

Result<Halves> split(Socket stream) {
  int dup_fd = ::dup(stream.native_handle());
  if (dup_fd < 0) return tarnvale_base::fail(tarnvale_base::errno_error(errno));
  Socket writer(stream.get_executor());
  std::error_code ec;
  writer.assign(asio::local::stream_protocol(), dup_fd, ec);
  if (ec) {
    ::close(dup_fd);
    return tarnvale_base::fail(Error(ec));
  }
  return Halves{ReadHalf(std::move(stream)), WriteHalf(std::move(writer))};
}

asio::awaitable<Result<Socket>> connect_with_retry(std::string path, std::uint32_t attempts,
                                                   std::chrono::steady_clock::duration delay) {
  auto executor = co_await asio::this_coro::executor;
  const std::string what = "connect " + path;
  asio::local::stream_protocol::endpoint endpoint;
  try {
    endpoint = asio::local::stream_protocol::endpoint(path);
  } catch (const std::system_error& e) {
    // A path longer than a socket address can hold.
    co_return std::unexpected(Error(e.code()).context(what));
  }
  const std::uint32_t tries = attempts == 0 ? 1 : attempts;
  Error last("no connect attempt made");
  for (std::uint32_t i = 0; i < tries; ++i) {
    Socket socket(executor);
    auto [ec] = co_await socket.async_connect(endpoint, kUseTuple);
    if (!ec) co_return std::move(socket);
    last = Error(ec).context(what);
    if (i + 1 < attempts) {
      asio::steady_timer timer(executor, delay);
      co_await timer.async_wait(kUseTuple);
    }
  }
  co_return std::unexpected(std::move(last));
}

asio::awaitable<Result<void>> write_json_body(WriteHalf& out, std::string_view body) {
  // No size check: the header is the body length as it is.
  co_return co_await write_frame(out.socket(), static_cast<std::uint32_t>(body.size()),
                                 asio::buffer(body));
}

asio::awaitable<Result<std::vector<char>>> read_frame_body(ReadHalf& in) {
  std::uint8_t head[4];
  auto [ec, n] = co_await asio::async_read(in.socket(), asio::buffer(head), kUseTuple);
  if (ec) co_return std::unexpected(io_error(ec));
  const std::uint32_t len = (std::uint32_t{head[0]} << 24) | (std::uint32_t{head[1]} << 16) |
                            (std::uint32_t{head[2]} << 8) | std::uint32_t{head[3]};
  // Bit 31 is not read as a flag here: any binary header is far above the limit.
  if (len > kMaxFrameLen) co_return std::unexpected(Error(fmt::format("frame too large: {}", len)));
  std::vector<char> body(len);
  if (len > 0) {
    auto [ec2, n2] = co_await asio::async_read(in.socket(), asio::buffer(body), kUseTuple);
    if (ec2) co_return std::unexpected(io_error(ec2));
  }
  co_return std::move(body);
}

asio::awaitable<Result<void>> write_video_frame(WriteHalf& out, std::uint64_t pts_us, bool keyframe,
                                                std::span<const std::uint8_t> data) {
  const std::uint64_t body_len = std::uint64_t{data.size()} + 9;
  if (body_len > kMaxFrameLen) {
    co_return std::unexpected(Error(fmt::format("binary frame too large: {}", body_len)));
  }
  std::vector<std::uint8_t> body(static_cast<std::size_t>(body_len));
  for (int i = 0; i < 8; ++i) body[i] = static_cast<std::uint8_t>(pts_us >> (56 - 8 * i));
  body[8] = keyframe ? 1 : 0;
  if (!data.empty()) std::memcpy(body.data() + 9, data.data(), data.size());
  co_return co_await write_frame(
      out.socket(), static_cast<std::uint32_t>(body_len) | kBinaryFrameBit, asio::buffer(body));
}

}  // namespace tarnvale_host_ipc::uds
