// The privacy grants the agent depends on: Screen Recording (display capture, the display list) and
// Accessibility (event taps, synthetic input). Same contracts as the macOS calls of these names;
// any thread may call them. On this build they answer from the virtual host's permission state.
#pragma once

namespace tarnvale_platform {

// True when the process may already record the screen. Never shows anything to the user.
bool CGPreflightScreenCaptureAccess();

// Asks the system to grant Screen Recording. On macOS the first call shows the system prompt and
// the answer only changes after the process restarts, so the result is the state at the time of
// the call. Returns whether access is granted now.
bool CGRequestScreenCaptureAccess();

// The options dictionary of the Accessibility trust check. `prompt` stands for the key
// kAXTrustedCheckOptionPrompt with the value true: when the process is not trusted, the system
// shows its Accessibility prompt (asynchronously; the answer is not waited for).
struct AXTrustedCheckOptions {
  bool prompt = false;
};

// True when the process is a trusted Accessibility client. A null `options` is the empty
// dictionary.
bool AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions* options);

}  // namespace tarnvale_platform
