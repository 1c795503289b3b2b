#include "component/LogRouting.h"

#include "component/VeloxConverter.h"
#include "libs/FFmpegIncludes.h"
#include "libs/LibraryLog.h"

#include <QtGlobal>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace log_routing {

namespace {

// One thread's unfinished line.
struct TLogItem {
    std::thread::id ThreadID; // no thread: the embedded entry is free
    std::string Text;         // the thread's output after its last line break
    std::unique_ptr<TLogItem> Next;
};

// Unfinished lines, one entry per thread: the first is embedded, the others are chained behind it.
class TLogList {
public:
    TLogList() = default;
    TLogList(const TLogList &) = delete;
    TLogList &operator=(const TLogList &) = delete;
    ~TLogList() { Clear(); }

    TLogItem &EntryOf(std::thread::id thread)
    {
        if (First.ThreadID == std::thread::id() || First.ThreadID == thread) {
            First.ThreadID = thread;
            return First;
        }
        for (TLogItem *item = First.Next.get(); item; item = item->Next.get())
            if (item->ThreadID == thread)
                return *item;
        auto item = std::make_unique<TLogItem>();
        item->ThreadID = thread;
        item->Next = std::move(First.Next);
        First.Next = std::move(item);
        return *First.Next;
    }

    void Clear()
    {
        First.ThreadID = std::thread::id();
        First.Text.clear();
        // One entry at a time: a long chain must not free itself recursively.
        std::unique_ptr<TLogItem> next = std::move(First.Next);
        while (next)
            next = std::move(next->Next);
    }

private:
    TLogItem First;
};

struct TLine {
    int Level; // engine level
    std::string Text;
};

struct TInstanceList {
    // Recursive: a handler called during the routing may destroy a component.
    std::recursive_mutex Mutex;
    std::vector<TCustomMediavane *> Items;
};

TInstanceList &Instances()
{
    static TInstanceList list;
    return list;
}

// A leaf lock: nothing else is taken while it is held, so Start and the final event may clear
// the queue under a component's lock.
struct TLogQueue {
    std::mutex Mutex;
    TLogList List;
};

TLogQueue &Queue()
{
    static TLogQueue queue;
    return queue;
}

struct TThreadState {
    int LockDepth = 0;       // component locks this thread holds
    bool Routing = false;    // this thread holds the instance list and hands lines out
    std::vector<TLine> Kept; // lines logged meanwhile, routed once both are over
};

thread_local TThreadState threadState;

// Splits the thread's unfinished text plus this message into complete lines; keeps the rest.
std::vector<TLine> AssembleLines(void *context, int level, const char *format, va_list args)
{
    const int engineLevel = EngineLogLevel(level);
    char buffer[kLineBufferSize] = {};
    std::vector<TLine> lines;
    std::lock_guard<std::mutex> hold(Queue().Mutex);
    TLogItem &entry = Queue().List.EntryOf(std::this_thread::get_id());
    const AVClass *avc = context ? *static_cast<const AVClass *const *>(context) : nullptr;
    if (avc && entry.Text.empty()) {
        const char *name = avc->item_name ? avc->item_name(context) : avc->class_name;
        std::snprintf(buffer, sizeof buffer, "[%s @ %08" PRIXPTR "]", name ? name : "",
                      reinterpret_cast<uintptr_t>(avc));
    } else {
        std::memcpy(buffer, entry.Text.data(), std::min(entry.Text.size(), sizeof buffer - 1));
    }
    const size_t used = std::strlen(buffer);
    const size_t room = sizeof buffer - used;
    const int wanted = std::vsnprintf(buffer + used, room, format, args);
    // A line that fills the buffer ends there and the rest of its message is lost; kept as an
    // unfinished line it would block every later message of the thread.
    const bool full = wanted >= 0 && static_cast<size_t>(wanted) >= room;

    const std::string text(buffer);
    size_t start = 0;
    for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1)
        lines.push_back({engineLevel, text.substr(start, lf - start)});
    entry.Text = text.substr(start);
    if (full && !entry.Text.empty()) {
        lines.push_back({engineLevel, std::move(entry.Text)});
        entry.Text.clear();
    }
    return lines;
}

std::vector<TLine> TakeKept(TThreadState &state)
{
    std::vector<TLine> kept;
    kept.swap(state.Kept);
    return kept;
}

} // namespace

// Hands lines to the components; a friend of the component class.
class TRouter {
public:
    static void Route(std::vector<TLine> lines) noexcept
    {
        TThreadState &state = threadState;
        state.Routing = true;
        const std::thread::id self = std::this_thread::get_id();
        try {
            TInstanceList &instances = Instances();
            std::lock_guard<std::recursive_mutex> hold(instances.Mutex);
            while (!lines.empty()) {
                for (const TLine &line : lines)
                    for (size_t i = 0; i < instances.Items.size(); ++i) // by position: a handler may remove one
                        Deliver(*instances.Items[i], self, line);
                lines = TakeKept(state); // what the handlers logged
            }
        } catch (...) {
            qWarning("Library log line lost: %s", ExceptionText(std::current_exception()).c_str());
        }
        state.Routing = false;
    }

private:
    static void Deliver(TCustomMediavane &component, std::thread::id thread, const TLine &line)
    {
        // The library called us: nothing may travel back through its frames.
        try {
            component.RouteLibraryLine(thread, line.Level, line.Text);
        } catch (...) {
            qWarning("Log event handler failed: %s", ExceptionText(std::current_exception()).c_str());
        }
    }
};

std::string ExceptionText(std::exception_ptr raised)
{
    try {
        std::rethrow_exception(raised);
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

void AddInstance(TCustomMediavane *component)
{
    TInstanceList &instances = Instances();
    std::lock_guard<std::recursive_mutex> hold(instances.Mutex);
    instances.Items.push_back(component);
}

void RemoveInstance(TCustomMediavane *component)
{
    TInstanceList &instances = Instances();
    std::lock_guard<std::recursive_mutex> hold(instances.Mutex);
    std::erase(instances.Items, component);
}

void LibraryLogCallback(void *context, int level, const char *format, va_list args)
{
    if (avlib::LogThreshold() < level)
        return;
    std::vector<TLine> lines;
    try {
        lines = AssembleLines(context, level, format, args);
    } catch (...) {
        return; // out of memory: the line is lost, the library goes on
    }
    if (lines.empty())
        return;
    TThreadState &state = threadState;
    if (state.LockDepth > 0 || state.Routing) {
        for (TLine &line : lines)
            state.Kept.push_back(std::move(line));
        return;
    }
    TRouter::Route(std::move(lines));
}

void ClearLogQueue()
{
    std::lock_guard<std::mutex> hold(Queue().Mutex);
    Queue().List.Clear();
}

int EngineLogLevel(int libraryLevel)
{
    if (libraryLevel < AV_LOG_PANIC)
        return -1;
    if (libraryLevel <= AV_LOG_ERROR)
        return 0;
    if (libraryLevel <= AV_LOG_INFO)
        return 1;
    if (libraryLevel <= AV_LOG_DEBUG)
        return 2;
    return 3;
}

void TComponentLock::lock()
{
    mutex_.lock();
    ++threadState.LockDepth;
}

void TComponentLock::unlock()
{
    TThreadState &state = threadState;
    --state.LockDepth;
    mutex_.unlock();
    if (state.LockDepth == 0 && !state.Routing && !state.Kept.empty())
        TRouter::Route(TakeKept(state));
}

} // namespace log_routing
