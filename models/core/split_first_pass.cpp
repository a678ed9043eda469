#include "split_first_pass.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace models::least_squares_detail {

namespace {

// The pilot and the shifts, published once by range 0's part, and the room
// the other parts' held rows take meanwhile.
class pilot_board {
  public:
    enum class room { held, published, none };

    // ok false: no pilot could be had.
    void publish(bool ok, std::vector<double> shifts, solution<double> pilot) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ok_ = ok;
            shifts_ = std::move(shifts);
            pilot_ = std::move(pilot);
            published_.store(true, std::memory_order_release);
        }
        came_.notify_all();
    }
    // Once true, what ok(), shifts() and pilot() give no longer changes.
    bool published() const { return published_.load(std::memory_order_acquire); }
    bool ok() const { return ok_; }
    const std::vector<double>& shifts() const { return shifts_; }
    const solution<double>& pilot() const { return pilot_; }

    // Room for bytes more of held rows (held), or the pilot came first or
    // while waiting for room (published), or neither within held_wait (none).
    room hold(std::size_t bytes) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (published())
            return room::published;
        if (held_ + bytes <= held_bytes_max) {
            held_ += bytes;
            return room::held;
        }
        return came_.wait_for(lock, held_wait, [this] { return published(); }) ? room::published
                                                                               : room::none;
    }
    void release(std::size_t bytes) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ -= bytes;
    }

  private:
    std::mutex mutex_;
    std::condition_variable came_;
    std::atomic<bool> published_{false};
    bool ok_ = false;
    std::vector<double> shifts_;
    solution<double> pilot_;
    std::size_t held_ = 0;
};

// The pass at the board's pilot, with the first row's shifts.
std::unique_ptr<first_pass> pass_at(const design& d, const pilot_board& board) {
    auto pass = std::make_unique<first_pass>(
        first_pass{accumulator<double>(d, board.shifts()),
                   refinement(d, board.pilot(), board.shifts(), board.shifts())});
    if (d.intercept)
        pass->fold.keep_sums();
    return pass;
}

// One range's part. Range 0's (the lead) keeps its first pilot_rows rows,
// publishes the pilot from them and goes on; the others hold their rows
// until the pilot is published.
class first_range {
  public:
    first_range(const design& d, pilot_board& board, bool leads)
        : d_(d), raw_(static_cast<std::size_t>(d.raw_columns())), board_(board), leads_(leads) {}
    first_range(const first_range&) = delete;
    first_range& operator=(const first_range&) = delete;
    ~first_range() { drop_held(); }

    void add(const double* values, std::size_t rows) {
        if (failed_)
            return;
        if (!pass_) {
            const std::size_t count = rows * raw_;
            if (leads_) {
                held_.insert(held_.end(), values, values + count);
                if (held_.size() >= pilot_rows * raw_)
                    lead();
                return;
            }
            switch (board_.hold(count * sizeof(double))) {
            case pilot_board::room::held:
                held_.insert(held_.end(), values, values + count);
                held_bytes_ += count * sizeof(double);
                return;
            case pilot_board::room::none:
                fail();
                return;
            case pilot_board::room::published:
                if (!start())
                    return;
                break;
            }
        }
        pass_->add(values, rows);
    }

    // Range 0 shorter than the pilot's rows gives the pilot from all of it.
    void end_range() {
        if (leads_ && !pass_ && !failed_)
            lead();
    }

    // On the caller's thread once every range was read, range 0's first:
    // this range's pass, or null when it failed.
    std::unique_ptr<first_pass> settle() {
        if (!failed_ && !pass_) {
            if (leads_)
                lead();
            else if (board_.published())
                start();
            else
                fail();
        }
        return failed_ ? nullptr : std::move(pass_);
    }

  private:
    // The pilot from the rows held: the solution of their own triangle,
    // shifted by the first row as every range's fold will be.
    void lead() {
        const std::size_t n = held_.size() / raw_;
        std::vector<double> shifts;
        solution<double> pilot;
        bool ok = n > 0;
        if (ok) {
            if (d_.intercept)
                shifts.assign(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(raw_));
            accumulator<double> pilot_fold(d_, shifts);
            pilot_fold.add(held_.data(), n);
            const matrix<double> r = pilot_fold.triangle().topRows(d_.terms() + 1);
            ok = r.allFinite();
            if (ok)
                pilot = solve<double>(r, d_.terms(), 0.0);
        }
        board_.publish(ok, std::move(shifts), std::move(pilot));
        start();
    }

    // The pass at the published pilot, from the rows held so far.
    bool start() {
        if (!board_.ok()) {
            fail();
            return false;
        }
        pass_ = pass_at(d_, board_);
        if (!held_.empty())
            pass_->add(held_.data(), held_.size() / raw_);
        drop_held();
        return true;
    }

    void fail() {
        failed_ = true;
        pass_.reset();
        drop_held();
    }

    void drop_held() {
        std::vector<double>().swap(held_);
        if (held_bytes_ > 0)
            board_.release(held_bytes_);
        held_bytes_ = 0;
    }

    design d_;
    std::size_t raw_;
    pilot_board& board_;
    bool leads_;
    bool failed_ = false;
    std::vector<double> held_;
    std::size_t held_bytes_ = 0; // of held_, taken from the board's room
    std::unique_ptr<first_pass> pass_;
};

} // namespace

std::unique_ptr<first_pass> read_split_first(const design& d, const split_row_source& split,
                                             solution<double>& pilot) {
    pilot_board board;
    std::unique_ptr<first_pass> whole;
    bool failed = false;
    const bool read = read_ranges(
        split, [&](int range) { return std::make_unique<first_range>(d, board, range == 0); },
        [&](first_range& part) {
            const std::unique_ptr<first_pass> pass = part.settle();
            if (!pass) {
                failed = true;
                return;
            }
            if (!whole)
                whole = pass_at(d, board);
            whole->absorb(*pass);
        });
    if (!read || failed || !whole)
        return nullptr;
    pilot = board.pilot();
    return whole;
}

} // namespace models::least_squares_detail
