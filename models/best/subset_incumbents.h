// The best subsets found so far for every size, shared by the threads of a
// search: each size keeps its `keep` lowest residual sums of squares. A
// search reads the bound of a size (the RSS a new model must beat to be
// kept) without a lock; offers that beat it take the lock.
#pragma once

#include "subsets.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace models {

class incumbents {
  public:
    incumbents(int sizes, int keep);

    // The RSS a model of `size` (1-based) must beat to be kept: the keep-th
    // best so far, infinity while fewer are known.
    double bound(int size) const { return bounds_[size - 1].load(std::memory_order_relaxed); }
    // The largest bound over sizes lo..hi: a set whose RSS is no better
    // cannot improve any of them.
    double bound_over(int lo, int hi) const;

    // A model of `size` terms (ids in any order) and its RSS. Kept when it
    // beats the bound; the same terms offered again keep the lower RSS.
    void offer(int size, double rss, const int* ids);

    // Each size's kept models, best first (ties: the smaller ids first).
    const std::vector<std::vector<subset>>& lists() const { return lists_; }

  private:
    int keep_;
    std::unique_ptr<std::atomic<double>[]> bounds_;
    std::mutex mutex_;
    std::vector<std::vector<subset>> lists_;
};

} // namespace models
