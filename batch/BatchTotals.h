// Where a batch stands: files done, failed and left, how far by the length of its files, and the
// time left at that pace. Plain bookkeeping, for any front end to show.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace batch {

class BatchTotals {
public:
    // A file of the batch, with its length (0 when unknown: it then counts as one second); an id
    // given again is the same file.
    void Add(int id, int64_t durationMs);
    // How far the file is, in milliseconds of its length.
    void Advance(int id, int64_t doneMs);
    // The file ended, converted or failed; either way its whole length is behind the batch.
    void Finish(int id, bool failed);
    void Clear() { *this = BatchTotals(); }

    int Converted() const { return converted_; }
    int Failed() const { return failed_; }
    int Left() const { return static_cast<int>(files_.size()) - converted_ - failed_; }
    // 0 to 1, weighted by length.
    double Fraction() const;

private:
    struct File {
        int64_t durationMs = 0, doneMs = 0;
        bool ended = false;
    };
    std::map<int, File> files_;
    int64_t totalMs_ = 0, doneMs_ = 0;
    int converted_ = 0, failed_ = 0;
};

// Seconds left when fraction of the work took elapsedSeconds at a steady pace; nothing before 2%
// is done (too early to tell).
std::optional<int64_t> SecondsLeft(double fraction, double elapsedSeconds);

// "1:05" or "1:02:03".
std::string ClockText(int64_t seconds);

} // namespace batch
