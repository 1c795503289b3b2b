// What a batch shows while it runs: on a terminal a live display redrawn in place, one line per
// running conversion and a total; elsewhere one plain line per finished input.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>

namespace veloxc {

class BatchProgress {
public:
    // live: redraw in place (standard error is a terminal); quiet: failures only.
    BatchProgress(std::ostream &out, bool live, bool quiet, int total, int64_t totalDurationMs);
    ~BatchProgress();
    BatchProgress(const BatchProgress &) = delete;
    BatchProgress &operator=(const BatchProgress &) = delete;

    void Started(int id, const std::string &name, int64_t durationMs);
    void Advanced(int id, int64_t doneMs);
    // One finished input: "ok", "skip" or "FAIL", with the file and, for a failure, the reason;
    // id -1 for an input that was never to be converted.
    void Finished(int id, const std::string &word, const std::string &text);
    // Redraws the live display; nothing otherwise.
    void Draw();

private:
    struct Running {
        std::string name;
        int64_t durationMs = 0, doneMs = 0;
        bool advanced = false; // shown once it reports progress: queued ones are not running yet
    };
    void Clear();

    std::ostream &out_;
    const bool live_, quiet_;
    const int total_;
    const int64_t totalDurationMs_;
    int finished_ = 0;
    int64_t finishedDurationMs_ = 0;
    std::map<int, Running> running_;
    int drawnLines_ = 0;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace veloxc
