#include "subset_incumbents.h"

#include <algorithm>
#include <limits>

namespace models {

incumbents::incumbents(int sizes, int keep)
    : keep_(std::max(keep, 1)), bounds_(new std::atomic<double>[std::max(sizes, 1)]),
      lists_(sizes) {
    for (int s = 0; s < sizes; ++s)
        bounds_[s].store(std::numeric_limits<double>::infinity(), std::memory_order_relaxed);
}

double incumbents::bound_over(int lo, int hi) const {
    double worst = -std::numeric_limits<double>::infinity();
    for (int s = lo; s <= hi; ++s)
        worst = std::max(worst, bound(s));
    return worst;
}

void incumbents::offer(int size, double rss, const int* ids) {
    if (!(rss < bound(size)))
        return;
    subset model{std::vector<int>(ids, ids + size), rss};
    std::sort(model.terms.begin(), model.terms.end());
    const auto before = [](const subset& a, const subset& b) {
        return a.rss < b.rss || (a.rss == b.rss && a.terms < b.terms);
    };
    std::lock_guard<std::mutex> lock(mutex_);
    if (!(rss < bound(size)))
        return;
    std::vector<subset>& list = lists_[size - 1];
    const auto same = std::find_if(list.begin(), list.end(),
                                   [&](const subset& s) { return s.terms == model.terms; });
    if (same != list.end()) {
        if (!before(model, *same))
            return;
        list.erase(same);
    }
    list.insert(std::upper_bound(list.begin(), list.end(), model, before), std::move(model));
    if (static_cast<int>(list.size()) > keep_)
        list.pop_back();
    if (static_cast<int>(list.size()) == keep_)
        bounds_[size - 1].store(list.back().rss, std::memory_order_relaxed);
}

} // namespace models
