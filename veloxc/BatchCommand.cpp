#include "BatchCommand.h"

#include "AVLibLoader.h"
#include "AVProbe.h"
#include "BatchArguments.h"
#include "BatchPlan.h"
#include "BatchProgress.h"
#include "ExitStatus.h"
#include "InterruptWatcher.h"
#include "SafeOutput.h"
#include "TagCopy.h"
#include "Version.h"
#include "VeloxConverter.h"

#include <atomic>
#include <csignal>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace veloxc {

namespace {

struct TaskEnd {
    int index; // -1: the whole list ended
    bool finished, failed;
    std::string message;
};

// Task ends and progress, handed from the workers to the thread that shows and commits them.
class RunEvents {
public:
    void Ended(TaskEnd end)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ends_.push_back(std::move(end));
        }
        changed_.notify_all();
    }
    void Advanced(int index, int64_t doneMs)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[index] = doneMs;
    }
    void Interrupt()
    {
        interrupted_ = true;
        changed_.notify_all();
    }
    bool Interrupted() const { return interrupted_; }

    // Waits a while for a task's end; empty when none came.
    std::optional<TaskEnd> Next(std::chrono::milliseconds wait)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, wait, [this] { return !ends_.empty() || interrupted_; });
        if (ends_.empty())
            return std::nullopt;
        TaskEnd end = std::move(ends_.front());
        ends_.pop_front();
        return end;
    }
    std::map<int, int64_t> Progress()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return done_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TaskEnd> ends_;
    std::map<int, int64_t> done_;
    std::atomic<bool> interrupted_{false};
};

// A conversion of the plan on its way: where it goes, and the file it is written to meanwhile.
struct Job {
    const PlannedFile *file;
    int64_t durationMs = 0;
    std::unique_ptr<SafeOutput> output;
};

struct Counts {
    int converted = 0, skipped = 0, failed = 0, notMedia = 0, stopped = 0;
};

TOutputOptions OutputRecord(const BatchArguments &arguments)
{
    TOutputOptions record;
    record.DisableVideo = true; // a cover picture is carried as a tag, not as a picture stream
    record.DisableSubtitle = true;
    if (arguments.format == "mp3") {
        record.AudioCodec = "libmp3lame";
        if (arguments.bitrateKbps)
            record.AudioBitrate = *arguments.bitrateKbps * 1000;
        else // the encoder's variable bit rate scale, 0 best
            record.ExtOptions = "aq=" + std::to_string(arguments.quality.value_or(BatchArguments::kDefaultQuality));
    } else {
        record.AudioCodec = "pcm_s16le";
    }
    if (arguments.rate)
        record.AudioSampleRate = *arguments.rate;
    if (arguments.channels)
        record.AudioChannels = *arguments.channels;
    return record;
}

// Many inputs are open at once while a part of the batch is set up: as many descriptors as allowed.
void RaiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A name as it is shown: control characters (a newline in a file name) as escapes, one line a file.
std::string Shown(const std::string &name)
{
    std::string shown;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Summary(const Counts &counts)
{
    std::string text = "converted " + std::to_string(counts.converted) + ", skipped " +
                       std::to_string(counts.skipped) + ", failed " + std::to_string(counts.failed);
    if (counts.notMedia > 0)
        text += ", not media " + std::to_string(counts.notMedia);
    if (counts.stopped > 0)
        text += ", stopped " + std::to_string(counts.stopped);
    return text;
}

int PrintPlan(const std::vector<PlannedFile> &plan, bool quiet)
{
    Counts counts;
    for (const PlannedFile &file : plan) {
        switch (file.action) {
        case PlanAction::Convert:
            ++counts.converted;
            if (!quiet)
                std::cout << Shown(file.input) << " -> " << Shown(file.output) << "\n";
            break;
        case PlanAction::Skip:
            ++counts.skipped;
            if (!quiet)
                std::cout << "skip " << Shown(file.input) << " (" << (file.output.empty() ? "" : Shown(file.output) + " ")
                          << file.reason << ")\n";
            break;
        case PlanAction::NotMedia:
            ++counts.notMedia;
            break;
        case PlanAction::Missing:
            ++counts.failed;
            std::cout << "FAIL " << Shown(file.input) << ": " << file.reason << "\n";
            break;
        }
    }
    std::cout << "would convert " << counts.converted << ", skip " << counts.skipped << ", fail " << counts.failed;
    if (counts.notMedia > 0)
        std::cout << ", not media " << counts.notMedia;
    std::cout << "\n";
    return counts.failed > 0 ? kExitFailed : kExitFinished;
}

class BatchRun {
public:
    BatchRun(const BatchArguments &arguments, TVeloxConverter &converter)
        : arguments_(arguments), converter_(converter)
    {
    }

    int Run()
    {
        std::map<std::string, int64_t> durations;
        const std::vector<PlannedFile> plan = MakeBatchPlan(arguments_, [&](const std::string &path) {
            TAVProbe probe;
            if (!probe.LoadFile(path))
                return false;
            const AVFormatContext *context = probe.FormatContext();
            for (unsigned i = 0; i < context->nb_streams; ++i)
                if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                    !(context->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                    durations[path] = context->duration > 0 ? context->duration / 1000 : 0;
                    return true;
                }
            return false;
        });
        if (arguments_.dryRun)
            return PrintPlan(plan, arguments_.quiet);

        int64_t totalMs = 0;
        for (const PlannedFile &file : plan) {
            if (file.action == PlanAction::Convert) {
                jobs_.push_back({&file, durations[file.input], nullptr});
                totalMs += durations[file.input];
            }
        }
        progress_ = std::make_unique<BatchProgress>(std::cerr, isatty(STDERR_FILENO) == 1, arguments_.quiet,
                                                    static_cast<int>(jobs_.size()), totalMs);
        for (const PlannedFile &file : plan)
            ReportUnconverted(file);

        InterruptWatcher watcher([this] { events_.Interrupt(); }, [] { SafeOutput::DiscardAllBeforeAbruptEnd(); });
        converter_.OnProgress = [this](int index, int, int, int currentMs, float, float, int64_t, int) {
            events_.Advanced(index, currentMs);
        };
        converter_.OnTerminate = [this](int index, bool finished, bool failed, const std::string &message) {
            events_.Ended({index, finished, failed, message});
        };
        // A part at a time: each task keeps its input open from the moment it is added.
        const size_t partSize = static_cast<size_t>(std::max(16, arguments_.jobs * 8));
        for (size_t next = 0; next < jobs_.size() && !events_.Interrupted();)
            next = RunPart(next, std::min(jobs_.size(), next + partSize));
        for (size_t i = 0; i < jobs_.size(); ++i)
            if (!done_.count(i))
                ++counts_.stopped; // never started: the stop came first
        progress_.reset();
        std::cerr << Summary(counts_) << "\n";
        if (events_.Interrupted())
            return StoppedBySignal(watcher.Signal() != 0 ? watcher.Signal() : SIGINT);
        return counts_.failed > 0 ? kExitFailed : kExitFinished;
    }

private:
    void ReportUnconverted(const PlannedFile &file)
    {
        switch (file.action) {
        case PlanAction::Skip:
            ++counts_.skipped;
            progress_->Finished(-1, "skip", Shown(file.input) + " (" + file.reason + ")");
            if (!file.output.empty()) // what a killed run left beside an output kept as it is
                SafeOutput::RemoveStaleTemporaries(file.output);
            break;
        case PlanAction::NotMedia:
            ++counts_.notMedia;
            break;
        case PlanAction::Missing:
            ++counts_.failed;
            progress_->Finished(-1, "FAIL", Shown(file.input) + ": " + file.reason);
            break;
        case PlanAction::Convert:
            break;
        }
    }

    void Fail(size_t job, const std::string &reason)
    {
        ++counts_.failed;
        done_.insert(job);
        progress_->Finished(static_cast<int>(job), "FAIL", Shown(jobs_[job].file->input) + ": " + Shown(reason));
        jobs_[job].output.reset();
    }

    // Sets up jobs [first, last) as tasks, runs them, and takes their ends. Returns last.
    size_t RunPart(size_t first, size_t last)
    {
        converter_.ClearTasks();
        taskJobs_.clear();
        const TOutputOptions record = OutputRecord(arguments_);
        for (size_t job = first; job < last; ++job) {
            const PlannedFile &file = *jobs_[job].file;
            try {
                std::error_code ec;
                const fs::path folder = fs::path(file.output).parent_path();
                if (!folder.empty() && !fs::create_directories(folder, ec) && ec)
                    throw std::runtime_error("cannot make the folder '" + folder.string() + "': " + ec.message());
                SafeOutput::RemoveStaleTemporaries(file.output);
                jobs_[job].output = std::make_unique<SafeOutput>(file.output);
            } catch (const std::exception &e) {
                Fail(job, e.what());
                continue;
            }
            TInputOptions inputRecord;
            const int index = converter_.AddInput(file.input, &inputRecord);
            if (index < 0) {
                Fail(job, converter_.LastErrMsg());
                continue;
            }
            TOutputOptions outputRecord = record;
            if (!converter_.AddOutput(index, jobs_[job].output->EngineName(), &outputRecord)) {
                converter_.RemoveTask(index);
                Fail(job, jobs_[job].output->ShowingOutputName(converter_.LastErrMsg()));
                continue;
            }
            taskJobs_[index] = job;
        }
        if (taskJobs_.empty())
            return last;
        for (const auto &[index, job] : taskJobs_)
            progress_->Started(static_cast<int>(job), Shown(fs::path(jobs_[job].file->input).filename().string()),
                               jobs_[job].durationMs);
        converter_.Start(arguments_.jobs);
        bool stopAsked = false;
        for (;;) {
            if (events_.Interrupted() && !stopAsked) {
                stopAsked = true;
                converter_.Stop();
            }
            const std::optional<TaskEnd> end = events_.Next(std::chrono::milliseconds(200));
            for (const auto &[index, doneMs] : events_.Progress())
                if (taskJobs_.count(index))
                    progress_->Advanced(static_cast<int>(taskJobs_[index]), doneMs);
            if (!end) {
                progress_->Draw();
                continue;
            }
            if (end->index < 0)
                break;
            const auto found = taskJobs_.find(end->index);
            if (found != taskJobs_.end())
                Ended(found->second, *end);
        }
        converter_.ClearTasks();
        return last;
    }

    void Ended(size_t job, const TaskEnd &end)
    {
        Job &entry = jobs_[job];
        const std::string &input = entry.file->input;
        if (!end.finished) {
            if (end.failed) {
                Fail(job, entry.output->ShowingOutputName(end.message));
            } else { // stopped: its temporary file goes with it
                done_.insert(job);
                ++counts_.stopped;
                progress_->Finished(static_cast<int>(job), "stop", Shown(input));
                entry.output.reset();
            }
            return;
        }
        std::string note;
        if (!arguments_.noTags) {
            const std::string written = entry.output->Direct() ? entry.file->output : entry.output->TemporaryPath();
            std::string error;
            if (!tagcopy::CopyTags(input, written, error))
                note = " (tags not kept: " + entry.output->ShowingOutputName(error) + ")";
        }
        std::string error;
        if (!entry.output->Commit(error, arguments_.onExists == OnExists::Overwrite)) {
            Fail(job, error);
            return;
        }
        done_.insert(job);
        ++counts_.converted;
        progress_->Finished(static_cast<int>(job), "ok", Shown(input) + " -> " + Shown(entry.file->output) + note);
        entry.output.reset();
    }

    const BatchArguments &arguments_;
    TVeloxConverter &converter_;
    RunEvents events_;
    std::vector<Job> jobs_;
    std::map<int, size_t> taskJobs_; // task index -> job, for the part running
    std::set<size_t> done_;
    Counts counts_;
    std::unique_ptr<BatchProgress> progress_;
};

} // namespace

int BatchCommand(const std::vector<std::string> &words)
{
    BatchArguments arguments;
    std::string error;
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (!ParseBatchArguments(words, cores, arguments, error)) {
        std::cerr << "veloxc: " << error << "\nTry 'veloxc batch --help'.\n";
        return kExitUsage;
    }
    if (arguments.help) {
        std::cout << kBatchUsage;
        return kExitFinished;
    }
    if (arguments.version) {
        std::cout << kVersionLine << "\n";
        return kExitFinished;
    }
    try {
        RaiseOpenFileLimit();
        TVeloxConverter converter;
        converter.SetLogLevel(llQuiet); // each failure is told once, with its file, by the batch
        if (!converter.LoadAVLib(avlib::DefaultLibraryDir(), true)) {
            std::cerr << "veloxc: " << converter.LastErrMsg() << "\n";
            return kExitFailed;
        }
        BatchRun run(arguments, converter);
        return run.Run();
    } catch (const std::exception &e) {
        std::cerr << "veloxc: " << e.what() << "\n";
        return kExitFailed;
    }
}

} // namespace veloxc
