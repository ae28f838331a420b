#pragma once
// "lumora --repair FILE": repairs an unfinished recording from the command
// line, without a window (it needs no display), before any of Qt starts.

#include <optional>
#include <string>

// Exit codes of the repair.
inline constexpr int kRepairDone = 0;
inline constexpr int kRepairRefused = 1;  // not a recording of ours, or it could not be read or repaired
inline constexpr int kRepairNotNeeded = 2;

// The exit code when the arguments ask for a repair (which is then done,
// with one line of text on the standard output or error); nothing otherwise.
std::optional<int> RunRepairCommand(int argc, char** argv);
