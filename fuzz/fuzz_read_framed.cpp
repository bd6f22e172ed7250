// Feeds arbitrary bytes through the link's real read path: the bytes arrive on a socket pair and
// are read with read_framed, first as the handshake answer and then as daemon messages, until the
// stream ends or a frame fails. Whatever the bytes, reading must end with a value or an error, and
// never allocate more than one body of at most the 64 MiB limit at a time.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "host-ipc/messages_agent_bound.h"
#include "host-ipc/messages_handshake.h"
#include "host-ipc/uds.h"

namespace uds = tarnvale_host_ipc::uds;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The socket buffer holds the whole input, so it can be written before reading starts.
  if (size > 64 * 1024) return -1;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  int sndbuf = 256 * 1024;
  ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
  std::size_t off = 0;
  while (off < size) {
    ssize_t n = ::send(fds[1], data + off, size - off, MSG_NOSIGNAL);
    if (n <= 0) break;
    off += static_cast<std::size_t>(n);
  }
  ::close(fds[1]);

  asio::io_context io;
  auto halves = uds::split(uds::Socket(io, asio::local::stream_protocol(), fds[0]));
  if (!halves) return 0;
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        auto answer = co_await uds::read_framed<tarnvale_host_ipc::HelloAck>(halves->read);
        if (!answer) co_return;
        for (;;) {
          auto message = co_await uds::read_framed<tarnvale_host_ipc::AgentBound>(halves->read);
          if (!message) co_return;
        }
      },
      asio::detached);
  io.run();
  return 0;
}
