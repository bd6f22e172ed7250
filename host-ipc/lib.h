// The daemon link's message types in one include: the handshake pair `Hello` / `HelloAck`, the
// daemon's `AgentBound` messages, the agent's `AgentEvent`s, and the link's base64 codec for their
// byte fields. Each type offers `static Result<T> decode_json(std::string_view body)` (readers)
// and `void encode_json(std::string& out) const` (writers), which the framed transport in
// host-ipc/uds.h calls.
#pragma once

#include "host-ipc/base64.h"                // IWYU pragma: export
#include "host-ipc/messages_agent_bound.h"  // IWYU pragma: export
#include "host-ipc/messages_agent_event.h"  // IWYU pragma: export
#include "host-ipc/messages_handshake.h"    // IWYU pragma: export
