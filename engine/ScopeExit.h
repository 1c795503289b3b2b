// Runs an action when the scope ends, on every way out.
#pragma once

#include <utility>

template <typename Action>
class ScopeExit {
public:
    explicit ScopeExit(Action action) : action_(std::move(action)) {}
    ~ScopeExit()
    {
        if (active_)
            action_();
    }
    ScopeExit(const ScopeExit &) = delete;
    ScopeExit &operator=(const ScopeExit &) = delete;
    // The action will not run.
    void Dismiss() { active_ = false; }

private:
    Action action_;
    bool active_ = true;
};
