#include "component/FFmpegList.h"

#include "batch/SafeOutput.h"
#include "component/OptionTranslation.h"

#include <stdexcept>
#include <string>

TFFmpeg::TFFmpeg()
{
    option_translation::InitInputOptions(InputOptions);
    option_translation::InitOutputOptions(OutputOptions);
}

TFFmpeg::~TFFmpeg()
{
    // The run ends before the probe and the records it may still use go.
    StopAndWait();
}

void TFFmpeg::ReleasingInputs() { Probe.Close(); }

TFFmpegList::~TFFmpegList() { Clear(); }

void TFFmpegList::CheckIndex(int i) const
{
    if (i < 0 || i >= Count())
        throw std::out_of_range("task index " + std::to_string(i) + " out of range (" + std::to_string(Count()) +
                                (Count() == 1 ? " task)" : " tasks)"));
}

TFFmpeg &TFFmpegList::Items(int i) const
{
    CheckIndex(i);
    return *items_[i];
}

int TFFmpegList::Add(std::unique_ptr<TFFmpeg> task)
{
    const int index = Count();
    task->TaskIndex = index;
    items_.push_back(std::move(task));
    return index;
}

void TFFmpegList::Delete(int i)
{
    CheckIndex(i);
    items_[i].reset();
    items_.erase(items_.begin() + i);
    for (int j = i; j < Count(); ++j)
        items_[j]->TaskIndex = j;
}

std::unique_ptr<TFFmpeg> TFFmpegList::Take(int i)
{
    CheckIndex(i);
    std::unique_ptr<TFFmpeg> task = std::move(items_[i]);
    items_.erase(items_.begin() + i);
    for (int j = i; j < Count(); ++j)
        items_[j]->TaskIndex = j;
    return task;
}

std::vector<std::unique_ptr<TFFmpeg>> TFFmpegList::TakeAll()
{
    std::vector<std::unique_ptr<TFFmpeg>> tasks;
    tasks.swap(items_);
    return tasks;
}

void TFFmpegList::Clear()
{
    for (auto &task : items_)
        task.reset();
    items_.clear();
}

TFFmpeg *TFFmpegList::FindByThread(std::thread::id id) const
{
    for (const auto &task : items_)
        if (task && task->ThreadID.load() == id)
            return task.get();
    return nullptr;
}
