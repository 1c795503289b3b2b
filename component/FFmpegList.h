// The converter's tasks: one engine per input file, and the list that owns them.
#pragma once

#include "component/ConverterTypes.h"
#include "engine/FFmpeg.h"
#include "probe/AVProbe.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

// One conversion task: an engine with the records it was given and a probe of its input.
// Read Probe only while the task does not run; once its run has ended the probe shows nothing.
namespace batch {
class SafeOutput;
}

class TFFmpeg : public TCustomFFmpeg {
public:
    TFFmpeg();
    ~TFFmpeg() override;

    int32_t TaskIndex = -1; // position in the owner's list, the AIndex of its events; -1 until added
    // Thread the task runs on, for routing library log lines; no thread until started. Written
    // under the component's lock, read by whichever thread logs.
    std::atomic<std::thread::id> ThreadID;
    TInputOptions InputOptions;        // copy of the record given to AddInput
    TOutputOptions OutputOptions;      // copy of the record given to AddOutput
    std::string InputName, OutputName; // the names given to AddInput and AddOutput
    // With the component's SafeOutputs: the output being written, from the job's start to its end.
    std::unique_ptr<batch::SafeOutput> Output;
    TAVProbe Probe; // attached to the task's input once it is open

protected:
    // The input the probe looks at is about to go: the probe lets go of it first.
    void ReleasingInputs() override;
};

// The owned list of tasks; each task's TaskIndex is its position.
class TFFmpegList {
public:
    TFFmpegList() = default;
    ~TFFmpegList();
    TFFmpegList(const TFFmpegList &) = delete;
    TFFmpegList &operator=(const TFFmpegList &) = delete;

    // Throws std::out_of_range when i is not a position in the list.
    TFFmpeg &Items(int i) const;
    int Count() const { return static_cast<int>(items_.size()); }
    // Appends the task and sets its TaskIndex; returns the position.
    int Add(std::unique_ptr<TFFmpeg> task);
    // Frees task i (which stops its run first); later tasks move down and take their new index.
    void Delete(int i);
    // Frees every task, then empties the list.
    void Clear();
    // Removes task i from the list without freeing it; later tasks move down and take their index.
    std::unique_ptr<TFFmpeg> Take(int i);
    // Removes every task without freeing it.
    std::vector<std::unique_ptr<TFFmpeg>> TakeAll();
    // The first task running on thread id, or nullptr.
    TFFmpeg *FindByThread(std::thread::id id) const;

private:
    void CheckIndex(int i) const;

    std::vector<std::unique_ptr<TFFmpeg>> items_;
};
