#pragma once

// The frames of a scan read ahead on worker threads, each with a reader of its own, and handed
// to the calling thread in order: the reading and its arithmetic on one core while the caller
// writes on another. Memory for two frames per worker.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FrameReader.h"

namespace quarn {

class FramePipeline {
 public:
  // Workers reading with `first` and `workers - 1` more readers opened at `path`.
  FramePipeline(FrameReader& first, const std::string& path, int workers);
  ~FramePipeline();
  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  int frames() const { return frames_; }
  // Calls `f` with every reader the pipeline reads with.
  template <class F>
  void forEachReader(F f) {
    for (FrameReader* reader : readers_) f(*reader);
  }

  // What a worker made of frame `index`: a frame, its pose row by row, and a number.
  struct Item {
    int index = -1;
    Frame frame;
    Eigen::Matrix<double, 4, 4, Eigen::RowMajor> pose;
    std::uint64_t count = 0;
  };

  // One pass: `work(reader, item)` for every frame (item.index) on the workers, then
  // `use(item)` for each, in frame order, on the calling thread. What either throws ends the
  // pass and is thrown here, the first frame's first.
  void pass(const std::function<void(FrameReader&, Item&)>& work,
            const std::function<void(Item&)>& use);

 private:
  struct Shared;
  int frames_;
  std::vector<std::unique_ptr<FrameReader>> own_;  // the readers opened here
  std::vector<FrameReader*> readers_;
};

// Workers for this machine: two where there are two cores or more, else one.
int pipelineWorkers();

}  // namespace quarn
