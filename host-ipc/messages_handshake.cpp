#include "host-ipc/messages_handshake.h"

#include <fmt/format.h>

#include "base/json_wire.h"

namespace tarnvale_host_ipc {
namespace {

namespace jw = tarnvale_base::json_wire;

constexpr jw::Variant kHelloVariants[] = {{"agent", "Agent"}, {"ui", "Ui"}};
constexpr jw::TaggedEnum kHello{"Hello", kHelloVariants};

constexpr jw::Variant kAckVariants[] = {
    {"ok", "Ok"}, {"version_mismatch", "VersionMismatch"}, {"rejected", "Rejected"}};
constexpr jw::TaggedEnum kHelloAck{"HelloAck", kAckVariants};

Result<Hello> decode_hello(const jw::Json& value) {
  return jw::decode_tagged<Hello>(value, kHello, [](std::size_t variant, jw::Fields& f) -> Hello {
    if (variant == 0) {
      Hello::Agent agent;
      agent.protocol_version = f.required<std::uint32_t>("protocol_version");
      agent.session_id = f.required<std::uint32_t>("session_id");
      return agent;
    }
    return Hello::Ui{f.required<std::uint32_t>("protocol_version")};
  });
}

Result<HelloAck> decode_hello_ack(const jw::Json& value) {
  return jw::decode_tagged<HelloAck>(
      value, kHelloAck, [](std::size_t variant, jw::Fields& f) -> HelloAck {
        switch (variant) {
          case 0:
            return HelloAck::Ok{};
          case 1:
            return HelloAck::VersionMismatch{f.required<std::uint32_t>("service_version")};
          default:
            return HelloAck::Rejected{f.required<std::string>("reason")};
        }
      });
}

}  // namespace

void Hello::encode_json(std::string& out) const {
  jw::ObjectWriter w(out);
  if (const auto* agent = std::get_if<Agent>(&value)) {
    w.field("kind", "agent");
    w.field("protocol_version", agent->protocol_version);
    w.field("session_id", agent->session_id);
  } else if (const auto* ui = std::get_if<Ui>(&value)) {
    w.field("kind", "ui");
    w.field("protocol_version", ui->protocol_version);
  }
}

Result<Hello> Hello::decode_json(std::string_view body) {
  return jw::decode_document(body, decode_hello);
}

Result<HelloAck> HelloAck::decode_json(std::string_view body) {
  return jw::decode_document(body, decode_hello_ack);
}

void HelloAck::encode_json(std::string& out) const {
  jw::ObjectWriter w(out);
  if (const auto* mismatch = std::get_if<VersionMismatch>(&value)) {
    w.field("kind", "version_mismatch");
    w.field("service_version", mismatch->service_version);
  } else if (const auto* rejected = std::get_if<Rejected>(&value)) {
    w.field("kind", "rejected");
    w.field("reason", rejected->reason);
  } else {
    w.field("kind", "ok");
  }
}

std::string HelloAck::debug_form() const {
  if (const auto* mismatch = std::get_if<VersionMismatch>(&value)) {
    return fmt::format("VersionMismatch {{ service_version: {} }}", mismatch->service_version);
  }
  if (const auto* rejected = std::get_if<Rejected>(&value)) {
    return fmt::format("Rejected {{ reason: {} }}", jw::debug_quote(rejected->reason));
  }
  return "Ok";
}

}  // namespace tarnvale_host_ipc
