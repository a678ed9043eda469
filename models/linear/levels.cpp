#include "levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace models {

namespace {

bool as_number(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

} // namespace

int level_table::find(const std::string& text) const {
    const auto found = ids_.find(text);
    return found == ids_.end() ? -1 : found->second;
}

int level_table::id(const std::string& text) {
    const auto found = ids_.find(text);
    if (found != ids_.end())
        return found->second;
    if (texts_.size() >= max_levels)
        return -1;
    const int next = static_cast<int>(texts_.size());
    ids_.emplace(text, next);
    texts_.push_back(text);
    return next;
}

std::vector<int> level_table::sorted_ids() const {
    std::vector<int> ids(texts_.size());
    std::iota(ids.begin(), ids.end(), 0);
    std::vector<double> values(texts_.size());
    bool numbers = true;
    for (std::size_t i = 0; i < texts_.size() && numbers; ++i)
        numbers = as_number(texts_[i], values[i]);
    if (numbers) {
        std::stable_sort(ids.begin(), ids.end(), [&](int a, int b) {
            return values[a] < values[b] || (values[a] == values[b] && texts_[a] < texts_[b]);
        });
    } else {
        std::sort(ids.begin(), ids.end(), [&](int a, int b) { return texts_[a] < texts_[b]; });
    }
    return ids;
}

} // namespace models
