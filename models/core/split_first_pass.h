// The first pass of a fit over a split source: every range folded into a
// triangle of its own on its thread, beside the sums one refinement step
// needs at a pilot solution (refinement.h), all merged in the ranges' order.
//
// The pilot is the solution over the file's first pilot_rows rows, and the
// shifts every range's fold takes are the file's first row: both come from
// range 0, which its part computes on its own thread as soon as it has read
// them (or its range ended sooner). Range 0 is read first, beside the others,
// so no core waits for the pilot: until it is published, the other ranges'
// parts hold the rows they read (at most held_bytes_max between them) and
// fold them once it is. Where the room runs out, a part waits for the pilot
// (at most held_wait); a part whose pilot did not come, or a pilot that
// could not be had (no rows, or values too large), makes the whole pass
// fail, and the caller reads the file in turn instead.
//
// What the pass gives does not depend on the threads: the same pilot from
// the same rows, each range's triangle and sums from its rows in order, and
// the merge in the ranges' order.
#pragma once

#include "design.h"
#include "fold.h"
#include "least_squares.h"
#include "rank_revealing_solve.h"
#include "refinement.h"

#include <chrono>
#include <cstddef>
#include <memory>

namespace models::least_squares_detail {

// Rows the other ranges' parts may hold between them while range 0's part
// computes the pilot: on two cores the other thread reads about as many
// rows as the pilot's (2.9 MB of 21 columns) meanwhile.
inline constexpr std::size_t held_bytes_max = std::size_t(32) << 20;
// The longest a part with no room left waits for the pilot. Range 0 is read
// beside the other ranges, so the pilot comes within the time its rows take
// to read; the limit only keeps a source that sends its ranges one after
// another from waiting for ever.
inline constexpr std::chrono::seconds held_wait{5};

// The triangle of every row, and the sums a refinement step needs at the
// pilot solution.
struct first_pass {
    accumulator<double> fold;
    refinement refine;
    void add(const double* values, std::size_t rows) {
        fold.add(values, rows);
        refine.add(values, rows);
    }
    void absorb(first_pass& other) {
        fold.absorb(other.fold);
        refine.absorb(other.refine);
    }
};

// The split first pass, with the pilot it was taken at; empty when the
// split could not be made or a range's part failed, for the sequential pass
// to take over.
std::unique_ptr<first_pass> read_split_first(const design& d, const split_row_source& split,
                                             solution<double>& pilot);

} // namespace models::least_squares_detail
