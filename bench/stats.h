// Percentiles of a sample of durations, for the benchmark's table.
#pragma once

#include <algorithm>
#include <vector>

struct Summary {
    double p50 = 0, p99 = 0, max = 0;
    std::size_t count = 0;
};

// Nearest-rank percentiles of values (taken by copy: sorting is the caller's loss).
inline Summary summarize(std::vector<double> values) {
    Summary s;
    s.count = values.size();
    if (values.empty()) {
        return s;
    }
    std::sort(values.begin(), values.end());
    auto rank = [&](double p) {
        const auto i = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
        return values[std::min(i, values.size() - 1)];
    };
    s.p50 = rank(0.50);
    s.p99 = rank(0.99);
    s.max = values.back();
    return s;
}
