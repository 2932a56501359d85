#include "ScriptedScanner.h"

#include "DotProductAPI.h"

ScannerScript& scannerScript() {
  static ScannerScript script;
  return script;
}

std::array<double, 17> poseWithTranslation(double tx, double ty, double tz) {
  std::array<double, 17> pose{};
  pose[0] = pose[5] = pose[10] = pose[15] = 1.0;
  pose[12] = tx;
  pose[13] = ty;
  pose[14] = tz;
  return pose;
}

ScriptedFrame fullFrame(int sizeX, int sizeY, float base) {
  ScriptedFrame frame;
  frame.sizeX = sizeX;
  frame.sizeY = sizeY;
  frame.pose = poseWithTranslation(0, 0, 0);
  for (int x = 0; x < sizeX; ++x) {
    for (int y = 0; y < sizeY; ++y) {
      ScriptedPixel pixel;
      pixel.point = std::array<float, 3>{base + x, base + y, base + 0.25f * (x + y)};
      pixel.colour = std::array<unsigned char, 3>{static_cast<unsigned char>(x),
                                                  static_cast<unsigned char>(y), 7};
      frame.pixels[{x, y}] = pixel;
    }
  }
  return frame;
}

// The scripted SDK keeps its per-object state (the current frame and how often each frame
// was opened) in a small struct behind the declared opaque pointer.
struct DotProductAPIState {
  int opens = 0;
  int currentFrame = -1;
  std::map<int, int> frameOpens;
};

namespace {

ScriptedFrame* currentFrame(DotProductAPIState* state) {
  ScannerScript& script = scannerScript();
  if (state->currentFrame < 0 || state->currentFrame >= static_cast<int>(script.frames.size()))
    return nullptr;
  return &script.frames[state->currentFrame];
}

std::pair<int, int> currentSizes(DotProductAPIState* state) {
  const ScriptedFrame* frame = currentFrame(state);
  if (frame == nullptr) return {0, 0};
  if (state->frameOpens[state->currentFrame] > 1 && frame->laterSizes) return *frame->laterSizes;
  return {frame->sizeX, frame->sizeY};
}

}  // namespace

DotProductAPI::DotProductAPI() : state_(new DotProductAPIState) {
  scannerScript().constructed++;
  scannerScript().calls.push_back("construct");
}

DotProductAPI::~DotProductAPI() {
  scannerScript().destroyed++;
  scannerScript().calls.push_back("destroy");
  delete state_;
}

int DotProductAPI::open(const char* path, const char* options) {
  ScannerScript& script = scannerScript();
  script.calls.push_back(std::string("open ") + path + (options == nullptr ? "" : " options"));
  const std::size_t attempt = state_->opens++;
  return attempt < script.openResults.size() ? script.openResults[attempt] : 0;
}

int DotProductAPI::getFrameCount() {
  scannerScript().calls.push_back("getFrameCount");
  return scannerScript().frameCount;
}

int DotProductAPI::getPositionAndOrientation(double* pose) {
  scannerScript().calls.push_back("getPositionAndOrientation");
  std::copy(scannerScript().globalPose.begin(), scannerScript().globalPose.end(), pose);
  return 0;
}

int DotProductAPI::openFrame(int index) {
  scannerScript().calls.push_back("openFrame " + std::to_string(index));
  state_->currentFrame = index;
  state_->frameOpens[index]++;
  return 0;
}

int DotProductAPI::getFrameSizeX() {
  scannerScript().calls.push_back("getFrameSizeX");
  return currentSizes(state_).first;
}

int DotProductAPI::getFrameSizeY() {
  scannerScript().calls.push_back("getFrameSizeY");
  return currentSizes(state_).second;
}

int DotProductAPI::getFramePositionAndOrientation(double* pose) {
  scannerScript().calls.push_back("getFramePositionAndOrientation");
  const ScriptedFrame* frame = currentFrame(state_);
  if (frame != nullptr && frame->writesPose)
    std::copy(frame->pose.begin(), frame->pose.end(), pose);
  return 0;
}

// Pixel calls are counted rather than logged one by one, except where a test asks for
// the exact sequence of a small frame.
int DotProductAPI::getCartesianAtPixel(int x, int y, float& px, float& py, float& pz) {
  ScannerScript& script = scannerScript();
  script.pixelCalls++;
  if (script.throwOnPixel) throw std::runtime_error("scripted failure");
  script.calls.push_back("point " + std::to_string(x) + "," + std::to_string(y));
  const ScriptedFrame* frame = currentFrame(state_);
  if (frame == nullptr) return 1;
  const auto pixel = frame->pixels.find({x, y});
  if (pixel == frame->pixels.end() || !pixel->second.point) return 1;
  px = (*pixel->second.point)[0];
  py = (*pixel->second.point)[1];
  pz = (*pixel->second.point)[2];
  return 0;
}

int DotProductAPI::getColourAtPixel(int x, int y, unsigned char& c0, unsigned char& c1,
                                    unsigned char& c2) {
  ScannerScript& script = scannerScript();
  script.calls.push_back("colour " + std::to_string(x) + "," + std::to_string(y));
  const ScriptedFrame* frame = currentFrame(state_);
  if (frame == nullptr) return 1;
  const auto pixel = frame->pixels.find({x, y});
  if (pixel == frame->pixels.end() || !pixel->second.colour) return 1;
  c0 = (*pixel->second.colour)[0];
  c1 = (*pixel->second.colour)[1];
  c2 = (*pixel->second.colour)[2];
  return 0;
}
