// Cores shared by the tasks of one converter. Each running task uses one; while no task waits
// for one, a task may borrow the idle ones for a while.
#pragma once

#include <mutex>

class TCoreBudget {
public:
    explicit TCoreBudget(int cores = 1, int running = 0) : Cores(cores), Running(running) {}

    // How many cores there are, how many tasks run on them, and whether tasks wait for one
    // (those come first).
    void Set(int cores, int running, bool waiting)
    {
        std::lock_guard lock(Lock);
        Cores = cores;
        Running = running;
        Waiting = waiting;
    }
    bool MayShare() const
    {
        std::lock_guard lock(Lock);
        return !Waiting && Cores > 1;
    }
    bool TryBorrow()
    {
        std::lock_guard lock(Lock);
        if (Waiting || Running + Borrowed >= Cores)
            return false;
        ++Borrowed;
        return true;
    }
    void GiveBack()
    {
        std::lock_guard lock(Lock);
        --Borrowed;
    }

private:
    mutable std::mutex Lock;
    int Cores;
    int Running = 0;
    int Borrowed = 0;
    bool Waiting = false;
};
