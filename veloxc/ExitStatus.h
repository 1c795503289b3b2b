// Exit statuses of veloxc, kept meaningful for scripts.
#pragma once

namespace veloxc {

constexpr int kExitFinished = 0;
constexpr int kExitFailed = 1; // the work could not be set up or did not finish
constexpr int kExitUsage = 2;  // the command line or an engine option was refused

// A run that a signal stopped, as shells report a program that signal ended.
constexpr int StoppedBySignal(int signal) { return 128 + signal; }

} // namespace veloxc
