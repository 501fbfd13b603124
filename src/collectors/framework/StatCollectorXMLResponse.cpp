// The answer to a client's statistics request: one stat element per requested sample level,
// filled with s elements (storage type 1) or item elements (storage type 2), and the lazy
// loading of an item's older history the first time a client asks for it.
#include <algorithm>
#include <cmath>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/SampleRun.h"
#include "collectors/framework/StatNodeWriter.h"
#include "collectors/framework/StatCollector.h"
#include "collectors/framework/XMLNumberFormat.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {
std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return out;
}

// The keys of "keys" split at ",", or none when absent.
std::vector<std::string> requestKeys(const Value& attributes) {
    if (!attributes.has("keys")) return {};
    return split(attributes["keys"].stringValue(), ',');
}

bool itemNamed(const StatCollectorItem& item, const std::vector<std::string>& keys) {
    if (keys.empty()) return true;
    for (const auto& k : keys)
        if (k == item.key() || (!item.alternateKey().empty() && k == item.alternateKey())) return true;
    return false;
}

// The level a request names: the "index" number when it is a whole number from 0 to 8.
bool requestLevel(const Value& attributes, int64_t& level) {
    const Value& index = attributes["index"];
    if (!index.isNumber() && !index.isString()) return false;
    double d = index.doubleValue();
    if (!std::isfinite(d) || d != std::floor(d) || !isSampleLevel(static_cast<int64_t>(d))) return false;
    level = static_cast<int64_t>(d);
    return true;
}

// The slots of a collector-level ring newer than "sampleKey", oldest first, copied; null when
// the request names no level.
std::shared_ptr<SampleRun> sampleRun(StatCollector& collector, const Value& attributes) {
    int64_t level = 0;
    if (!requestLevel(attributes, level)) return nullptr;
    const statsample* ring = collector.storageForType(level);
    if (!ring) return nullptr;
    auto run = std::make_shared<SampleRun>(collector.config(), collector.sampleValueCount(),
                                           attributes["protocol"].intValue());
    const double since = attributes["sampleKey"].doubleValue();
    for (int64_t s = kSamplesPerLevel - 1; s >= 0; --s)
        if (ring[s].sampleID > since) run->add(ring[s]);
    return run;
}

StatNodePtr sampleNode(const Value& sample) {
    StatNodePtr s = StatNode::element("s");
    for (const auto& [k, v] : sample.dictionary()) StatCollector::addKey(k, v, *s);
    return s;
}
}  // namespace

std::vector<StatNodePtr> StatCollector::xmlNodesFromAttributes(const Value& attributes) {
    xmlAddedKeys().clear();
    if (!attributes.has("items")) return xmlNodesFromAttributes2(attributes);
    std::vector<StatNodePtr> out;
    for (const Value& entry : attributes["items"].array()) {
        Value pass = attributes;
        if (entry.has("samples")) pass.set("samples", entry["samples"]);
        if (entry.has("keys")) pass.set("keys", entry["keys"]);
        for (auto& node : xmlNodesFromAttributes2(pass)) out.push_back(std::move(node));
    }
    return out;
}

std::vector<StatNodePtr> StatCollector::xmlReplyNodesFromAttributes(const Value& attributes) {
    struct Copying {
        bool& flag;
        bool was;
        explicit Copying(bool& f) : flag(f), was(f) { flag = true; }
        ~Copying() { flag = was; }
    } copying(xmlCopySamples_);
    return xmlNodesFromAttributes(attributes);
}

std::vector<StatNodePtr> StatCollector::xmlNodesFromAttributes2(const Value& attributes) {
    std::vector<StatNodePtr> out;
    if (!attributes.has("samples")) return out;
    std::vector<std::string> entries = split(attributes["samples"].stringValue(), '|');
    // Nine levels exist; entries beyond the ninth name none.
    if (static_cast<int64_t>(entries.size()) > kSampleLevelCount) entries.resize(kSampleLevelCount);

    for (int64_t i = 0; i < static_cast<int64_t>(entries.size()); ++i) {
        StatNodePtr stat = StatNode::element("stat");
        addKey("type", Value(statType()), *stat);
        addKey("interval", Value(xmlnumber::integer(i)), *stat);
        addKey("id", Value(xmlnumber::whole(idForInterval(i))), *stat);
        addKey("session", Value(xmlnumber::integer(session())), *stat);
        xmlPrepareStatNode(*stat);
        if (attributes.has("partial")) addKey("partial", Value("1"), *stat);

        if (i > 0 && storageType() == 2) {
            std::vector<std::string> keys = requestKeys(attributes);
            std::weak_ptr<StatCollector> weak = weak_from_this();
            for (const auto& item : std::vector<StatCollectorItemPtr>(items())) {
                if (!item || !itemNamed(*item, keys) || item->loadedHistory() || item->loadingHistory()) continue;
                setLoadingHistory(true);
                frameworklog::log("loading history for item " + item->description());
                loadPreviousSamplesForItem(item, [weak] {
                    if (auto self = weak.lock()) self->finishedLoadingHistory();
                });
            }
        }

        Value level = attributes;
        level.set("index", Value(static_cast<long long>(i)));
        level.set("sampleKey", Value(entries[i]));
        size_t count = 0;
        if (storageType() != 2 && xmlCopySamples_ && xmlSamplesInBaseForm()) {
            std::shared_ptr<SampleRun> run = sampleRun(*this, level);
            if (run && run->size() > 0) {
                count = run->size();
                stat->samples = run;
            }
#ifndef NDEBUG
            // The copied form must give what the per-sample dictionaries give.
            std::string copied, dictionaries;
            if (run) run->appendXML(copied);
            for (const auto& node : xmlSampleNodesFromAttribute(level)) statnodewriter::appendNode(dictionaries, *node);
            if (copied != dictionaries) {
                frameworklog::log("sample form differs from the dictionaries for " + description());
                std::abort();
            }
#endif
        } else {
            std::vector<StatNodePtr> children = xmlSampleNodesFromAttribute(level);
            count = children.size();
            for (auto& c : children) stat->addChild(c);
        }
        if (storageType() != 2) addKey("samples", Value(xmlnumber::integer(static_cast<int64_t>(count))), *stat);
        if (loadingHistory()) {
            frameworklog::log("collector is loading history " + description());
            addKey("loading", Value("1"), *stat);
        }
        out.push_back(stat);
    }
    return out;
}

bool StatCollector::anyItemLoadingHistory() const {
    for (const auto& item : items_)
        if (item && item->loadingHistory()) return true;
    return false;
}

void StatCollector::finishedLoadingHistory() {
    frameworklog::log("finished loading history");
    setSession(static_cast<int64_t>(platform::Clock::now()));
    setLoadingHistory(false);
    if (anyItemLoadingHistory()) setLoadingHistory(true);
}

std::vector<StatNodePtr> StatCollector::xmlSampleNodesFromAttribute(const Value& attributes) {
    std::vector<StatNodePtr> out;
    ValueArray dictionaries = xmlSampleItemsFromAttributes(attributes);
    if (storageType() != 2) {
        for (const Value& sample : dictionaries) out.push_back(sampleNode(sample));
        return out;
    }
    for (const Value& entry : dictionaries) {
        StatNodePtr item = StatNode::element("item");
        for (const auto& [k, v] : entry.dictionary())
            if (k != "samples" && k != "attributes") addKey(k, v, *item);
        if (entry.has("samples")) {
            const ValueArray& samples = entry["samples"].array();
            addKey("samples", Value(xmlnumber::integer(static_cast<int64_t>(samples.size()))), *item);
            for (const Value& s : samples) item->addChild(sampleNode(s));
        }
        for (const Value& part : entry["attributes"].array()) {
            StatNodePtr a = StatNode::element("a");
            for (const auto& [k, v] : part.dictionary())
                if (k != "samples") addKey(k, v, *a);
            const ValueArray& samples = part["samples"].array();
            addKey("samples", Value(xmlnumber::integer(static_cast<int64_t>(samples.size()))), *a);
            for (const Value& s : samples) a->addChild(sampleNode(s));
            item->addChild(a);
        }
        out.push_back(item);
    }
    return out;
}

ValueArray StatCollector::xmlSampleItemsFromAttributes(const Value& attributes) {
    ValueArray out;
    int64_t level = 0;
    if (!requestLevel(attributes, level)) return out;  // no such sample level

    if (storageType() != 2) {
        const int64_t protocol = attributes["protocol"].intValue();
        const double since = attributes["sampleKey"].doubleValue();
        statsample* ring = storageForType(level);
        if (!ring) return out;
        for (int64_t s = kSamplesPerLevel - 1; s >= 0; --s) {
            const statsample& slot = ring[s];
            if (!(slot.sampleID > since)) continue;
            Value d = xmlSampleFromSample(slot, protocol);
            d.set("id", Value(xmlnumber::whole(slot.sampleID)));
            out.push_back(std::move(d));
        }
        return out;
    }

    std::vector<std::string> keys = requestKeys(attributes);
    if (keys.empty() && attributes.has("key")) keys.push_back(attributes["key"].stringValue());
    bool anyLive = std::any_of(items_.begin(), items_.end(),
                               [](const StatCollectorItemPtr& i) { return i && !i->temporary(); });
    if (!anyLive) return out;
    for (const auto& item : std::vector<StatCollectorItemPtr>(items_)) {
        if (!item || !itemNamed(*item, keys)) continue;
        if (level != 0 && !item->loadedHistory()) continue;
        std::string tag = xmlnumber::integer(level) + ":" + item->key();
        auto& added = xmlAddedKeys();
        if (std::find(added.begin(), added.end(), tag) != added.end()) continue;
        if (!xmlShouldAddSampleItem(*item)) continue;
        added.push_back(tag);
        Value d = item->xmlSamplesFromAttributes(attributes);
        if (!d.isNull()) out.push_back(std::move(d));
    }
    return out;
}

void StatCollector::xmlPrepareStatNode(StatNode&) {}

bool StatCollector::xmlShouldAddSampleItem(const StatCollectorItem&) { return true; }

}  // namespace telvo
