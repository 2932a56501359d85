// The reference SDK: DotProductAPI over the open scan-file format (docs/scan-format.md).
// Status codes are those of ScanStatus.h. No exception leaves a member.

#include "DotProductAPI.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "ScanReader.h"

using namespace quarn::scan;

struct DotProductAPIState {
  ScanReader reader;
  std::int32_t current = -1;  // current frame, -1 for none
  // Sizes of the current frame, 0 without one, so the pixel bounds check also covers that.
  std::uint32_t sizeX = 0;
  std::uint32_t sizeY = 0;
  // The current frame's pixels once loaded, else null.
  const ScanPixel* pixels = nullptr;
  bool loadFailed = false;
  std::vector<ScanPixel> buffer;  // reused from frame to frame

  void clearFrame() {
    current = -1;
    sizeX = sizeY = 0;
    pixels = nullptr;
    loadFailed = false;
  }

  // Reads the current frame's pixels on its first pixel call.
  int load() noexcept {
    if (loadFailed) return kReadFailed;
    try {
      if (reader.readPixels(current, buffer)) {
        pixels = buffer.data();
        return kOk;
      }
    } catch (...) {
    }
    loadFailed = true;
    return kReadFailed;
  }
};

namespace {

#if defined(__GNUC__)
#define SCAN_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define SCAN_NOINLINE [[msvc::noinline]]
#else
#define SCAN_NOINLINE
#endif

// Says why loadedPixel found no pixel, or loads the current frame's pixels on their first
// use. Kept out of line so the per-pixel calls stay small.
SCAN_NOINLINE int slowFindPixel(DotProductAPIState* state, int x, int y) noexcept {
  if (state == nullptr || !state->reader.isOpen()) return kNotOpen;
  if (state->current < 0) return kNoFrame;
  if (static_cast<std::uint32_t>(x) >= state->sizeX ||
      static_cast<std::uint32_t>(y) >= state->sizeY) {
    return kOutsideFrame;
  }
  return state->load();
}

// The per-pixel calls run for every pixel of every frame: two unsigned compares and a
// loaded check before the indexed load. Null sends the caller to slowFindPixel.
inline const ScanPixel* loadedPixel(const DotProductAPIState* state, int x, int y) noexcept {
  if (state == nullptr || state->pixels == nullptr ||
      static_cast<std::uint32_t>(x) >= state->sizeX ||
      static_cast<std::uint32_t>(y) >= state->sizeY) {
    return nullptr;
  }
  return state->pixels + static_cast<std::size_t>(x) * state->sizeY + static_cast<std::uint32_t>(y);
}

// The per-pixel calls' slow paths, out of line so that the fast paths need no stack frame.
// Once loaded the pixel is found, so the call back goes one level deep.
SCAN_NOINLINE int cartesianAfterLoad(DotProductAPI& api, DotProductAPIState* state, int x, int y,
                                     float& px, float& py, float& pz) {
  const int status = slowFindPixel(state, x, y);
  return status != kOk ? status : api.getCartesianAtPixel(x, y, px, py, pz);
}

SCAN_NOINLINE int colourAfterLoad(DotProductAPI& api, DotProductAPIState* state, int x, int y,
                                  unsigned char& c0, unsigned char& c1, unsigned char& c2) {
  const int status = slowFindPixel(state, x, y);
  return status != kOk ? status : api.getColourAtPixel(x, y, c0, c1, c2);
}

}  // namespace

DotProductAPI::DotProductAPI() : state_(nullptr) {}

DotProductAPI::~DotProductAPI() { delete state_; }

int DotProductAPI::open(const char* path, const char* /*options*/) {
  try {
    if (state_ == nullptr) state_ = new DotProductAPIState;
    state_->clearFrame();
    state_->reader.close();
    std::vector<ScanPixel>().swap(state_->buffer);  // the new scan's frames may be smaller
    if (path == nullptr) return kCannotOpen;
    return state_->reader.open(path);
  } catch (...) {
    if (state_ != nullptr) state_->reader.close();
    return kInternalError;
  }
}

int DotProductAPI::getFrameCount() { return state_ == nullptr ? 0 : state_->reader.frameCount(); }

int DotProductAPI::getPositionAndOrientation(double* pose) {
  if (state_ == nullptr || !state_->reader.isOpen()) return kNotOpen;
  if (pose == nullptr) return kBadArgument;
  const PoseArray& scanPose = state_->reader.scanPose();
  std::copy(scanPose.begin(), scanPose.end(), pose);
  return kOk;
}

int DotProductAPI::openFrame(int index) {
  if (state_ == nullptr) return kNotOpen;
  state_->clearFrame();
  if (!state_->reader.isOpen()) return kNotOpen;
  if (index < 0 || index >= state_->reader.frameCount()) return kBadArgument;
  const FrameInfo& frame = state_->reader.frame(index);
  state_->current = index;
  state_->sizeX = static_cast<std::uint32_t>(frame.sizeX);
  state_->sizeY = static_cast<std::uint32_t>(frame.sizeY);
  return kOk;
}

int DotProductAPI::getFrameSizeX() {
  return state_ == nullptr ? 0 : static_cast<int>(state_->sizeX);
}

int DotProductAPI::getFrameSizeY() {
  return state_ == nullptr ? 0 : static_cast<int>(state_->sizeY);
}

int DotProductAPI::getFramePositionAndOrientation(double* pose) {
  if (state_ == nullptr || !state_->reader.isOpen()) return kNotOpen;
  if (state_->current < 0) return kNoFrame;
  if (pose == nullptr) return kBadArgument;
  const PoseArray& framePose = state_->reader.frame(state_->current).pose;
  std::copy(framePose.begin(), framePose.end(), pose);
  return kOk;
}

int DotProductAPI::getCartesianAtPixel(int x, int y, float& px, float& py, float& pz) {
  const ScanPixel* pixel = loadedPixel(state_, x, y);
  if (pixel == nullptr) return cartesianAfterLoad(*this, state_, x, y, px, py, pz);
  if ((pixel->flags & kHasPoint) == 0) return kNoValue;
  px = pixel->x;
  py = pixel->y;
  pz = pixel->z;
  return kOk;
}

int DotProductAPI::getColourAtPixel(int x, int y, unsigned char& c0, unsigned char& c1,
                                    unsigned char& c2) {
  const ScanPixel* pixel = loadedPixel(state_, x, y);
  if (pixel == nullptr) return colourAfterLoad(*this, state_, x, y, c0, c1, c2);
  if ((pixel->flags & kHasColour) == 0) return kNoValue;
  c0 = pixel->colour[0];
  c1 = pixel->colour[1];
  c2 = pixel->colour[2];
  return kOk;
}
