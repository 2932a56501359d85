#pragma once

// One frame of a read, shared by the plug-in's gathering and the frame reader, so that both
// compute every point by the same instructions.

#include <optional>
#include <type_traits>

#include <DotProductAPI.h>  // scanner/, or the vendor's own with QUARN_VENDOR_SDK_DIR
#include "pose/FlatRigidTransform.h"
#include "pose/PoseConversion.h"

// T_f^-1 of a frame pose, flattened; empty when the pose is not a rotation.
inline std::optional<FlatRigidTransform> frameToGlobalTransform(const PoseArray& pose) {
  const std::optional<TooN::SE3<double>> frameTransform = poseArrayToSE3(pose);
  if (!frameTransform) return std::nullopt;
  return FlatRigidTransform(frameTransform->inverse());
}

// Whether a sink has `bool uncoloured()`: see gatherFramePixels.
template <class Sink, class = void>
struct SeesUncoloured : std::false_type {};
template <class Sink>
struct SeesUncoloured<Sink, std::void_t<decltype(std::declval<Sink&>().uncoloured())>>
    : std::true_type {};

// Hands every pixel of the current frame that has a point and a colour, x outer, y inner, to
// `sink`: its point in output coordinates, globalToOutput * float(frameToGlobal * p) rounded
// to single precision, and its three colour bytes, then the point as the SDK gave it and its
// pixel, which a sink may ignore. The sink provides
//   bool room();  // asked before each point; false stops the frame
//   void add(float x, float y, float z, unsigned char c0, unsigned char c1, unsigned char c2,
//            float px, float py, float pz, int pixelX, int pixelY);
// and may provide
//   bool uncoloured();  // a pixel with a point but no colour: true to add it next, black
// to see those pixels too; the plug-in's has none and skips them.
// False when the sink had no room.
template <class Sink>
inline bool gatherFramePixels(DotProductAPI& sdk, int sizeX, int sizeY,
                              const FlatRigidTransform& frameToGlobal,
                              const FlatRigidTransform& globalToOutput, Sink& sink) {
  // A frame of 2^31 - 1 empty columns has no pixels, but walking its columns kept the host
  // busy for a second, and a scan file can hold thousands of such frames.
  if (sizeY <= 0) return true;
  // Per pixel: two SDK calls, two transforms with a rounding to single precision after each,
  // the stores. Nothing else.
  for (int x = 0; x < sizeX; ++x) {
    for (int y = 0; y < sizeY; ++y) {
      float px, py, pz;
      if (sdk.getCartesianAtPixel(x, y, px, py, pz) != 0) continue;
      unsigned char c0, c1, c2;
      if (sdk.getColourAtPixel(x, y, c0, c1, c2) != 0) {
        if constexpr (SeesUncoloured<Sink>::value) {
          if (!sink.uncoloured()) continue;
          c0 = c1 = c2 = 0;
        } else {
          continue;
        }
      }
      if (!sink.room()) return false;

      double q[3], r[3];
      frameToGlobal.apply(px, py, pz, q);
      globalToOutput.apply(static_cast<float>(q[0]), static_cast<float>(q[1]),
                           static_cast<float>(q[2]), r);
      sink.add(static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]), c0, c1,
               c2, px, py, pz, x, y);
    }
  }
  return true;
}
