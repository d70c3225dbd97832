#pragma once

#include <cstddef>
#include <future>

// Calls work(i) for every i below count, the upper half of them on another thread: work(i) may
// only change what is i's own. A few items are not worth a thread.
template <typename Work> void forEachIndex(std::size_t count, const Work& work)
{
    constexpr std::size_t kWorthAThread = 256;
    const std::size_t half = count < kWorthAThread ? count : count / 2;
    std::future<void> upper;
    if (half < count) {
        upper = std::async(std::launch::async, [&work, half, count] {
            for (std::size_t i = half; i < count; ++i)
                work(i);
        });
    }
    for (std::size_t i = 0; i < half; ++i)
        work(i);
    if (upper.valid())
        upper.get();
}
