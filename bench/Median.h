// The median of a benchmark's timings: steadier than the mean on a machine that is doing other work.
#pragma once

#include <algorithm>
#include <vector>

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
