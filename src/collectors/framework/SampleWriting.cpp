#include "collectors/framework/SampleWriting.h"

#include <vector>

namespace telvo::samplewriting {

double sampleNumber(const Value& sample, const Value& addSampleIDKeys) {
    double number = 0;
    for (const Value& key : addSampleIDKeys.array()) {
        const std::string& name = key.string();
        if (sample.has(name)) number = sample[name].doubleValue();
    }
    return number;
}

void writeValues(statsample& slot, const Value& sample, const Value& addSampleMap, int64_t count) {
    const ValueDictionary& values = sample.dictionary();
    for (const auto& [name, position] : addSampleMap.dictionary()) {
        auto it = values.find(name);
        if (it == values.end()) continue;
        int64_t p = position.intValue();
        if (p == -1)
            slot.time = it->second.doubleValue();
        else if (p >= 0 && p < count && slot.values)
            slot.values[p] = it->second.doubleValue();
    }
    auto time = values.find("time");
    if (time != values.end()) slot.time = time->second.doubleValue();
}

Value average(const statsample* ring, int64_t count, const AverageWindow& window, const Value& sampleKeys) {
    constexpr int64_t kStack = 128;
    double stackSums[kStack];
    std::vector<double> heapSums;
    double* sums = stackSums;
    if (count > kStack) {
        heapSums.assign(count, 0.0);
        sums = heapSums.data();
    } else {
        for (int64_t i = 0; i < count; ++i) sums[i] = 0;
    }
    int64_t taken = 0;
    if (ring) {
        for (int64_t s = 0; s < kSamplesPerLevel; ++s) {
            const statsample& slot = ring[s];
            if (slot.empty) continue;
            if (window.applyTests && slot.time <= window.start) break;
            if (window.applyTests && slot.time > window.upper) continue;
            if (slot.values)
                for (int64_t i = 0; i < count; ++i) sums[i] += slot.values[i];
            ++taken;
        }
    }
    ValueDictionary result;
    result["empty"] = Value(taken == 0);
    for (const auto& [name, position] : sampleKeys.dictionary()) {
        int64_t p = position.intValue();
        if (p < 0 || p >= count) continue;  // outside the sample: nothing to read
        result[name] = Value(taken > 0 ? sums[p] / double(taken) : 0.0);
    }
    return Value(std::move(result));
}

bool liveSumsPass(const statsample* ring, int64_t count, const std::vector<int64_t>& positions, double threshold,
                  double since, bool below) {
    if (!ring) return false;
    for (int64_t s = 0; s < kSamplesPerLevel; ++s) {
        const statsample& slot = ring[s];
        if (slot.sampleID <= 0 || slot.time < since) break;
        double sum = 0;
        for (int64_t p : positions)
            if (p >= 0 && p < count) sum += slot.values[p];
        if (below ? !(sum < threshold) : !(sum > threshold)) return false;
    }
    return true;
}

}  // namespace telvo::samplewriting
