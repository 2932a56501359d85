#pragma once

// The two functions a host application finds in the QuarnDotProduct library, with their
// exact C-linkage signatures. A host that loads the library at run time looks them up by
// these names; the function-pointer types below spell out what it casts them to.

#include <Eigen/Core>

#if defined(_WIN32)
#if defined(QUARN_DOTPRODUCT_BUILD)
#define QUARN_DOTPRODUCT_API __declspec(dllexport)
#elif defined(QUARN_DOTPRODUCT_NO_DLLIMPORT)
#define QUARN_DOTPRODUCT_API  // the plug-in's code is linked into this program
#else
#define QUARN_DOTPRODUCT_API __declspec(dllimport)
#endif
#else
#define QUARN_DOTPRODUCT_API __attribute__((visibility("default")))
#endif

using ColourMatrix = Eigen::Matrix<unsigned char, Eigen::Dynamic, Eigen::Dynamic>;

extern "C" {

// Reads scan `scanIndex` (only scan 0 exists; indices below 0 read it too) of the scan file
// at `path` (UTF-8). On success `points` and `colours` hold fresh 3 x N storage, N being the
// pixel count of all frames: the valid pixels fill the first columns in order, the columns
// after them hold quiet NaN and colour 0. `transform` becomes 4 x 4. On failure all three
// matrices are left exactly as they were. `reserved5` and `reserved6` are never touched.
QUARN_DOTPRODUCT_API bool readDotProduct(const char* path, int scanIndex, Eigen::MatrixXd& points,
                                         ColourMatrix& colours, void* reserved5, void* reserved6,
                                         Eigen::MatrixXd& transform);

// A scan file holds one scan: always 1. Reads nothing.
QUARN_DOTPRODUCT_API int readDotProductNumberOfScans(const char* path);
}

using ReadDotProductFunction = bool (*)(const char*, int, Eigen::MatrixXd&, ColourMatrix&, void*,
                                        void*, Eigen::MatrixXd&);
using ReadDotProductNumberOfScansFunction = int (*)(const char*);
