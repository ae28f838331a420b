#pragma once
// A bounded wait for what a test expects to happen: it polls until the
// condition holds or the time is up, so that a test lasts as long as the
// event takes rather than as long as a guess.

#include <chrono>
#include <thread>

// Polls `done` every 10 ms, running `between` (the shell pumps its event
// loop there) between polls; whether `done` held within `timeoutSeconds`.
template <class Pred, class Between>
bool WaitUntil(Pred done, double timeoutSeconds, Between between) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
    while (!done()) {
        if (Clock::now() >= end) return false;
        between();
    }
    return true;
}

template <class Pred>
bool WaitUntil(Pred done, double timeoutSeconds) {
    return WaitUntil(done, timeoutSeconds, [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); });
}
