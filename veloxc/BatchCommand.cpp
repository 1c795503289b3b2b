#include "veloxc/BatchCommand.h"

#include "batch/SafeOutput.h"
#include "batch/TagCarry.h"
#include "component/FFmpegList.h"
#include "component/FormatQuality.h"
#include "component/VeloxConverter.h"
#include "engine/AudioShape.h"
#include "libs/AVEntryPoints.h"
#include "libs/MediaUrl.h"
#include "probe/MediaCheck.h"
#include "tags/TagCopy.h"
#include "veloxc/BatchArguments.h"
#include "veloxc/BatchPlan.h"
#include "veloxc/BatchProgress.h"
#include "veloxc/BookkeepingThread.h"
#include "veloxc/ExitStatus.h"
#include "veloxc/InterruptWatcher.h"
#include "veloxc/Version.h"
#include "veloxc/VisibleText.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace veloxc {

using namespace batch;
using probe::CheckSoundFile;
using probe::SoundFile;

namespace {

struct TaskEnd {
    int slot;  // which of the alternating converters
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
    void Advanced(int slot, int index, int64_t doneMs)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[{slot, index}] = doneMs;
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
    // The progress told since the last call: taken, so that what is handed on stays as small as
    // the tasks that moved, not as large as the batch.
    std::map<std::pair<int, int>, int64_t> TakeProgress()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(done_, {});
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TaskEnd> ends_;
    std::map<std::pair<int, int>, int64_t> done_; // by converter and task
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
    // An encoder takes the samples as the source has them (16-bit, 32-bit or float) where it can;
    // a WAV or AIFF keeps the source's depth and kind unless --bits asks for one.
    SetOutputFormat(record, arguments.Format(), arguments.Quality());
    if (arguments.bits)
        record.AudioCodec = BatchArguments::WaveCodecOfBits(*arguments.bits);
    if (arguments.rate)
        record.AudioSampleRate = *arguments.rate;
    if (arguments.channels)
        record.AudioChannels = *arguments.channels;
    return record;
}

// Many inputs are open at once while a part of the batch is set up: as many descriptors as
// allowed. Returns the limit now in force.
rlim_t RaiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 1024;
    if (limit.rlim_cur < limit.rlim_max) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            limit.rlim_cur = before;
    }
    return limit.rlim_cur;
}

// Descriptors kept for the standard files, the signal watch, the tags and the libraries.
constexpr rlim_t kReservedFiles = 48;

// Files set up at once in each of the two parts: each holds its input, its output's folder, its
// temporary file and the engine's own opening of it. Never more than the open-file limit takes,
// never less than one.
size_t PartSize(rlim_t openFileLimit, int jobs)
{
    constexpr rlim_t kPerFile = 4;
    const rlim_t fitting = openFileLimit > kReservedFiles ? (openFileLimit - kReservedFiles) / (2 * kPerFile) : 1;
    const size_t wanted = static_cast<size_t>(std::max(64, jobs * 16));
    return std::clamp<size_t>(static_cast<size_t>(std::min<rlim_t>(fitting, wanted)), 1, wanted);
}

// Threads telling media from other files, each with a file or two open at once.
int CheckThreads(rlim_t openFileLimit, int jobs)
{
    const rlim_t fitting = openFileLimit > kReservedFiles ? (openFileLimit - kReservedFiles) / 2 : 1;
    return static_cast<int>(std::clamp<rlim_t>(fitting, 1, static_cast<rlim_t>(jobs)));
}

// The input an existing output records; empty when none.
std::string RecordedSource(const std::string &output)
{
    std::string name, error;
    UniqueFd folder;
    return tagcopy::ReadSourceName(OneCallPath(output, folder), name, error) ? name : std::string();
}

std::string Summary(const Counts &counts)
{
    std::string text = "converted " + std::to_string(counts.converted) + ", skipped " + std::to_string(counts.skipped) +
                       ", failed " + std::to_string(counts.failed);
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
                std::cout << Visible(file.input) << " -> " << Visible(file.output) << "\n";
            break;
        case PlanAction::Skip:
            ++counts.skipped;
            if (!quiet)
                std::cout << "skip " << Visible(file.input) << " ("
                          << (file.output.empty() ? "" : Visible(file.output) + " ") << file.reason << ")\n";
            break;
        case PlanAction::NotMedia:
            ++counts.notMedia;
            break;
        case PlanAction::Missing:
            ++counts.failed;
            std::cout << "FAIL " << Visible(file.input) << ": " << file.reason << "\n";
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
    BatchRun(const BatchArguments &arguments, rlim_t openFileLimit)
        : arguments_(arguments), partSize_(PartSize(openFileLimit, arguments.jobs)),
          checkThreads_(CheckThreads(openFileLimit, arguments.jobs))
    {
    }

    // The converters, with the media libraries; false with the loader's text.
    bool Load(std::string &error)
    {
        for (int id = 0; id < 2; ++id) {
            Slot &slot = slots_[id];
            slot.converter = std::make_unique<TVeloxConverter>();
            slot.converter->SetShareIdleWorkers(!arguments_.noSegments);
            slot.converter->SetLogLevel(llQuiet); // each failure is told once, with its file, by the batch
            if (!slot.converter->LoadAVLib(TVeloxConverter::DefaultAVLibFolder(), true)) {
                error = slot.converter->LastErrMsg();
                return false;
            }
            slot.converter->OnProgress = [this, id](int index, int, int, int currentMs, float, float, int64_t, int) {
                events_.Advanced(id, index, currentMs);
            };
            slot.converter->OnTerminate = [this, id](int index, bool finished, bool failed,
                                                     const std::string &message) {
                events_.Ended({id, index, finished, failed, message});
            };
        }
        return true;
    }

    int Run()
    {
        std::mutex soundsLock;
        const auto isSound = [&](const std::string &path) {
            SoundFile found;
            if (!CheckSoundFile(path, found))
                return false;
            std::lock_guard<std::mutex> lock(soundsLock);
            sounds_[path] = found;
            return true;
        };
        const std::vector<PlannedFile> plan = MakeBatchPlan(arguments_, isSound, checkThreads_, RecordedSource);
        if (arguments_.dryRun)
            return PrintPlan(plan, arguments_.quiet);

        int64_t totalMs = 0;
        for (const PlannedFile &file : plan) {
            if (file.action == PlanAction::Convert) {
                jobs_.push_back({&file, sounds_[file.input].durationMs, nullptr});
                totalMs += sounds_[file.input].durationMs;
            }
        }
        progress_ = std::make_unique<BatchProgress>(std::cerr, isatty(STDERR_FILENO) == 1, arguments_.quiet,
                                                    static_cast<int>(jobs_.size()), totalMs);
        for (const PlannedFile &file : plan)
            ReportUnconverted(file);
        // What a killed run left where the outputs go, those to be made and those kept; never an input.
        std::vector<std::string> outputs, inputs;
        for (const PlannedFile &file : plan) {
            if (!file.output.empty())
                outputs.push_back(file.output);
            inputs.push_back(file.input);
        }
        for (const std::string &note : SafeOutput::RemoveStaleTemporaries(outputs, inputs).notes)
            progress_->Finished(-1, "note", Visible(note));
        if (!arguments_.noTags && !arguments_.Format().HoldsTags() && !jobs_.empty())
            progress_->Finished(-1, "note",
                                std::string("tags are not kept in ") + arguments_.Format().displayName + " files");

        InterruptWatcher watcher([this] { events_.Interrupt(); }, [] { SafeOutput::DiscardAllBeforeAbruptEnd(); });
        BookkeepingThread bookkeeping;
        // A part at a time, as each task keeps its input open from the moment it is added; two
        // converters take turns, so that the next part is set up while the current one runs.
        size_t next = 0;
        const auto prepareNext = [&](Slot &slot) {
            if (next < jobs_.size() && !events_.Interrupted())
                next = Prepare(slot, next, std::min(jobs_.size(), next + partSize_));
        };
        int current = 0;
        prepareNext(slots_[current]);
        while (!events_.Interrupted() && (!slots_[current].taskJobs.empty() || next < jobs_.size())) {
            if (slots_[current].taskJobs.empty()) { // every file of the part failed to be set up
                prepareNext(slots_[current]);
                continue;
            }
            bookkeeping.AsOrdinary([&] { Start(slots_[current]); });
            CommitEnded(); // the part before: its files are kept while this one runs
            prepareNext(slots_[1 - current]);
            WaitForEnd(current);
            current = 1 - current;
        }
        CommitEnded();
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
            progress_->Finished(-1, "skip", Visible(file.input) + " (" + file.reason + ")");
            break;
        case PlanAction::NotMedia:
            ++counts_.notMedia;
            break;
        case PlanAction::Missing:
            ++counts_.failed;
            progress_->Finished(-1, "FAIL", Visible(file.input) + ": " + file.reason);
            break;
        case PlanAction::Convert:
            break;
        }
    }

    void Fail(size_t job, const std::string &reason)
    {
        ++counts_.failed;
        done_.insert(job);
        progress_->Finished(static_cast<int>(job), "FAIL", Visible(jobs_[job].file->input) + ": " + Visible(reason));
        jobs_[job].output.reset();
    }

    void Skip(size_t job, const std::string &reason)
    {
        ++counts_.skipped;
        done_.insert(job);
        progress_->Finished(static_cast<int>(job), "skip", Visible(jobs_[job].file->input) + " (" + reason + ")");
        jobs_[job].output.reset();
    }

    // A converter with its tasks, and the job each task is.
    struct Slot {
        std::unique_ptr<TVeloxConverter> converter;
        std::map<int, size_t> taskJobs;
    };

    // Sets up jobs [first, last) as the tasks of the slot's converter. Returns last.
    size_t Prepare(Slot &slot, size_t first, size_t last)
    {
        TVeloxConverter &converter = *slot.converter;
        converter.ClearTasks();
        slot.taskJobs.clear();
        const TOutputOptions record = OutputRecord(arguments_);
        for (size_t job = first; job < last; ++job) {
            const PlannedFile &file = *jobs_[job].file;
            struct stat existing {};
            if (arguments_.onExists == OnExists::Skip && StatAt(file.output, existing, false)) {
                Skip(job, "exists"); // made since the plan, by another run
                continue;
            }
            try {
                jobs_[job].output = std::make_unique<SafeOutput>(SafeOutput::PlainFile{}, file.output);
                // Links made since the plan may lead two outputs to one file: the later one waits.
                if (!destinations_.insert(jobs_[job].output->DestinationKey()).second)
                    throw std::runtime_error("'" + file.output +
                                             "' leads to the output of another input; it is left as it was");
            } catch (const BeingConverted &) {
                Skip(job, "being converted by another run");
                continue;
            } catch (const std::exception &e) {
                Fail(job, e.what());
                continue;
            }
            // The format found when the plan was made: the file is not probed again.
            TInputOptions inputRecord;
            inputRecord.FileFormat = sounds_[file.input].format;
            // A WAV header tells all; the library would otherwise read up to megabytes looking for
            // compressed sound inside the samples, with every format's detector, file after file.
            // For plain samples the first packet is looked at once, which costs as much as
            // encoding a short file otherwise.
            if (inputRecord.FileFormat == "wav")
                inputRecord.ExtOptions = sounds_[file.input].plainPcm ? "probesize=4096" : "probesize=16384";
            const int index = converter.AddInput(FileUrl(file.input), &inputRecord);
            if (index < 0) {
                Fail(job, converter.LastErrMsg());
                continue;
            }
            TOutputOptions outputRecord = record;
            if (!converter.AddOutput(index, jobs_[job].output->EngineName(), &outputRecord)) {
                converter.RemoveTask(index);
                Fail(job, jobs_[job].output->ShowingOutputName(converter.LastErrMsg()));
                continue;
            }
            slot.taskJobs[index] = job;
        }
        return last;
    }

    void Start(Slot &slot)
    {
        for (const auto &[index, job] : slot.taskJobs)
            progress_->Started(static_cast<int>(job), Visible(fs::path(jobs_[job].file->input).filename().string()),
                               jobs_[job].durationMs);
        slot.converter->Start(arguments_.jobs);
    }

    // Takes the ends of the running slot's tasks until its whole list has ended. Their files are
    // kept (tags, sync, rename) while no other end is waiting, so the list's own end is seen as
    // soon as it comes and the next part starts without waiting for them.
    void WaitForEnd(int running)
    {
        Slot &slot = slots_[running];
        bool stopAsked = false;
        for (;;) {
            if (events_.Interrupted() && !stopAsked) {
                stopAsked = true;
                slot.converter->Stop();
            }
            const auto wait = ended_.empty() ? std::chrono::milliseconds(200) : std::chrono::milliseconds(0);
            const std::optional<TaskEnd> end = events_.Next(wait);
            for (const auto &[task, doneMs] : events_.TakeProgress())
                if (task.first == running && slot.taskJobs.count(task.second))
                    progress_->Advanced(static_cast<int>(slot.taskJobs[task.second]), doneMs);
            if (!end) {
                if (ended_.empty())
                    progress_->Draw();
                else
                    CommitOne();
                continue;
            }
            if (end->slot != running)
                continue; // the other converter is not started: nothing of it can end
            if (end->index < 0)
                break;
            const auto found = slot.taskJobs.find(end->index);
            if (found != slot.taskJobs.end())
                ended_.push_back({found->second, *end});
        }
        slot.converter->ClearTasks();
        slot.taskJobs.clear();
    }

    void CommitOne()
    {
        const auto [job, end] = std::move(ended_.front());
        ended_.pop_front();
        Ended(job, end);
    }

    void CommitEnded()
    {
        while (!ended_.empty())
            CommitOne();
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
                progress_->Finished(static_cast<int>(job), "stop", Visible(input));
                entry.output.reset();
            }
            return;
        }
        // The output records its input, so that the input keeps this name in later runs.
        std::string note, error;
        if (!batch::CarryTags(input, entry.output->TemporaryPath(),
                              {!arguments_.noTags, SourceRecordOf(input, entry.file->output)}, note, error)) {
            Fail(job, entry.output->ShowingOutputName(error));
            return;
        }
        if (!end.message.empty()) // a finished task's settings used instead of those asked
            note = " (" + end.message + ")" + note;
        note = entry.output->ShowingOutputName(note);
        if (!entry.output->Commit(error, arguments_.onExists == OnExists::Overwrite)) {
            // Another run on the same tree finished the same input first.
            if (entry.output->Appeared() &&
                RecordedSource(entry.file->output) == SourceRecordOf(input, entry.file->output))
                Skip(job, "converted by another run meanwhile");
            else
                Fail(job, error);
            return;
        }
        done_.insert(job);
        ++counts_.converted;
        progress_->Finished(static_cast<int>(job), "ok", Visible(input) + " -> " + Visible(entry.file->output) + note);
        entry.output.reset();
    }

    const BatchArguments &arguments_;
    const size_t partSize_;
    const int checkThreads_;
    RunEvents events_;
    std::vector<Job> jobs_;
    std::map<std::string, SoundFile> sounds_; // what the plan found of each input with sound
    std::set<size_t> done_;
    std::set<std::string> destinations_;           // of every output made so far
    std::deque<std::pair<size_t, TaskEnd>> ended_; // tasks that ended, by job, not yet reported
    Counts counts_;
    std::unique_ptr<BatchProgress> progress_;
    // Last: the converters go first, before the outputs and events their tasks use.
    Slot slots_[2];
};

// The format's encoder is there and takes the rate asked for, before any file is touched.
int CheckEncoder(const BatchArguments &arguments)
{
    const batch::OutputFormat &format = arguments.Format();
    if (!format.encoder)
        return kExitFinished;
    const AVCodec *encoder = avlib::avcodec.avcodec_find_encoder_by_name(format.encoder);
    if (!encoder) {
        std::cerr << "veloxc: the media libraries here have no " << format.encoder << " encoder, which " << format.name
                  << " needs\n";
        return kExitFailed;
    }
    if (arguments.rate && !audio_shape::TakesRate(encoder, *arguments.rate)) {
        std::cerr << "veloxc: --rate " << *arguments.rate << " is no " << format.name << " rate ("
                  << audio_shape::ListRates(encoder) << ")\nTry 'veloxc batch --help'.\n";
        return kExitUsage;
    }
    return kExitFinished;
}

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
        BatchRun run(arguments, RaiseOpenFileLimit());
        if (!run.Load(error)) {
            std::cerr << "veloxc: " << error << "\n";
            return kExitFailed;
        }
        if (const int refused = CheckEncoder(arguments); refused != kExitFinished)
            return refused;
        return run.Run();
    } catch (const std::exception &e) {
        std::cerr << "veloxc: " << e.what() << "\n";
        return kExitFailed;
    }
}

} // namespace veloxc
