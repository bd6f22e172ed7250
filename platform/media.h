// CoreMedia and CoreVideo as the capture framework hands them out: times, sample buffers carrying
// an image (pixel buffer) or audio (a buffer list), and the pixel-buffer access calls. Same
// contracts as the macOS calls of these names. Buffers are reference-counted: holding a
// `CVPixelBufferRef` or `CMBlockBufferRef` keeps the bytes alive; the framework may reuse a pixel
// buffer for a later frame once nobody holds it any more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarnvale_platform {

using OSStatus = std::int32_t;
using CVReturn = std::int32_t;
using OSType = std::uint32_t;

inline constexpr CVReturn kCVReturnSuccess = 0;
inline constexpr CVReturn kCVReturnError = -6660;
inline constexpr CVReturn kCVReturnInvalidArgument = -6661;
// A sample buffer with no audio in it.
inline constexpr OSStatus kCMSampleBufferError_RequiredParameterMissing = -12731;

// 'BGRA': four bytes per pixel, blue first.
inline constexpr OSType kCVPixelFormatType_32BGRA = 0x42475241;

struct CMTime {
  std::int64_t value = 0;
  std::int32_t timescale = 0;  // 0: invalid / unset
};
inline CMTime CMTimeMake(std::int64_t value, std::int32_t timescale) {
  return {value, timescale};
}

// One image in memory: `height` rows of `bytes_per_row` bytes; each row holds `width` pixels and
// then padding up to the row size (the framework rounds rows up, so never assume width * 4).
class CVPixelBuffer {
 public:
  // A zeroed buffer. Rows are rounded up to a multiple of `row_alignment` bytes.
  CVPixelBuffer(std::size_t width, std::size_t height, OSType format,
                std::size_t row_alignment = 64);
  CVPixelBuffer(const CVPixelBuffer&) = delete;
  CVPixelBuffer& operator=(const CVPixelBuffer&) = delete;

  std::size_t width() const { return width_; }
  std::size_t height() const { return height_; }
  std::size_t bytes_per_row() const { return bytes_per_row_; }
  OSType pixel_format() const { return format_; }
  // The bytes, for whoever fills the buffer before handing it out.
  std::uint8_t* mutable_bytes() { return bytes_.data(); }

  // The next lock of this buffer fails with `status` (the real call fails when the surface
  // cannot be mapped).
  void fail_next_lock(CVReturn status) { fail_lock_ = status; }

 private:
  friend CVReturn CVPixelBufferLockBaseAddress(CVPixelBuffer*, std::uint64_t);
  friend CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBuffer*, std::uint64_t);
  friend void* CVPixelBufferGetBaseAddress(CVPixelBuffer*);

  std::size_t width_;
  std::size_t height_;
  std::size_t bytes_per_row_;
  OSType format_;
  std::vector<std::uint8_t> bytes_;
  int lock_count_ = 0;  // touched only by the thread that holds the sample buffer
  CVReturn fail_lock_ = kCVReturnSuccess;
};

using CVPixelBufferRef = std::shared_ptr<CVPixelBuffer>;
using CVImageBufferRef = CVPixelBufferRef;

inline constexpr std::uint64_t kCVPixelBufferLock_ReadOnly = 1;

// Makes the base address valid until the matching unlock. Non-zero means failure; then the base
// address stays null. A null buffer gives kCVReturnInvalidArgument.
CVReturn CVPixelBufferLockBaseAddress(CVPixelBuffer* buffer, std::uint64_t lock_flags);
CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBuffer* buffer, std::uint64_t lock_flags);
std::size_t CVPixelBufferGetWidth(const CVPixelBuffer* buffer);
std::size_t CVPixelBufferGetHeight(const CVPixelBuffer* buffer);
std::size_t CVPixelBufferGetBytesPerRow(const CVPixelBuffer* buffer);
// The first byte of the first row while the buffer is locked; null when it is not locked.
void* CVPixelBufferGetBaseAddress(CVPixelBuffer* buffer);

// One channel group of audio: `mNumberChannels` interleaved channels of 32-bit float samples,
// `mDataByteSize` bytes at `mData`.
struct AudioBuffer {
  std::uint32_t mNumberChannels = 0;
  std::uint32_t mDataByteSize = 0;
  void* mData = nullptr;
};
struct AudioBufferList {
  std::vector<AudioBuffer> mBuffers;
};

// Keeps the memory behind an `AudioBufferList` alive; release it (drop it) when done.
using CMBlockBufferRef = std::shared_ptr<const void>;

// One delivery of a stream: an image, audio, or neither (a status-only delivery when nothing on
// screen changed).
class CMSampleBuffer {
 public:
  CMSampleBuffer() = default;
  static CMSampleBuffer with_image(CVImageBufferRef image);
  // Audio buffers and the owner of the memory they point into.
  static CMSampleBuffer with_audio(std::vector<AudioBuffer> buffers, CMBlockBufferRef memory);

  const CVImageBufferRef& image() const { return image_; }
  const std::vector<AudioBuffer>& audio() const { return audio_; }
  const CMBlockBufferRef& audio_memory() const { return audio_memory_; }

 private:
  CVImageBufferRef image_;
  std::vector<AudioBuffer> audio_;
  CMBlockBufferRef audio_memory_;
};

// The sample's image, or null (audio and status-only deliveries carry none). The pointer is valid
// while the sample buffer lives; hold the `image()` reference to keep it longer.
CVPixelBuffer* CMSampleBufferGetImageBuffer(const CMSampleBuffer& sample);

// Fills `list` with the sample's audio buffers and `block` with a reference that keeps their
// memory alive. Returns 0, or kCMSampleBufferError_RequiredParameterMissing when the sample holds
// no audio (then `list` is emptied and `block` reset). Null out-parameters give the same error.
OSStatus CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(const CMSampleBuffer& sample,
                                                                 AudioBufferList* list,
                                                                 CMBlockBufferRef* block);

}  // namespace tarnvale_platform
