#include "platform/media.h"

#include <utility>

namespace tarnvale_platform {

CVPixelBuffer::CVPixelBuffer(std::size_t width, std::size_t height, OSType format,
                             std::size_t row_alignment)
    : width_(width), height_(height), format_(format) {
  if (row_alignment == 0) row_alignment = 1;
  std::size_t row = width * 4;
  bytes_per_row_ = (row + row_alignment - 1) / row_alignment * row_alignment;
  bytes_.assign(bytes_per_row_ * height, 0);
}

CVReturn CVPixelBufferLockBaseAddress(CVPixelBuffer* buffer, std::uint64_t) {
  if (!buffer) return kCVReturnInvalidArgument;
  if (buffer->fail_lock_ != kCVReturnSuccess) {
    return std::exchange(buffer->fail_lock_, kCVReturnSuccess);
  }
  ++buffer->lock_count_;
  return kCVReturnSuccess;
}

CVReturn CVPixelBufferUnlockBaseAddress(CVPixelBuffer* buffer, std::uint64_t) {
  if (!buffer || buffer->lock_count_ == 0) return kCVReturnInvalidArgument;
  --buffer->lock_count_;
  return kCVReturnSuccess;
}

std::size_t CVPixelBufferGetWidth(const CVPixelBuffer* buffer) {
  return buffer ? buffer->width() : 0;
}
std::size_t CVPixelBufferGetHeight(const CVPixelBuffer* buffer) {
  return buffer ? buffer->height() : 0;
}
std::size_t CVPixelBufferGetBytesPerRow(const CVPixelBuffer* buffer) {
  return buffer ? buffer->bytes_per_row() : 0;
}
void* CVPixelBufferGetBaseAddress(CVPixelBuffer* buffer) {
  if (!buffer || buffer->lock_count_ == 0 || buffer->bytes_.empty()) return nullptr;
  return buffer->bytes_.data();
}

CMSampleBuffer CMSampleBuffer::with_image(CVImageBufferRef image) {
  CMSampleBuffer s;
  s.image_ = std::move(image);
  return s;
}

CMSampleBuffer CMSampleBuffer::with_audio(std::vector<AudioBuffer> buffers,
                                          CMBlockBufferRef memory) {
  CMSampleBuffer s;
  s.audio_ = std::move(buffers);
  s.audio_memory_ = std::move(memory);
  return s;
}

CVPixelBuffer* CMSampleBufferGetImageBuffer(const CMSampleBuffer& sample) {
  return sample.image().get();
}

OSStatus CMSampleBufferGetAudioBufferListWithRetainedBlockBuffer(const CMSampleBuffer& sample,
                                                                 AudioBufferList* list,
                                                                 CMBlockBufferRef* block) {
  if (!list || !block) return kCMSampleBufferError_RequiredParameterMissing;
  if (sample.audio().empty()) {
    list->mBuffers.clear();
    block->reset();
    return kCMSampleBufferError_RequiredParameterMissing;
  }
  list->mBuffers = sample.audio();
  *block = sample.audio_memory();
  return 0;
}

}  // namespace tarnvale_platform
