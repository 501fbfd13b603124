#include "collectors/framework/SampleStorage.h"

#include <algorithm>
#include <cstring>

namespace telvo {

void PushSamples(statsample* ring, int64_t count) {
    if (!ring) return;
    constexpr int64_t last = kSamplesPerLevel - 1;
    // The rings of SampleStorage keep a level's value arrays back to back, slot after slot,
    // and a slot keeps its array for life: the values then move in one step.
    const bool contiguous = count > 0 && ring[0].values && ring[1].values == ring[0].values + count &&
                            ring[last].values == ring[0].values + last * count;
    if (contiguous) {
        std::memmove(ring[1].values, ring[0].values, sizeof(double) * size_t(last * count));
    }
    for (int64_t i = last; i >= 1; --i) {
        statsample& to = ring[i];
        const statsample& from = ring[i - 1];
        if (!contiguous && count > 0 && to.values && from.values) std::copy(from.values, from.values + count, to.values);
        to.empty = from.empty;
        to.sampleID = from.sampleID;
        to.time = from.time;
    }
}

SampleStorage::SampleStorage(int64_t sampleValueCount) : count_(std::max<int64_t>(sampleValueCount, 0)) {
    const int64_t slotCount = kSampleLevelCount * kSamplesPerLevel;
    // One block for every slot's values plus the spare sample; at least one double so that
    // the block exists (and marks the storage as live) even for zero values per sample.
    memory_ = std::make_unique<double[]>(std::max<int64_t>(1, (slotCount + 1) * count_));
    slots_ = std::make_unique<statsample[]>(slotCount);
    for (int64_t l = 0; l < kSampleLevelCount; ++l) {
        sampleindexconfig& rec = levels_[l];
        rec.interval = kSampleLevelIntervals[l];
        rec.historyIndex = kSampleLevelSources[l];
        rec.samples = slots_.get() + l * kSamplesPerLevel;
        rec.valuesLoaded = 1;
        for (int64_t s = 0; s < kSamplesPerLevel; ++s)
            rec.samples[s].values = count_ > 0 ? memory_.get() + (l * kSamplesPerLevel + s) * count_ : nullptr;
    }
    emptyValue_.values = count_ > 0 ? memory_.get() + slotCount * count_ : nullptr;
}

statsample* SampleStorage::ring(int64_t level) const {
    if (!isSampleLevel(level) || !memory_) return nullptr;
    return levels_[level].samples;
}

statsample SampleStorage::sampleWithIdentifier(double sampleID, int64_t level, bool search) {
    if (statsample* r = search ? ring(level) : nullptr)
        for (int64_t s = 0; s < kSamplesPerLevel; ++s)
            if (r[s].sampleID == sampleID) return r[s];
    emptyValue_.empty = 1;
    emptyValue_.sampleID = sampleID;
    return emptyValue_;
}

statsample SampleStorage::slot(int64_t slot, int64_t level) const {
    statsample* r = ring(level);
    if (!r || slot < 0 || slot >= kSamplesPerLevel) {
        statsample none;
        none.empty = 1;
        return none;
    }
    return r[slot];
}

void SampleStorage::clearLevel(int64_t level, bool clearTimeAndIndex) {
    statsample* r = ring(level);
    if (!r) return;
    const bool values = levels_[level].valuesLoaded;
    for (int64_t s = 0; s < kSamplesPerLevel; ++s) {
        statsample& slot = r[s];
        slot.empty = 1;
        slot.sampleID = 0;
        if (values && slot.values) std::fill(slot.values, slot.values + count_, 0.0);
        if (clearTimeAndIndex) {
            slot.time = 0;
            slot.index = 0;
        }
    }
}

void SampleStorage::release() {
    for (auto& rec : levels_) {
        rec.samples = nullptr;
        rec.valuesLoaded = 0;
    }
    emptyValue_.values = nullptr;
    slots_.reset();
    memory_.reset();
    count_ = 0;
}

}  // namespace telvo
