// Least squares by orthogonal factorisation, streamed: the rows of the data
// arrive in blocks and only the triangle of a QR factorisation (a few times
// p² numbers) is kept, so memory does not grow with the row count.
//
// Accuracy contract: every coefficient, standard error, residual sum of
// squares and R² to 13 significant digits (LRE >= 13 against certified or
// rational-arithmetic values), on any design whose terms are not exact
// combinations of the others at the data's rounding level. Three passes,
// each chosen by what the one before shows:
// - double: the fold (fold.h) and the rank-revealing solve
//   (rank_revealing_solve.h); kept when the error estimate (error_estimate.h)
//   gives every result 14 digits;
// - refinement (refinement.h): when the design is well conditioned
//   (8 u κ² < 1e-3) but a coefficient cancels, typically an intercept far
//   from the data's centre; the rows are read once more per step;
// - quadruple (113-bit): otherwise, or when a term lies within 1e-8 of the
//   span of the earlier ones; a term within 1e-14 (aliased_share) of that
//   span is aliased there and the others fitted.
// Data of at most kept_values_max numbers are kept in memory for the second
// pass; larger data are read again.
//
// With a split source (the rows in byte ranges, read on several threads),
// each range is folded into a triangle of its own and the triangles
// are folded together (a QR of the stacked triangles: the same result to
// rounding, whatever the ranges). The refinement then needs no second read
// where one step is enough: a pilot solution from the first pilot_rows rows
// (computed by range 0's part while the other ranges are read: see
// split_first_pass.h) gives every range the residuals and
// X'r in extended precision at the pilot, and one step of the corrected
// semi-normal equations from the pilot, with the triangle of all the rows,
// carries it to the solution; it multiplies the pilot's error (about the
// size of the step) by 8 u κ². The step is kept when that leaves every
// coefficient and the residual sum of squares 14 digits; otherwise the
// rows are read again (on every thread) for the steps the sequential
// driver takes.
#pragma once

#include "design.h"

#include <Eigen/Core>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace models {

// Receives a block of rows, row-major; false stops the pass.
using row_sink = std::function<bool(const double* values, std::size_t rows)>;
// Sends every row of the data to the sink once per call; false when the
// pass could not be made (the caller keeps the reason).
using row_source = std::function<bool(const row_sink& sink)>;

struct least_squares_fit {
    bool ok = false;
    std::string error;
    long long n = 0;                  // rows fitted
    int rank = 0;                     // terms fitted (not aliased)
    std::vector<double> coefficients; // per term; NaN where aliased
    std::vector<double> std_errors;   // per term; NaN where aliased
    std::vector<bool> aliased;        // per term
    double rss = 0;
    double tss = 0;        // about the mean with an intercept, else about zero
    bool refined = false;  // a refinement pass in extended precision was needed
    int reads = 0;         // times the rows were read (or taken from memory)
    bool extended = false; // the quadruple-precision pass was needed
    double condition = 0;  // of the design with unit-norm columns (double pass)
    // The triangle of [terms | y] from the final pass, in the original order
    // of the terms (aliased ones included): R'R = X'X. The intercept column
    // holds ones and the other columns are the data less their first row's
    // value when there is an intercept (shifts change no fitted quantity).
    Eigen::MatrixXd triangle;
    // The basis the triangle and the fit are in: per raw column [y, x1..xk]
    // the value subtracted before a design row is formed (empty: none), and
    // the coefficients of that shifted design (NaN where aliased). A fitted
    // value is shifts[0] + the shifted row times these; evaluated so, it
    // keeps the digits the centring kept (raw powers of x near 2000 lose
    // them all).
    std::vector<double> shifts;
    std::vector<double> shifted_coefficients;
};

// Sends the rows of the data in ranges, each to its own sink, on several
// threads; sink_of(range, ranges) is called for every range on the caller's
// thread before any row is sent, and each range's rows arrive in order, on
// one thread. After its last rows a range's sink may be called with none
// (rows 0): its reading has ended.
// False when the split could not be made: what the sinks received is then
// discarded and the rows read with the row_source instead.
using split_row_source =
    std::function<bool(const std::function<row_sink(int range, int ranges)>& sink_of)>;

// Reads a split source into one part per range: make_part() gives a range's
// part (a std::unique_ptr to a type with add(values, rows)), which takes that
// range's rows on its thread; once every range is read, absorb(part) is
// called for the parts in the ranges' order, on the caller's thread, so
// that what the parts merge does not depend on which thread ended first.
// make_part may take the range's number instead (make_part(range)); a part
// with end_range() is told when its range's reading ended, well or not, on
// the range's thread (a source that does not say so leaves it untold).
// False when the split could not be made (nothing is absorbed).
template <class Part, class = void> struct has_end_range : std::false_type {};
template <class Part>
struct has_end_range<Part, std::void_t<decltype(std::declval<Part&>().end_range())>>
    : std::true_type {};

template <class MakePart, class Absorb>
bool read_ranges(const split_row_source& split, MakePart make_part, Absorb absorb) {
    const auto made = [&make_part](int range) {
        if constexpr (std::is_invocable_v<MakePart&, int>)
            return make_part(range);
        else
            return make_part();
    };
    using part_ptr = decltype(made(0));
    using part_type = typename part_ptr::element_type;
    std::vector<part_ptr> parts;
    const bool read = split([&](int range, int ranges) -> row_sink {
        if (parts.empty())
            parts.resize(static_cast<std::size_t>(ranges));
        part_ptr& part = parts[static_cast<std::size_t>(range)];
        part = made(range);
        auto* p = part.get();
        return [p](const double* values, std::size_t rows) {
            if (rows > 0)
                p->add(values, rows);
            else if constexpr (has_end_range<part_type>::value)
                p->end_range();
            return true;
        };
    });
    if (!read)
        return false;
    for (part_ptr& part : parts)
        absorb(*part);
    return true;
}

// Fits the design to the rows the source sends. The source may be called a
// second time (a second pass) when the data were too large to keep. With
// split, the rows are read on several threads where the split can be made
// (see above); the source then gives the pilot's first rows.
least_squares_fit fit_least_squares(const design& d, const row_source& source,
                                    const split_row_source& split = {});

// The rows of range 0 the pilot solution of a split fit is taken from
// (all of range 0 when it has fewer).
// The pilot's error is statistical (it fits a sample of the rows), falling
// as the root of the rows; one step from it multiplies that by 8 u κ². On
// the benchmark's file (21 columns, κ 21, R² 0.9999) 4,096 rows left the
// intercept 1.1e-14 after the step, just short of the 14 digits that spare
// a second read; four times the rows halve that. They are read once, as
// part of range 0; the pilot's own fold of them costs well under 1 % of a
// million-row file's single-threaded read.
inline constexpr std::size_t pilot_rows = 16384;

// Most numbers kept in memory for a second pass; larger data are read again.
inline constexpr std::size_t kept_values_max = std::size_t(1) << 20;

} // namespace models
