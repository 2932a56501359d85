#include "LazChunkPool.h"

#include "LazChunk.h"

namespace quarn {

std::size_t LazChunkPool::threadCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

LazChunkPool::~LazChunkPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void LazChunkPool::queue(std::vector<unsigned char> records, std::size_t count) {
  auto job = std::make_shared<Job>();
  job->records = std::move(records);
  job->count = count;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  if (threads_.empty()) {
    const std::size_t count = threadCount();
    threads_.reserve(count);
    for (std::size_t i = 0; i < count; ++i) threads_.emplace_back(&LazChunkPool::work, this);
  }
  queued_.notify_one();
}

bool LazChunkPool::oldestReady() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !jobs_.empty() && jobs_.front()->done;
}

std::vector<unsigned char> LazChunkPool::take(std::vector<unsigned char>& spare) {
  std::shared_ptr<Job> job;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [this] { return jobs_.front()->done; });
    job = std::move(jobs_.front());
    jobs_.pop_front();
  }
  if (job->error) std::rethrow_exception(job->error);
  spare = std::move(job->records);
  return std::move(job->chunk);
}

void LazChunkPool::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    std::shared_ptr<Job> job;
    queued_.wait(lock, [&] {
      if (stopping_) return true;
      for (const std::shared_ptr<Job>& waiting : jobs_) {
        if (!waiting->started) {
          job = waiting;
          return true;
        }
      }
      return false;
    });
    if (stopping_) return;
    job->started = true;
    lock.unlock();
    try {
      job->chunk = compressLazChunk(job->records.data(), job->count, recordSize_);
    } catch (...) {
      job->error = std::current_exception();
    }
    lock.lock();
    job->done = true;
    finished_.notify_all();
  }
}

}  // namespace quarn
