#include "batch/BatchTotals.h"

#include <algorithm>
#include <cstdio>

namespace batch {

namespace {

int64_t Weight(int64_t durationMs) { return durationMs > 0 ? durationMs : 1000; }

} // namespace

void BatchTotals::Add(int id, int64_t durationMs)
{
    if (files_.emplace(id, File{durationMs, 0, false}).second)
        totalMs_ += Weight(durationMs);
}

void BatchTotals::Advance(int id, int64_t doneMs)
{
    const auto found = files_.find(id);
    if (found == files_.end() || found->second.ended)
        return;
    File &file = found->second;
    const int64_t done = std::clamp<int64_t>(doneMs, 0, Weight(file.durationMs));
    doneMs_ += done - file.doneMs;
    file.doneMs = done;
}

void BatchTotals::Finish(int id, bool failed)
{
    const auto found = files_.find(id);
    if (found == files_.end() || found->second.ended)
        return;
    File &file = found->second;
    doneMs_ += Weight(file.durationMs) - file.doneMs;
    file.doneMs = Weight(file.durationMs);
    file.ended = true;
    ++(failed ? failed_ : converted_);
}

double BatchTotals::Fraction() const
{
    return totalMs_ > 0 ? std::min(1.0, static_cast<double>(doneMs_) / static_cast<double>(totalMs_)) : 0.0;
}

std::optional<int64_t> SecondsLeft(double fraction, double elapsedSeconds)
{
    if (fraction <= 0.02 || elapsedSeconds < 0)
        return std::nullopt;
    return static_cast<int64_t>(elapsedSeconds / std::min(fraction, 1.0) - elapsedSeconds + 0.5);
}

std::string ClockText(int64_t seconds)
{
    char text[32];
    seconds = std::max<int64_t>(seconds, 0);
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

} // namespace batch
