// The process-wide part of the converter component: the list of every component that exists, the
// library log callback that assembles complete lines per thread and hands each line to every
// component, and the lock each component serialises its events with.
//
// Lock order: the instance list first, then a component's lock. A thread that holds a component's
// lock never waits for the instance list: library lines it logs meanwhile (from an event handler,
// say) are kept and routed as soon as it holds no component's lock any more.
#pragma once

#include <exception>
#include <string>

#include <cstdarg>
#include <cstddef>
#include <mutex>

class TCustomMediavane;

namespace log_routing {

// The line buffer: a line, prefix included, is at most kLineBufferSize - 1 bytes.
constexpr size_t kLineBufferSize = 2048;

// Components at run time; a component that is listed receives every library line.
void AddInstance(TCustomMediavane *component);
void RemoveInstance(TCustomMediavane *component);

// The callback av_log_set_callback installs. Lines above the process-wide threshold are dropped
// before any lock is taken.
void LibraryLogCallback(void *context, int level, const char *format, va_list args);

// Drops every thread's unfinished line.
void ClearLogQueue();

// The engine's level (-1 quiet, 0 errors, 1 information, 2 debug, 3 all) of a library level
// (AV_LOG_*): the inverse of avlib::LibraryLogLevel, warnings counting as information.
int EngineLogLevel(int libraryLevel);

// Hands complete lines to the listed components (a friend of the component class).
class TRouter;

// A component's lock (recursive: its events may call Stop, Pause or Resume). Meets BasicLockable.
class TComponentLock {
public:
    void lock();
    void unlock();

private:
    std::recursive_mutex mutex_;
};

// The text of a caught exception, whatever its type.
std::string ExceptionText(std::exception_ptr raised);

} // namespace log_routing
