#pragma once
// One ring slot as the attribute dictionary of an s element: the "xmlSampleKeys" values,
// divided and multiplied for the client's protocol as the configuration says, "%.2f";
// "empty" when the slot is empty; "time" "%.0f". Shared by collectors and items.
#include <cstdint>
#include "collectors/framework/SampleTypes.h"
#include "platform/values/Value.h"

namespace telvo::xmlsampleform {

// The scaled value of attribute `name`: the divide step first, then the multiply step.
double scaled(double v, const std::string& name, const Value& config, int64_t protocol);
// The steps that apply to attribute `name`, for applying them to many samples.
struct ValueScaling {
    bool divide = false;
    double divisor = 1;
    bool multiply = false;
    double factor = 1;
};
ValueScaling scalingFor(const std::string& name, const Value& config, int64_t protocol);
// `emptyAsBoolean`: the item form writes "empty" as a boolean true, the collector form "1".
// A position at or above `count` (or below 0) names no value and is written as "".
Value sampleDictionary(const statsample& sample, const Value& config, int64_t count, int64_t protocol,
                       bool emptyAsBoolean);

}  // namespace telvo::xmlsampleform
