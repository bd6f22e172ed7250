// File-operation vocabulary of the shared protocol: the requests a viewer sends (`FileOpRequest`
// with its `FileOp`) and the answers a host gives (`FileOpResponse` with its `FileOpResult`). This
// agent decodes requests so that they do not break the link, and carries none of them out; the
// result types exist so that the agent's event vocabulary is complete. Plain values that any
// thread may copy and compare; decoding and encoding live in proto/wire.h.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace tarnvale_proto {

// One file operation. No catch-all: an unknown kind is a decoding error.
struct FileOp {
  struct ListDir {
    std::string path;
    bool show_hidden = false;
    bool operator==(const ListDir&) const = default;
  };
  struct GetHomeDir {
    bool operator==(const GetHomeDir&) const = default;
  };
  struct MakeDir {
    std::string path;
    bool operator==(const MakeDir&) const = default;
  };
  struct StartUpload {
    std::uint64_t transfer_id = 0;
    std::string dest_path;
    std::uint64_t total_size = 0;
    std::int64_t mtime_unix_seconds = 0;
    std::optional<std::uint64_t> resume_from_offset;
    bool operator==(const StartUpload&) const = default;
  };
  struct FinalizeUpload {
    std::uint64_t transfer_id = 0;
    bool operator==(const FinalizeUpload&) const = default;
  };
  struct StartDownload {
    std::uint64_t transfer_id = 0;
    std::string src_path;
    std::optional<std::uint64_t> resume_from_offset;
    bool operator==(const StartDownload&) const = default;
  };
  struct CancelTransfer {
    std::uint64_t transfer_id = 0;
    bool operator==(const CancelTransfer&) const = default;
  };
  struct CreateClipboardPasteDir {
    bool operator==(const CreateClipboardPasteDir&) const = default;
  };
  struct ListDirRecursive {
    std::string path;
    bool show_hidden = false;
    std::optional<std::uint32_t> max_entries;
    std::optional<std::uint32_t> max_depth;
    bool operator==(const ListDirRecursive&) const = default;
  };
  struct Delete {
    std::vector<std::string> paths;
    bool operator==(const Delete&) const = default;
  };
  struct Copy {
    std::vector<std::string> src_paths;
    std::string dest_dir;
    bool operator==(const Copy&) const = default;
  };

  using Variant =
      std::variant<ListDir, GetHomeDir, MakeDir, StartUpload, FinalizeUpload, StartDownload,
                   CancelTransfer, CreateClipboardPasteDir, ListDirRecursive, Delete, Copy>;
  Variant value = GetHomeDir{};

  FileOp() = default;
  template <class Alt>
  requires(!std::same_as<std::remove_cvref_t<Alt>, FileOp> &&
           std::constructible_from<Variant, Alt&&>) FileOp(Alt&& alt)
      : value(std::forward<Alt>(alt)) {}  // NOLINT: implicit by design

  bool operator==(const FileOp&) const = default;
};

// A request with the id its answer will carry.
struct FileOpRequest {
  std::uint64_t request_id = 0;
  FileOp op;
  bool operator==(const FileOpRequest&) const = default;
};

enum class EntryKind : std::uint8_t { File, Directory, Symlink, Other };
enum class FileErrorCode : std::uint8_t {
  NotFound,
  PermissionDenied,
  AlreadyExists,
  NotADirectory,
  Other,
};

// The wire strings equal the value names: "File", "NotADirectory".
std::string_view value_name(EntryKind kind);
std::string_view value_name(FileErrorCode code);

// One entry of a directory listing.
struct DirEntry {
  std::string name;  // within the listed directory
  EntryKind kind = EntryKind::File;
  std::uint64_t size = 0;
  std::int64_t modified_unix_seconds = 0;
  bool is_hidden = false;
  bool is_readonly = false;
  bool operator==(const DirEntry&) const = default;
};

// One entry of a recursive listing: a `DirEntry` named by its path relative to the listed root.
struct TreeEntry {
  std::string rel_path;
  EntryKind kind = EntryKind::File;
  std::uint64_t size = 0;
  std::int64_t modified_unix_seconds = 0;
  bool is_hidden = false;
  bool is_readonly = false;
  bool operator==(const TreeEntry&) const = default;
};

// The answer to one `FileOp`; `Error` answers any request that failed.
struct FileOpResult {
  struct ListDir {
    std::string path;
    std::vector<DirEntry> entries;
    bool operator==(const ListDir&) const = default;
  };
  struct GetHomeDir {
    std::string path;
    bool operator==(const GetHomeDir&) const = default;
  };
  struct MakeDir {
    std::string path;
    bool operator==(const MakeDir&) const = default;
  };
  struct UploadStarted {
    std::uint64_t transfer_id = 0;
    std::uint64_t resume_offset = 0;
    bool operator==(const UploadStarted&) const = default;
  };
  struct UploadFinalized {
    std::uint64_t transfer_id = 0;
    bool operator==(const UploadFinalized&) const = default;
  };
  struct DownloadStarted {
    std::uint64_t transfer_id = 0;
    std::uint64_t total_size = 0;
    std::int64_t mtime_unix_seconds = 0;
    bool operator==(const DownloadStarted&) const = default;
  };
  struct Cancelled {
    std::uint64_t transfer_id = 0;
    bool operator==(const Cancelled&) const = default;
  };
  struct ClipboardPasteDir {
    std::string dir;
    bool operator==(const ClipboardPasteDir&) const = default;
  };
  struct ListDirRecursive {
    std::string path;
    std::vector<TreeEntry> entries;
    bool truncated = false;
    bool operator==(const ListDirRecursive&) const = default;
  };
  struct Deleted {
    std::uint64_t count = 0;
    bool operator==(const Deleted&) const = default;
  };
  struct Copied {
    std::uint64_t count = 0;
    bool operator==(const Copied&) const = default;
  };
  struct Error {
    FileErrorCode code = FileErrorCode::Other;
    std::string message;
    bool operator==(const Error&) const = default;
  };

  using Variant =
      std::variant<ListDir, GetHomeDir, MakeDir, UploadStarted, UploadFinalized, DownloadStarted,
                   Cancelled, ClipboardPasteDir, ListDirRecursive, Deleted, Copied, Error>;
  Variant value = Error{};

  FileOpResult() = default;
  template <class Alt>
  requires(!std::same_as<std::remove_cvref_t<Alt>, FileOpResult> &&
           std::constructible_from<Variant, Alt&&>) FileOpResult(Alt&& alt)
      : value(std::forward<Alt>(alt)) {}  // NOLINT: implicit by design

  bool operator==(const FileOpResult&) const = default;
};

struct FileOpResponse {
  std::uint64_t request_id = 0;  // the request answered
  FileOpResult result;
  bool operator==(const FileOpResponse&) const = default;
};

// Variant names as written in code; they are also the tags on the wire.
std::string_view variant_name(const FileOp& op);
std::string_view variant_name(const FileOpResult& result);

// Debug forms, as logs show them:
//   `FileOpRequest { request_id: 9, op: ListDir { path: "/", show_hidden: false } }`.
std::string debug_form(const FileOp& op);
std::string debug_form(const FileOpRequest& request);
std::string debug_form(const FileOpResult& result);
std::string debug_form(const FileOpResponse& response);
std::string debug_form(const DirEntry& entry);
std::string debug_form(const TreeEntry& entry);
std::string debug_form(EntryKind kind);
std::string debug_form(FileErrorCode code);

}  // namespace tarnvale_proto
