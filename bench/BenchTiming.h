#pragma once

#include <QElapsedTimer>
#include <algorithm>
#include <functional>
#include <vector>

// Timing helpers shared by the benchmarks. Medians, not means: a benchmark shares the machine
// with whatever else runs, and one slow round must not move the figure.
namespace quorin::bench {

inline double median(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Milliseconds one call of the work takes.
inline double elapsedMs(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// Median milliseconds of one call over the given number of rounds.
inline double medianMs(int rounds, const std::function<void()> &work)
{
    std::vector<double> samples;
    samples.reserve(std::size_t(rounds));
    for (int round = 0; round < rounds; ++round)
        samples.push_back(elapsedMs(work));
    return median(std::move(samples));
}

} // namespace quorin::bench
