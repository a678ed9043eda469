#include "pipeline.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace models {

namespace {

// Blocks queued between the threads: enough to ride over uneven block
// times, few enough to bound memory.
constexpr std::size_t blocks_in_flight = 4;

struct block {
    std::vector<double> values;
    std::size_t rows = 0;
};

class handoff {
  public:
    // Waits for room; false when the consumer has stopped.
    bool put(const double* values, std::size_t rows, std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return queue_.size() < blocks_in_flight || stopped_; });
        if (stopped_)
            return false;
        block b;
        if (!spare_.empty()) {
            b = std::move(spare_.back());
            spare_.pop_back();
        }
        b.values.assign(values, values + count);
        b.rows = rows;
        queue_.push_back(std::move(b));
        ready_.notify_one();
        return true;
    }
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        ready_.notify_one();
    }
    // The consumer's loop: every block to sink until the producer closes or
    // the sink says stop.
    void drain(const row_sink& sink) {
        for (;;) {
            block b;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ready_.wait(lock, [&] { return !queue_.empty() || closed_; });
                if (queue_.empty())
                    return;
                b = std::move(queue_.front());
                queue_.pop_front();
                room_.notify_one();
            }
            const bool more = sink(b.values.data(), b.rows);
            std::lock_guard<std::mutex> lock(mutex_);
            spare_.push_back(std::move(b));
            if (!more) {
                stopped_ = true;
                queue_.clear();
                room_.notify_all();
                return;
            }
        }
    }
    bool stopped() {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopped_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable room_, ready_;
    std::deque<block> queue_;
    std::vector<block> spare_;
    bool closed_ = false;
    bool stopped_ = false;
};

} // namespace

row_source pipelined(row_source source, std::size_t columns) {
    return [source, columns](const row_sink& sink) {
        handoff queue;
        std::thread consumer([&] { queue.drain(sink); });
        const bool read = source([&](const double* values, std::size_t rows) {
            return queue.put(values, rows, rows * columns);
        });
        queue.close();
        consumer.join();
        return read && !queue.stopped();
    };
}

} // namespace models
