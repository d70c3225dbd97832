#pragma once

#include <cstddef>
#include <future>
#include <system_error>
#include <type_traits>

// Starts work on another thread. When no thread can be had the future is not valid, and the
// work is the caller's to do.
template <typename Work> std::future<std::invoke_result_t<Work>> startBeside(Work work)
{
    try {
        return std::async(std::launch::async, std::move(work));
    } catch (const std::system_error&) {
        return {};
    }
}

// Calls work(i) for every i below count, the upper half of them on another thread: work(i) may
// only change what is i's own. A few items are not worth a thread.
template <typename Work> void forEachIndex(std::size_t count, const Work& work)
{
    constexpr std::size_t kWorthAThread = 256;
    const auto range = [&work](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            work(i);
    };
    const std::size_t half = count < kWorthAThread ? count : count / 2;
    std::future<void> upper;
    if (half < count)
        upper = startBeside([&range, half, count] { range(half, count); });
    range(0, half);
    if (upper.valid())
        upper.get();
    else
        range(half, count);
}
