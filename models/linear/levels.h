// The levels of a categorical column: each distinct text an id in the order
// it first appears, so that a level first seen on the last line of a file
// simply takes the next id.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace models {

// More levels than this in one column is refused: such a column is an
// identifier or a numeric column with a stray text, not a factor, and its
// indicator columns would make the design too wide to fit.
inline constexpr std::size_t max_levels = 1000;

class level_table {
  public:
    // The id of text, added at its first appearance; -1 when that would
    // exceed max_levels.
    int id(const std::string& text);
    // The id of text when it is a level already; -1 when it is not.
    int find(const std::string& text) const;
    std::size_t size() const { return texts_.size(); }
    const std::string& text(int id) const { return texts_[static_cast<std::size_t>(id)]; }
    // The ids in the coding's order: by byte order of the texts, or by value
    // when every level is a number (C() of a numeric column: 4 < 6 < 10).
    std::vector<int> sorted_ids() const;

  private:
    std::vector<std::string> texts_;
    std::unordered_map<std::string, int> ids_;
};

} // namespace models
