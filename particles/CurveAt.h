#pragma once

#include <cstddef>

#include "scene/Property.h"

// PropertyLine::Evaluate, written inline for the per-particle loop, which
// evaluates fourteen curves per particle and frame. Same rule, same
// arithmetic, same result for every input (NaN included).
inline float CurveAt(const PropertyLine& line, float x) {
    const auto& points = line.points;
    const size_t n = points.size();
    if (n == 0) return 0;
    if (n == 1) return points[0].second;
    if (x >= points[n - 1].first) return points[n - 1].second;
    size_t lo = 0, hi = n - 1;
    for (size_t i = 0; i < n; ++i) {
        const float time = points[i].first;
        if (x >= time && time > points[lo].first) lo = i;
        if (time >= x && points[hi].first > time) hi = i;
    }
    if (lo == hi) return points[hi].second;
    const float span = points[hi].first - points[lo].first;
    if (span == 0.0f) return points[lo].second;
    return points[lo].second + (points[hi].second - points[lo].second) * (x - points[lo].first) / span;
}
