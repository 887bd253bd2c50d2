#include "lint/Diagnostic.h"

#include <algorithm>
#include <vector>

#include "platform/Printable.h"
#include "resources/AsciiCase.h"

namespace caldera {

std::string Diagnostic::Format(const std::string& prefix) const {
    // Names in findings come from files anyone can write.
    return Printable(prefix + file + ":" + std::to_string(line) + ": " +
                     (severity == Severity::error ? "error: " : "warning: ") + message);
}

namespace {

// Edit distance counting a swap of two neighbours as one edit (the commonest
// typo), case-insensitive for ASCII letters: a case slip is reported on its
// own and should not make a near name look far.
size_t EditDistance(std::string_view a, std::string_view b) {
    const std::string x = LowerCaseAscii(a), y = LowerCaseAscii(b);
    const size_t n = x.size(), m = y.size();
    std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
    for (size_t i = 0; i <= n; ++i) d[i][0] = i;
    for (size_t j = 0; j <= m; ++j) d[0][j] = j;
    for (size_t i = 1; i <= n; ++i)
        for (size_t j = 1; j <= m; ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (x[i - 1] == y[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[n][m];
}

}  // namespace

std::string NearestName(std::string_view name, const std::vector<std::string>& candidates) {
    if (name.empty()) return {};
    const std::string lower = LowerCaseAscii(name);
    for (const std::string& candidate : candidates)
        if (candidate != name && LowerCaseAscii(candidate) == lower) return candidate;
    const size_t limit = std::min<size_t>(3, std::max<size_t>(1, name.size() / 3));
    std::string best;
    size_t bestDistance = limit + 1;
    for (const std::string& candidate : candidates) {
        if (candidate == name || candidate.empty()) continue;
        // Lengths further apart than the limit cannot be within it.
        size_t gap = candidate.size() > name.size() ? candidate.size() - name.size() : name.size() - candidate.size();
        if (gap > limit) continue;
        size_t distance = EditDistance(name, candidate);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    if (best.empty() && name.size() >= 4)
        for (const std::string& candidate : candidates)
            if (candidate.size() > name.size() && candidate.compare(0, name.size(), name) == 0) return candidate;
    return best;
}

std::string DidYouMean(std::string_view name, const std::vector<std::string>& candidates) {
    std::string nearest = NearestName(name, candidates);
    return nearest.empty() ? std::string() : " (did you mean '" + nearest + "'?)";
}

}  // namespace caldera
