#include "ScriptedScanner.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "DotProductAPI.h"

ScannerScript& scannerScript() {
  static ScannerScript script;
  return script;
}

// Per object: the open attempts, the current frame and how often each frame was opened.
struct DotProductAPIState {
  std::size_t opens = 0;
  int current = 0;
  std::map<int, int> frameOpens;

  const ScriptedFrame& frame() const { return scannerScript().frames.at(current); }
  std::pair<int, int> sizes() {
    const ScriptedFrame& f = frame();
    return frameOpens[current] > 1 && f.laterSizes ? *f.laterSizes : std::pair{f.sizeX, f.sizeY};
  }
};

namespace {
void log(const std::string& call) { scannerScript().calls.push_back(call); }
std::string at(int x, int y) { return " " + std::to_string(x) + "," + std::to_string(y); }
}  // namespace

DotProductAPI::DotProductAPI() : state_(new DotProductAPIState) { log("construct"); }

DotProductAPI::~DotProductAPI() {
  log("destroy");
  delete state_;
}

int DotProductAPI::open(const char* path, const char* options) {
  log(std::string("open ") + path + (options == nullptr ? "" : " options"));
  const std::vector<int>& results = scannerScript().openResults;
  const std::size_t attempt = state_->opens++;
  return attempt < results.size() ? results[attempt] : 0;
}

int DotProductAPI::getFrameCount() {
  log("getFrameCount");
  return static_cast<int>(scannerScript().frames.size());
}

int DotProductAPI::getPositionAndOrientation(double* pose) {
  log("getPositionAndOrientation");
  std::copy(scannerScript().globalPose.begin(), scannerScript().globalPose.end(), pose);
  return 0;
}

int DotProductAPI::openFrame(int index) {
  log("openFrame " + std::to_string(index));
  state_->current = index;
  state_->frameOpens[index]++;
  return 0;
}

int DotProductAPI::getFrameSizeX() {
  log("getFrameSizeX");
  return state_->sizes().first;
}

int DotProductAPI::getFrameSizeY() {
  log("getFrameSizeY");
  return state_->sizes().second;
}

int DotProductAPI::getFramePositionAndOrientation(double* pose) {
  log("getFramePositionAndOrientation");
  const ScriptedFrame& frame = state_->frame();
  if (frame.writesPose) std::copy(frame.pose.begin(), frame.pose.end(), pose);
  return 0;
}

int DotProductAPI::getCartesianAtPixel(int x, int y, float& px, float& py, float& pz) {
  if (scannerScript().throwOnPixel) throw std::runtime_error("scripted failure");
  log("point" + at(x, y));
  if (state_->frame().withoutPoint.count({x, y}) != 0) return 1;
  px = static_cast<float>(x);
  py = static_cast<float>(y);
  pz = 0;
  return 0;
}

int DotProductAPI::getColourAtPixel(int x, int y, unsigned char& c0, unsigned char& c1,
                                    unsigned char& c2) {
  log("colour" + at(x, y));
  if (state_->frame().withoutColour.count({x, y}) != 0) return 1;
  c0 = static_cast<unsigned char>(x);
  c1 = static_cast<unsigned char>(y);
  c2 = 7;
  return 0;
}
