// The two handshake messages of the daemon link. Right after connecting the agent sends one
// `Hello` (always the "agent" form with protocol version 5 and the session's user id); the daemon
// answers with one `HelloAck`. Both travel as JSON frames. The agent only encodes `Hello` and only
// decodes `HelloAck`; the other directions exist for the development daemon and tests. Plain
// values; any thread may use them.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/error.h"

namespace tarnvale_host_ipc {

using tarnvale_base::Result;

// The protocol version this agent speaks. It compares none itself: the daemon judges.
inline constexpr std::uint32_t kProtocolVersion = 5;

// Agent or user-interface client to daemon:
// `{"kind":"agent","protocol_version":5,"session_id":501}`.
struct Hello {
  struct Agent {
    std::uint32_t protocol_version = kProtocolVersion;
    std::uint32_t session_id = 0;  // the real user id of the agent process
    bool operator==(const Agent&) const = default;
  };
  // The form a user-interface client uses; never sent by the agent.
  struct Ui {
    std::uint32_t protocol_version = kProtocolVersion;
    bool operator==(const Ui&) const = default;
  };

  using Variant = std::variant<Agent, Ui>;
  Variant value = Agent{};

  Hello() = default;
  template <class Alt>
  requires(!std::same_as<std::remove_cvref_t<Alt>, Hello> &&
           std::constructible_from<Variant, Alt&&>) Hello(Alt&& alt)
      : value(std::forward<Alt>(alt)) {}  // NOLINT: implicit by design

  // The agent's hello for the user `session_id`, protocol version 5.
  static Hello agent(std::uint32_t session_id) { return Agent{kProtocolVersion, session_id}; }

  void encode_json(std::string& out) const;
  static Result<Hello> decode_json(std::string_view body);

  bool operator==(const Hello&) const = default;
};

// The daemon's answer to the hello: accepted, or refused for a version difference or another
// reason. Anything but `Ok` ends the agent with the answer's debug form in its error.
struct HelloAck {
  struct Ok {
    bool operator==(const Ok&) const = default;
  };
  struct VersionMismatch {
    std::uint32_t service_version = 0;  // the version the daemon speaks
    bool operator==(const VersionMismatch&) const = default;
  };
  struct Rejected {
    std::string reason;
    bool operator==(const Rejected&) const = default;
  };

  using Variant = std::variant<Ok, VersionMismatch, Rejected>;
  Variant value = Ok{};

  HelloAck() = default;
  template <class Alt>
  requires(!std::same_as<std::remove_cvref_t<Alt>, HelloAck> &&
           std::constructible_from<Variant, Alt&&>) HelloAck(Alt&& alt)
      : value(std::forward<Alt>(alt)) {}  // NOLINT: implicit by design

  bool is_ok() const { return std::holds_alternative<Ok>(value); }

  // Errors are the description alone: "missing field `reason`", "unknown variant `OK`, expected
  // one of `ok`, `version_mismatch`, `rejected`", followed by the position.
  static Result<HelloAck> decode_json(std::string_view body);
  void encode_json(std::string& out) const;

  // `Ok`, `VersionMismatch { service_version: 4 }`, `Rejected { reason: "busy" }`.
  std::string debug_form() const;

  bool operator==(const HelloAck&) const = default;
};

}  // namespace tarnvale_host_ipc
