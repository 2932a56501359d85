#pragma once

// The scanner vendor's SDK class, declared as the vendor's DotProduct_x64 library
// defines it. The plug-in uses these nine operations and nothing else, so it links
// against any library that defines them: the vendor's own or the reference SDK in
// QuarnIO/ScannerSDK.
//
// Every operation returns an int. For open, openFrame, the two pose operations and the
// two pixel operations it is a status, 0 meaning success; getFrameCount, getFrameSizeX
// and getFrameSizeY return the count or size itself.

#if defined(_WIN32)
#if defined(DOTPRODUCT_SDK_BUILD)
#define DOTPRODUCT_SDK_API __declspec(dllexport)
#elif defined(DOTPRODUCT_SDK_NO_DLLIMPORT)
// Called through the import library's stubs, which a definition linked into the same
// program (the plug-in's tests' scripted SDK) also satisfies.
#define DOTPRODUCT_SDK_API
#else
#define DOTPRODUCT_SDK_API __declspec(dllimport)
#endif
#else
#define DOTPRODUCT_SDK_API __attribute__((visibility("default")))
#endif

struct DotProductAPIState;

class DOTPRODUCT_SDK_API DotProductAPI {
 public:
  DotProductAPI();
  ~DotProductAPI();

  DotProductAPI(const DotProductAPI&) = delete;
  DotProductAPI& operator=(const DotProductAPI&) = delete;

  // Opens a scan file given a narrow-character path; the second argument is reserved
  // (the plug-in passes null).
  int open(const char* path, const char* options);
  int getFrameCount();
  // Writes the scan's pose: 17 doubles, values 0-15 a 4x4 homogeneous pose.
  int getPositionAndOrientation(double* pose);

  // Makes frame `index` current for the size, frame-pose and pixel operations.
  int openFrame(int index);
  int getFrameSizeX();
  int getFrameSizeY();
  // Writes the current frame's pose: 17 doubles, values 0-15 a 4x4 homogeneous pose.
  int getFramePositionAndOrientation(double* pose);

  // 0 when pixel (x, y) of the current frame has a point (frame coordinates, metres).
  int getCartesianAtPixel(int x, int y, float& px, float& py, float& pz);
  // 0 when pixel (x, y) of the current frame has a colour.
  int getColourAtPixel(int x, int y, unsigned char& c0, unsigned char& c1, unsigned char& c2);

 private:
  // Owned by the library that defines the operations; opaque to callers.
  DotProductAPIState* state_;
};
