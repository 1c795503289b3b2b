#include "veloxc/BatchProgress.h"

#include "batch/BatchTotals.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace veloxc {

using batch::ClockText;

BatchProgress::BatchProgress(std::ostream &out, bool live, bool quiet, int total, int64_t totalDurationMs)
    : out_(out), live_(live && !quiet), quiet_(quiet), total_(total), totalDurationMs_(totalDurationMs)
{
}

BatchProgress::~BatchProgress() { Clear(); }

void BatchProgress::Started(int id, const std::string &name, int64_t durationMs)
{
    running_[id] = {name, durationMs, 0};
}

void BatchProgress::Advanced(int id, int64_t doneMs)
{
    const auto found = running_.find(id);
    if (found != running_.end()) {
        found->second.doneMs = std::clamp<int64_t>(doneMs, 0, std::max<int64_t>(found->second.durationMs, 0));
        found->second.advanced = true;
    }
}

void BatchProgress::Finished(int id, const std::string &word, const std::string &text)
{
    const auto found = running_.find(id);
    if (found != running_.end()) {
        finishedDurationMs_ += found->second.durationMs;
        running_.erase(found);
    }
    if (id >= 0) // a conversion; what was never to be converted does not count
        ++finished_;
    if (quiet_ && word != "FAIL")
        return;
    Clear();
    out_ << (word.size() < 4 ? word + std::string(4 - word.size(), ' ') : word) << " " << text << "\n";
    Draw();
}

void BatchProgress::Clear()
{
    if (!live_ || drawnLines_ == 0)
        return;
    // Back to the first line drawn, and everything below it cleared.
    out_ << "\x1b[" << drawnLines_ << "A\r\x1b[J";
    drawnLines_ = 0;
    out_.flush();
}

void BatchProgress::Draw()
{
    if (!live_)
        return;
    Clear();
    for (const auto &[id, task] : running_) {
        if (!task.advanced)
            continue;
        const int percent = task.durationMs > 0 ? static_cast<int>(task.doneMs * 100 / task.durationMs) : 0;
        std::string name = task.name;
        if (name.size() > 60)
            name = "..." + name.substr(name.size() - 57);
        char line[96];
        std::snprintf(line, sizeof line, "  %3d%%  ", percent);
        out_ << line << name << "\n";
        ++drawnLines_;
    }
    int64_t doneMs = finishedDurationMs_;
    for (const auto &[id, task] : running_)
        doneMs += task.doneMs;
    const double fraction = totalDurationMs_ > 0 ? std::min(1.0, static_cast<double>(doneMs) / totalDurationMs_) : 0.0;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start_).count();
    out_ << "[" << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kWidth - filled), '.') << "] " << finished_ << "/" << total_ << "  "
         << ClockText(elapsed) << " elapsed";
    if (const std::optional<int64_t> left = batch::SecondsLeft(fraction, static_cast<double>(elapsed)))
        out_ << ", about " << ClockText(*left) << " left";
    out_ << "\n";
    ++drawnLines_;
    out_.flush();
}

} // namespace veloxc
