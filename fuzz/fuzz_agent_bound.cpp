// Feeds arbitrary frame bodies to the readers of daemon messages: `AgentBound` with its nested
// input events, host controls and file operations, and the handshake answer `HelloAck`. Any input
// must decode or fail with a description; a decoded message must have a debug form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host-ipc/lib.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);

  auto msg = tarnvale_host_ipc::AgentBound::decode_json(body);
  if (msg) {
    if (msg->debug_form().empty() || msg->tag().empty()) std::abort();
  } else if (msg.error().what().empty()) {
    std::abort();
  }

  auto ack = tarnvale_host_ipc::HelloAck::decode_json(body);
  if (ack) {
    if (ack->debug_form().empty()) std::abort();
  } else if (ack.error().what().empty()) {
    std::abort();
  }
  return 0;
}
