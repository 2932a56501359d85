#include "FramePipeline.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace quarn {

namespace {

constexpr int kSlots = 2;  // per worker: one being filled while the caller uses the other

struct Slot {
  FramePipeline::Item item;
  std::exception_ptr error;
  bool full = false;
};

}  // namespace

struct FramePipeline::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  bool stop = false;
  std::vector<Slot> slots;  // worker w's slot s at w * kSlots + s
};

int pipelineWorkers() { return std::thread::hardware_concurrency() >= 2 ? 2 : 1; }

FramePipeline::FramePipeline(FrameReader& first, const std::string& path, int workers)
    : frames_(first.frameCount()) {
  readers_.push_back(&first);
  for (int w = 1; w < workers && w < frames_; ++w) {
    own_.push_back(std::make_unique<FrameReader>(path));
    readers_.push_back(own_.back().get());
  }
}

FramePipeline::~FramePipeline() = default;

void FramePipeline::pass(const std::function<void(FrameReader&, Item&)>& work,
                         const std::function<void(Item&)>& use) {
  const int workers = static_cast<int>(readers_.size());
  Shared shared;
  shared.slots.resize(static_cast<std::size_t>(workers) * kSlots);
  const auto slotOf = [&](int f) -> Slot& {
    return shared.slots[static_cast<std::size_t>(f % workers * kSlots + f / workers % kSlots)];
  };
  std::vector<std::thread> threads;
  // Stops the workers however the pass ends.
  struct Joiner {
    Shared& shared;
    std::vector<std::thread>& threads;
    ~Joiner() {
      {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.stop = true;
      }
      shared.changed.notify_all();
      for (std::thread& thread : threads) thread.join();
    }
  } joiner{shared, threads};

  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (int f = w; f < frames_; f += workers) {
        Slot& slot = slotOf(f);
        {
          std::unique_lock<std::mutex> lock(shared.mutex);
          shared.changed.wait(lock, [&] { return shared.stop || !slot.full; });
          if (shared.stop) return;
        }
        slot.item.index = f;
        try {
          work(*readers_[static_cast<std::size_t>(w)], slot.item);
        } catch (...) {
          slot.error = std::current_exception();
        }
        {
          std::lock_guard<std::mutex> lock(shared.mutex);
          slot.full = true;
        }
        shared.changed.notify_all();
        if (slot.error) return;
      }
    });
  }
  for (int f = 0; f < frames_; ++f) {
    Slot& slot = slotOf(f);
    {
      std::unique_lock<std::mutex> lock(shared.mutex);
      shared.changed.wait(lock, [&] { return slot.full; });
    }
    if (slot.error) std::rethrow_exception(slot.error);
    use(slot.item);
    {
      std::lock_guard<std::mutex> lock(shared.mutex);
      slot.full = false;
    }
    shared.changed.notify_all();
  }
}

}  // namespace quarn
