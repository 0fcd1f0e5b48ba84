#pragma once
// Where each of a row of parts starts, while the parts grow and shrink.
//
// The starts are kept as plain integers, except that those after the last
// part changed are kept without the shift they owe: one pending shift (the
// "step") that the next change far away pays off. So a change next to the
// last one costs nothing in proportion to the number of parts, and one far
// away one pass of adds over a plain array. Reads compute a start from its
// stored value and the step.
//
// Part 0 starts at 0; starts never decrease.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace textstore {

class TPartition {
public:
    TPartition() : Body{0} {}

    // Parts (at least one).
    int Count() const { return int(Body.size()); }
    int Start(int k) const { return Body[size_t(k)] + (k > StepAt ? Step : 0); }
    // The start of the part after the last: where the whole ends.
    int End() const { return Total; }

    // The last part starting at or before value (0 for one before every start).
    int PartOf(int value) const {
        // The first part that starts after value, less one.
        int lo = 0, hi = Count();
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (Start(mid) <= value)
                lo = mid + 1;
            else
                hi = mid;
        }
        return std::max(lo - 1, 0);
    }
    // The last part starting before value (0 for none).
    int PartBefore(int value) const {
        int lo = 0, hi = Count();
        while (lo < hi) {
            const int mid = lo + (hi - lo) / 2;
            if (Start(mid) < value)
                lo = mid + 1;
            else
                hi = mid;
        }
        return std::max(lo - 1, 0);
    }

    // Room for n parts, so that replacements up to that many allocate nothing.
    void Reserve(size_t n) {
        if (Body.capacity() < n) Body.reserve(std::max(n, 2 * Body.capacity()));
    }

    // Parts of the given sizes, from 0.
    void Reset(const std::vector<int> &sizes) {
        Body.assign(std::max<size_t>(sizes.size(), 1), 0);
        int at = 0;
        for (size_t k = 0; k < sizes.size(); ++k) {
            Body[k] = at;
            at += sizes[k];
        }
        Total = at;
        StepAt = Count() - 1;
        Step = 0;
    }

    // Parts [k, k + removed) become parts of the sizes given (at least one
    // part stays in all); the parts after move along.
    void Replace(int k, int removed, const std::vector<int> &sizes) {
        const int start = Start(k);
        const int end = k + removed < Count() ? Start(k + removed) : Total;
        int added = 0;
        for (int s : sizes) added += s;
        // Every start before k is paid in full; those from k on owe the step.
        MoveStepTo(k - 1);
        const int delta = added - (end - start);
        Step += delta;
        Total += delta;
        const int replaced = int(sizes.size());
        if (replaced > removed)
            Body.insert(Body.begin() + k + removed, size_t(replaced - removed), 0);
        else if (replaced < removed)
            Body.erase(Body.begin() + k + replaced, Body.begin() + k + removed);
        int at = start;
        for (int i = 0; i < replaced; ++i) {
            Body[size_t(k + i)] = at - Step;
            at += sizes[size_t(i)];
        }
        if (Body.empty()) {
            Body.push_back(0);
            StepAt = 0;
            Step = 0;
        }
    }

private:
    // The starts up to part k (-1: none) hold their value; those after it owe Step.
    void MoveStepTo(int k) {
        if (k > StepAt) {
            for (int i = StepAt + 1; i <= k; ++i) Body[size_t(i)] += Step;
        } else {
            for (int i = k + 1; i <= StepAt; ++i) Body[size_t(i)] -= Step;
        }
        StepAt = k;
        if (StepAt >= Count() - 1) Step = 0;
    }

    std::vector<int> Body;
    int StepAt = 0;  // the starts of the parts after this one (-1: all) owe Step
    int Step = 0;
    int Total = 0;
};

}  // namespace textstore
