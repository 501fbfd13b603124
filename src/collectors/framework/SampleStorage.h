#pragma once
// The nine sample levels of one collector or item: the level records, the 9 x 602 ring
// slots and their value arrays, and the spare sample, all allocated in one block when the
// owner is created and released once.
#include <cstdint>
#include <memory>
#include "collectors/framework/SampleTypes.h"

namespace telvo {

class SampleStorage {
public:
    explicit SampleStorage(int64_t sampleValueCount);
    ~SampleStorage() = default;
    SampleStorage(const SampleStorage&) = delete;
    SampleStorage& operator=(const SampleStorage&) = delete;

    int64_t sampleValueCount() const { return count_; }
    // The record of a level (0 to 8); callers check the level first.
    sampleindexconfig& level(int64_t level) { return levels_[level]; }
    const sampleindexconfig& level(int64_t level) const { return levels_[level]; }
    // The ring of a level, or null for a level outside 0 to 8 or after release().
    statsample* ring(int64_t level) const;
    // A copy of one slot; an empty sample for a slot or level outside the rings.
    statsample slot(int64_t slot, int64_t level) const;
    // The first slot of the level, from slot 0, with that sample number; when no slot has it
    // (or `search` is false), the spare sample, marked empty and given the number.
    statsample sampleWithIdentifier(double sampleID, int64_t level, bool search = true);
    statsample& emptyValue() { return emptyValue_; }
    const statsample& emptyValue() const { return emptyValue_; }

    // Every slot: empty 1, sample number 0, values 0 (when the level's values are loaded);
    // with `clearTimeAndIndex` also time 0 and index 0 (the item form).
    void clearLevel(int64_t level, bool clearTimeAndIndex);
    // Frees every ring and value array; the storage answers no rings afterwards.
    void release();
    bool released() const { return !memory_; }

private:
    int64_t count_;
    sampleindexconfig levels_[kSampleLevelCount];
    statsample emptyValue_;
    std::unique_ptr<statsample[]> slots_;
    std::unique_ptr<double[]> memory_;
};

}  // namespace telvo
