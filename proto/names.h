// Name tables of the protocol's enumerations and variants, each in declared order so that an
// enumerator's value (or a variant's index) is its row. Internal to the protocol library.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <variant>

#include "proto/cursor.h"
#include "proto/file_op.h"
#include "proto/host_control.h"
#include "proto/input.h"

namespace tarnvale_proto::names {

using namespace std::string_view_literals;

inline constexpr std::array kQualityWire = {"low"sv, "medium"sv, "high"sv};
inline constexpr std::array kQualityNames = {"Low"sv, "Medium"sv, "High"sv};

inline constexpr std::array kPanelWire = {
    "display_settings"sv, "taskbar_settings"sv,      "network_adapters"sv,
    "network_advanced"sv, "wifi_settings"sv,         "system_properties"sv,
    "device_manager"sv,   "about_system"sv,          "computer_management"sv,
    "services"sv,         "event_viewer"sv,          "task_manager"sv,
    "disk_management"sv,  "programs_and_features"sv, "windows_update"sv,
    "work_or_school"sv,   "group_policy"sv,          "unknown"sv,
};
inline constexpr std::array kPanelNames = {
    "DisplaySettings"sv, "TaskbarSettings"sv,     "NetworkAdapters"sv,
    "NetworkAdvanced"sv, "WifiSettings"sv,        "SystemProperties"sv,
    "DeviceManager"sv,   "AboutSystem"sv,         "ComputerManagement"sv,
    "Services"sv,        "EventViewer"sv,         "TaskManager"sv,
    "DiskManagement"sv,  "ProgramsAndFeatures"sv, "WindowsUpdate"sv,
    "WorkOrSchool"sv,    "GroupPolicy"sv,         "Unknown"sv,
};
static_assert(kPanelWire.size() == static_cast<std::size_t>(SystemPanel::Unknown) + 1);
static_assert(kPanelNames.size() == kPanelWire.size());

inline constexpr std::array kHostControlNames = {
    "SendCtrlAltDel"sv,
    "ForceKeyframe"sv,
    "LockWorkstation"sv,
    "Reboot"sv,
    "SetInputDisabled"sv,
    "SetBlackout"sv,
    "SetWallpaperRemoved"sv,
    "SetShowHostCursor"sv,
    "SetQuality"sv,
    "SetPaused"sv,
    "SetDisplayResolution"sv,
    "SetCaptureScale"sv,
    "SetMonitor"sv,
    "LogoffActiveSession"sv,
    "Shutdown"sv,
    "OpenSystemPanel"sv,
    "Unknown"sv,
};
static_assert(kHostControlNames.size() == std::variant_size_v<HostControlCmd::Variant>);

inline constexpr std::array kKeyNames = {
    "KeyA"sv,         "KeyB"sv,      "KeyC"sv,       "KeyD"sv,        "KeyE"sv,
    "KeyF"sv,         "KeyG"sv,      "KeyH"sv,       "KeyI"sv,        "KeyJ"sv,
    "KeyK"sv,         "KeyL"sv,      "KeyM"sv,       "KeyN"sv,        "KeyO"sv,
    "KeyP"sv,         "KeyQ"sv,      "KeyR"sv,       "KeyS"sv,        "KeyT"sv,
    "KeyU"sv,         "KeyV"sv,      "KeyW"sv,       "KeyX"sv,        "KeyY"sv,
    "KeyZ"sv,         "Digit0"sv,    "Digit1"sv,     "Digit2"sv,      "Digit3"sv,
    "Digit4"sv,       "Digit5"sv,    "Digit6"sv,     "Digit7"sv,      "Digit8"sv,
    "Digit9"sv,       "Space"sv,     "Enter"sv,      "Tab"sv,         "Backspace"sv,
    "Escape"sv,       "ArrowUp"sv,   "ArrowDown"sv,  "ArrowLeft"sv,   "ArrowRight"sv,
    "Home"sv,         "End"sv,       "PageUp"sv,     "PageDown"sv,    "Delete"sv,
    "Insert"sv,       "ShiftLeft"sv, "ShiftRight"sv, "ControlLeft"sv, "ControlRight"sv,
    "AltLeft"sv,      "AltRight"sv,  "MetaLeft"sv,   "MetaRight"sv,   "CapsLock"sv,
    "F1"sv,           "F2"sv,        "F3"sv,         "F4"sv,          "F5"sv,
    "F6"sv,           "F7"sv,        "F8"sv,         "F9"sv,          "F10"sv,
    "F11"sv,          "F12"sv,       "Minus"sv,      "Equal"sv,       "BracketLeft"sv,
    "BracketRight"sv, "Semicolon"sv, "Quote"sv,      "Backquote"sv,   "Backslash"sv,
    "Slash"sv,        "Comma"sv,     "Period"sv,     "PrintScreen"sv, "Unknown"sv,
};
static_assert(kKeyNames.size() == kKeyCount);
static_assert(static_cast<std::size_t>(Key::Unknown) + 1 == kKeyCount);
static_assert(static_cast<std::size_t>(Key::PrintScreen) == 83);
static_assert(static_cast<std::size_t>(Key::F1) == 60);
static_assert(static_cast<std::size_t>(Key::ShiftLeft) == 51);

inline constexpr std::array kMouseButtonWire = {"left"sv, "right"sv,   "middle"sv,
                                                "back"sv, "forward"sv, "unknown"sv};
inline constexpr std::array kMouseButtonNames = {"Left"sv, "Right"sv,   "Middle"sv,
                                                 "Back"sv, "Forward"sv, "Unknown"sv};

inline constexpr std::array kInputEventNames = {
    "MouseMove"sv,     "MouseButton"sv,       "MouseScroll"sv,    "Key"sv,
    "ClipboardText"sv, "TypeChar"sv,          "SwapMarker"sv,     "HostControl"sv,
    "FileOp"sv,        "SetClipboardFiles"sv, "ClipboardImage"sv, "Unknown"sv,
};
static_assert(kInputEventNames.size() == std::variant_size_v<InputEvent::Variant>);

inline constexpr std::array kFileOpNames = {
    "ListDir"sv,          "GetHomeDir"sv,    "MakeDir"sv,        "StartUpload"sv,
    "FinalizeUpload"sv,   "StartDownload"sv, "CancelTransfer"sv, "CreateClipboardPasteDir"sv,
    "ListDirRecursive"sv, "Delete"sv,        "Copy"sv,
};
static_assert(kFileOpNames.size() == std::variant_size_v<FileOp::Variant>);

inline constexpr std::array kFileOpResultNames = {
    "ListDir"sv,          "GetHomeDir"sv,      "MakeDir"sv,   "UploadStarted"sv,
    "UploadFinalized"sv,  "DownloadStarted"sv, "Cancelled"sv, "ClipboardPasteDir"sv,
    "ListDirRecursive"sv, "Deleted"sv,         "Copied"sv,    "Error"sv,
};
static_assert(kFileOpResultNames.size() == std::variant_size_v<FileOpResult::Variant>);

inline constexpr std::array kEntryKindNames = {"File"sv, "Directory"sv, "Symlink"sv, "Other"sv};
inline constexpr std::array kFileErrorNames = {"NotFound"sv, "PermissionDenied"sv,
                                               "AlreadyExists"sv, "NotADirectory"sv, "Other"sv};

inline constexpr std::array kCursorWire = {
    "default"sv,        "pointer"sv,        "text"sv,     "wait"sv,       "crosshair"sv,
    "move"sv,           "not_allowed"sv,    "help"sv,     "resize_n_s"sv, "resize_e_w"sv,
    "resize_n_e_s_w"sv, "resize_n_w_s_e"sv, "progress"sv, "hidden"sv,
};
inline constexpr std::array kCursorNames = {
    "Default"sv,    "Pointer"sv,    "Text"sv,     "Wait"sv,     "Crosshair"sv,
    "Move"sv,       "NotAllowed"sv, "Help"sv,     "ResizeNS"sv, "ResizeEW"sv,
    "ResizeNESW"sv, "ResizeNWSE"sv, "Progress"sv, "Hidden"sv,
};
static_assert(kCursorWire.size() == static_cast<std::size_t>(CursorKind::Hidden) + 1);
static_assert(kCursorNames.size() == kCursorWire.size());

}  // namespace tarnvale_proto::names
