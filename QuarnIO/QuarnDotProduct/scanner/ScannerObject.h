#pragma once

#include <cstddef>
#include <new>

#include <DotProductAPI.h>  // scanner/, or the vendor's own with QUARN_VENDOR_SDK_DIR

// The one SDK object of a read. The vendor's class may hold more than its declaration
// shows, so its constructor gets generous room rather than exactly sizeof(DotProductAPI).
// The object is destroyed exactly once, when this goes out of scope.
class ScannerObject {
 public:
  ScannerObject() { api_ = new (storage_) DotProductAPI(); }
  ~ScannerObject() { api_->~DotProductAPI(); }
  ScannerObject(const ScannerObject&) = delete;
  ScannerObject& operator=(const ScannerObject&) = delete;

  DotProductAPI& api() { return *api_; }

 private:
  static constexpr std::size_t kRoom = 4096;
  static_assert(sizeof(DotProductAPI) <= kRoom, "SDK object larger than its room");
  alignas(64) unsigned char storage_[kRoom] = {};
  DotProductAPI* api_;
};
