// Remote input vocabulary: one `InputEvent` per piece of viewer input (pointer, buttons, scroll,
// keys, typed text, clipboard and file requests, host controls), with the `Key`, `KeyModifiers`
// and `MouseButton` values it uses. The inbound task decodes events, moves them through the input
// queue and the input-apply thread consumes them; they are plain values, so any thread may copy,
// move and compare them. Decoding lives in proto/wire.h.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "proto/file_op.h"
#include "proto/host_control.h"

namespace tarnvale_proto {

// A physical key, named like the web's key codes. Positions 0 to 84 in declared order; any name the
// agent does not know decodes to `Unknown`.
// clang-format off
enum class Key : std::uint8_t {
  KeyA, KeyB, KeyC, KeyD, KeyE, KeyF, KeyG, KeyH, KeyI, KeyJ, KeyK, KeyL, KeyM,
  KeyN, KeyO, KeyP, KeyQ, KeyR, KeyS, KeyT, KeyU, KeyV, KeyW, KeyX, KeyY, KeyZ,
  Digit0, Digit1, Digit2, Digit3, Digit4, Digit5, Digit6, Digit7, Digit8, Digit9,
  Space, Enter, Tab, Backspace, Escape, ArrowUp, ArrowDown, ArrowLeft, ArrowRight,
  Home, End, PageUp, PageDown, Delete, Insert,
  ShiftLeft, ShiftRight, ControlLeft, ControlRight, AltLeft, AltRight, MetaLeft, MetaRight,
  CapsLock,
  F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
  Minus, Equal, BracketLeft, BracketRight, Semicolon, Quote, Backquote, Backslash, Slash,
  Comma, Period, PrintScreen,
  Unknown,
};
// clang-format on
inline constexpr std::size_t kKeyCount = 85;

// The key's name, which is both its wire string and its debug form: "KeyA", "ArrowUp", "Unknown".
std::string_view value_name(Key key);
// Exact, case-sensitive; `Unknown` for any other text ("keya" included).
Key parse_key(std::string_view text);

// Modifier keys held with a key event. `meta` is the Command key on this platform.
struct KeyModifiers {
  bool shift = false;
  bool ctrl = false;
  bool alt = false;
  bool meta = false;
  bool operator==(const KeyModifiers&) const = default;
};

enum class MouseButton : std::uint8_t { Left, Right, Middle, Back, Forward, Unknown };

// "left", "right", "middle", "back", "forward"; "unknown" for `Unknown` (never sent by a viewer).
std::string_view wire_name(MouseButton button);
// "Left" ... "Unknown".
std::string_view value_name(MouseButton button);
// Exact, case-sensitive; `Unknown` for any other text ("Left" included).
MouseButton parse_mouse_button(std::string_view text);

// One remote input event. Each alternative of `value` is one variant, in declared order; every
// kind the agent does not know decodes to `Unknown`, which the input sink ignores.
struct InputEvent {
  // Positions are normalised to the display, 0 to 1 from the left and from the top; values
  // outside that range are kept as sent.
  struct MouseMove {
    float x = 0;
    float y = 0;
    bool operator==(const MouseMove&) const = default;
  };
  struct MouseButton {
    tarnvale_proto::MouseButton button = tarnvale_proto::MouseButton::Unknown;
    bool pressed = false;
    float x = 0;
    float y = 0;
    bool operator==(const MouseButton&) const = default;
  };
  // `dx` and `dy` are in lines.
  struct MouseScroll {
    float dx = 0;
    float dy = 0;
    float x = 0;
    float y = 0;
    bool operator==(const MouseScroll&) const = default;
  };
  struct Key {
    tarnvale_proto::Key key = tarnvale_proto::Key::Unknown;
    bool pressed = false;
    KeyModifiers mods;
    bool repeat = false;
    bool operator==(const Key&) const = default;
  };
  struct ClipboardText {
    std::string text;
    bool operator==(const ClipboardText&) const = default;
  };
  struct TypeChar {
    std::string text;  // UTF-8
    bool operator==(const TypeChar&) const = default;
  };
  struct SwapMarker {
    bool operator==(const SwapMarker&) const = default;
  };
  struct HostControl {
    HostControlCmd cmd;
    bool operator==(const HostControl&) const = default;
  };
  struct FileOp {
    FileOpRequest req;
    bool operator==(const FileOp&) const = default;
  };
  struct SetClipboardFiles {
    std::vector<std::string> paths;
    bool operator==(const SetClipboardFiles&) const = default;
  };
  struct ClipboardImage {
    std::vector<std::uint8_t> png;  // PNG file bytes
    bool operator==(const ClipboardImage&) const = default;
  };
  struct Unknown {
    bool operator==(const Unknown&) const = default;
  };

  using Variant =
      std::variant<MouseMove, MouseButton, MouseScroll, Key, ClipboardText, TypeChar, SwapMarker,
                   HostControl, FileOp, SetClipboardFiles, ClipboardImage, Unknown>;
  Variant value = Unknown{};

  InputEvent() = default;
  template <class Alt>
  requires(!std::same_as<std::remove_cvref_t<Alt>, InputEvent> &&
           std::constructible_from<Variant, Alt&&>) InputEvent(Alt&& alt)
      : value(std::forward<Alt>(alt)) {}  // NOLINT: implicit by design

  bool operator==(const InputEvent&) const = default;
};

// The variant's name, which is also its tag on the wire: "MouseMove", "Unknown".
std::string_view variant_name(const InputEvent& event);

// Debug forms, as logs show them: `MouseMove { x: 0.5, y: 0.25 }`, `SwapMarker`, `KeyA`, `Left`,
// `KeyModifiers { shift: false, ctrl: false, alt: false, meta: true }`.
std::string debug_form(const InputEvent& event);
std::string debug_form(Key key);
std::string debug_form(const KeyModifiers& mods);
std::string debug_form(MouseButton button);

}  // namespace tarnvale_proto
