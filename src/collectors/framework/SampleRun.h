#pragma once
// The s elements of one stat element of a collector-level ring (storage type 1), kept as the
// copied ring slots and the plan of their attributes rather than as one node per sample: the
// main queue only copies the slots it selected, and the text is written later, straight into
// the reply's bytes. Its elements are those of the sample dictionaries: the "xmlSampleKeys"
// values scaled for the protocol ("%.2f"), "empty" "1" when empty, "time" "%.0f" and "id"
// "%.0f", in the dictionaries' (sorted) order.
#include <cstdint>
#include <string>
#include <vector>

#include "collectors/framework/SampleTypes.h"
#include "collectors/framework/StatNode.h"
#include "platform/values/Value.h"

namespace telvo {

class SampleRun {
public:
    // The plan of the attributes for a collector's configuration, value count and protocol.
    SampleRun(const Value& config, int64_t valueCount, int64_t protocol);

    // Copies one slot (its values, time, empty flag and number).
    void add(const statsample& slot);
    size_t size() const { return ids_.size(); }
    // About the bytes appendXML writes, for reserving room.
    size_t estimatedBytes() const;

    // Appends the s elements as the reply writer writes them.
    void appendXML(std::string& out) const;
    // The same elements as nodes, for the document writer.
    std::vector<StatNodePtr> nodes() const;

private:
    enum class Kind { Value, Empty, ValueOrEmpty, Time, Id };
    struct Attribute {
        Attribute(std::string n = std::string(), Kind k = Kind::Value) : name(std::move(n)), kind(k) {}
        std::string name;
        Kind kind;
        std::string opening;  // ' name="' as written
        int64_t position = -1;  // Value: the index of the value, -1 when it names none
        bool divide = false;
        double divisor = 1;
        bool multiply = false;
        double factor = 1;
    };
    std::string text(const Attribute& a, size_t sample) const;
    void appendText(std::string& out, const Attribute& a, size_t sample) const;
    template <class Emit>
    void each(size_t sample, Emit&& emit) const;

    std::vector<Attribute> attributes_;
    int64_t valueCount_;
    std::vector<double> values_;  // valueCount_ per sample
    std::vector<char> hasValues_;
    std::vector<double> times_;
    std::vector<double> ids_;
    std::vector<char> empty_;
};

}  // namespace telvo
