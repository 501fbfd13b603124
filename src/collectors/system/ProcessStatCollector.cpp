// The process table: passes over /proc, records made and dropped, the process list for the
// client sessions.
#include "collectors/system/ProcessStatCollector.h"

#include <algorithm>
#include <cctype>

#include "collectors/framework/SharedCollector.h"
#include "foundation/extensions/Utf8.h"
#include "foundation/extensions/XmlSafeText.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {

bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const size_t start = i;
        const char32_t c = utf8::decode(s, i);
        // A real U+FFFD is three bytes; a replacement for a bad byte steps over one.
        if (c == 0xFFFD && i - start != 3) return false;
    }
    return true;
}

std::string lowercase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool beginsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Valid UTF-8 text cut to the longest whole characters within a file name's length.
std::string boundedName(std::string name) {
    size_t length = host::ProcessSource::kMaximumNameLength;
    if (name.size() <= length) return name;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    name.resize(length);
    return name;
}

}  // namespace

std::shared_ptr<ProcessStatCollector> ProcessStatCollector::sharedProcesses() {
    return SharedCollector<ProcessStatCollector>::get([] { return std::make_shared<ProcessStatCollector>(); });
}

void ProcessStatCollector::cleanupShared() { SharedCollector<ProcessStatCollector>::drop(); }

ProcessStatCollector::ProcessStatCollector() {
    setStorageType(2);
    config().set("xmlNoSamples", Value(true));
    config().set("xmlUseSelectionKey", Value(true));
}

void ProcessStatCollector::update() { updateStats(); }

void ProcessStatCollector::updateStats() {
    if (!enabled()) return;
    setChildrenChanged(false);
    forgetMadeLists();
    invalidateProcesses();
    fetchProcesses();
    removeMissingProcesses();
    if (updaterFinishBlock()) updaterFinishBlock()(*this);
}

void ProcessStatCollector::fetchProcesses() {
    // The version record always selects the newer enumeration here (one read of the process
    // table, then per-process files); the task-port enumeration of older releases has no
    // counterpart and is not built.
    if (!source_->listProcesses(pids_)) return;  // every record goes at the end of the pass
    byPid_.clear();
    for (const auto& record : processes_)
        if (record) byPid_.emplace(record->pid(), record.get());  // the first record of a pid
    const double now = platform::Clock::now();
    for (const int32_t pid : pids_) {
        const host::ProcessSource::Result result = source_->readStat(pid, stat_);
        // A slow pass (a busy machine) reads the last process long after the first: each
        // process's use is measured over the time between its own two readings.
        const double readAt = platform::Clock::monotonic();
        switch (result) {
            case host::ProcessSource::Result::gone:
                continue;  // ended since it was listed
            case host::ProcessSource::Result::failed: {
                // Still there as far as anyone knows: kept, but not measured this pass.
                auto it = byPid_.find(pid);
                if (it != byPid_.end()) it->second->setExists(true);
                continue;
            }
            case host::ProcessSource::Result::ok:
                break;
        }
        if (stat_.zombie()) continue;
        updateProcess(stat_, now, readAt);
    }
}

void ProcessStatCollector::updateProcess(const host::ProcessStat& stat, double now, double readAt) {
    ProcessStatCollectorItem* record = nullptr;
    auto it = byPid_.find(stat.pid);
    if (it != byPid_.end()) record = it->second;
    // A pid the kernel gave to a new process is a new record: the old one's counters and name
    // belong to the process that ended, and it is dropped at the end of the pass.
    if (!record || record->startTime() != stat.startTime) {
        record = newRecord(stat).get();
        byPid_[stat.pid] = record;
    }
    record->setUpdateTime(now);
    record->setUpdateMonotonic(readAt);
    record->setExists(true);

    const int64_t mask = updateMask_;
    const int64_t sequence = record->sequence();
    if (mask & kMaskDisk) {
        uint64_t bytesRead = 0, bytesWritten = 0;
        const bool read = source_->readDiskBytes(stat.pid, bytesRead, bytesWritten);
        record->updateDiskActivity(read, static_cast<double>(bytesRead), static_cast<double>(bytesWritten));
    }
    record->setDiskEnabled((mask & kMaskDisk) != 0);
    if ((mask & kMaskMemory) && (!sequenceBasedUpdating_ || sequence % 5 == 0)) {
        double bytes = 0;
        const bool read = source_->readMemory(stat.pid, bytes);
        record->updateMemory(read, bytes);
    }
    if ((mask & (kMaskCPU | kMaskPower)) && (!sequenceBasedUpdating_ || sequence % 2 == 0 || (mask & kMaskPower)))
        record->updateCPU(static_cast<double>(stat.cpuTicks) / host::processTicksPerSecond(), stat.threads);
    if (mask & kMaskPower) {
        if (stat.pid == 0)
            record->setPower(0);
        else
            record->updatePower();
    }
    record->setUpdateTimePrevious(record->updateTime());
    record->setSequence(sequence + 1);
}

ProcessStatCollectorItemPtr ProcessStatCollector::newRecord(const host::ProcessStat& stat) {
    ProcessStatCollectorItemPtr record = createProcessWithPid(stat.pid);
    record->setParentPid(stat.ppid);
    record->setStartTime(stat.startTime);
    // A user process's name is cut at 15 bytes; one of exactly that length is looked up. The
    // name lives with the record, found once in its life.
    std::string name = stat.comm;
    if (name.size() == host::ProcessSource::kShortNameLength) name = nameForPid(stat.pid, name);
    record->setIsLaunchd(beginsWith(name, "launchd"));
    record->setName(boundedName(xmlSafeText(name)));
    record->setForeground(true);
    setChildrenChanged(true);
    return record;
}

ValueArray ProcessStatCollector::processList() {
    ValueArray out;
    std::vector<int32_t> pids;
    if (!source_->listProcesses(pids)) return out;
    host::ProcessStat stat;
    for (const int32_t pid : pids) {
        if (source_->readStat(pid, stat) != host::ProcessSource::Result::ok || stat.zombie()) continue;
        if (!validUtf8(stat.comm)) continue;
        // Built entry by entry: GCC misreads an initializer list of Values here.
        ValueDictionary entry;
        entry.emplace("pid", Value(static_cast<long long>(pid)));
        entry.emplace("name", Value(stat.comm));
        out.emplace_back(std::move(entry));
    }
    return out;
}

ProcessStatCollectorItemPtr ProcessStatCollector::processForPid(int32_t pid) const {
    for (const auto& record : processes_)
        if (record && record->pid() == pid) return record;
    return nullptr;
}

ProcessStatCollectorItemPtr ProcessStatCollector::createProcessWithPid(int32_t pid) {
    auto record = std::make_shared<ProcessStatCollectorItem>(pid);
    processes_.push_back(record);
    return record;
}

std::string ProcessStatCollector::nameForPid(int32_t pid, const std::string& defaultName) {
    return source_->fullName(pid, defaultName);
}

void ProcessStatCollector::invalidateProcesses() {
    for (const auto& record : processes_) {
        if (!record) continue;
        record->setExists(false);
        record->invalidateProcesses();
    }
}

void ProcessStatCollector::removeMissingProcesses() {
    const size_t before = processes_.size();
    processes_.erase(std::remove_if(processes_.begin(), processes_.end(),
                                    [](const ProcessStatCollectorItemPtr& r) { return !r || !r->exists(); }),
                     processes_.end());
    byPid_.clear();  // pointed at records that may be gone
    if (processes_.size() != before) setChildrenChanged(true);
}

void ProcessStatCollector::clearBandwidth() {
    for (const auto& record : processes_) {
        record->setNetworkDownload(0);
        record->setNetworkUpload(0);
    }
}

void ProcessStatCollector::clearDiskActivity() {
    for (const auto& record : processes_) {
        record->setDiskRead(0);
        record->setDiskWrite(0);
    }
}

std::string ProcessStatCollector::showHierarchy() const {
    std::string text;
    for (const auto& record : processes_)
        if (record) showHierarchyForProcess(*record, 0, text);
    return text;
}

void ProcessStatCollector::showHierarchyForProcess(const ProcessStatCollectorItem& process, int level,
                                                   std::string& text) const {
    text.append(static_cast<size_t>(level) * 5, ' ');
    text += process.name() + "\n";
    for (const auto& child : process.children())
        if (child) showHierarchyForProcess(*child, level + 1, text);
}

bool ProcessStatCollector::isProcessExcludedFromHierarchy(const ProcessStatCollectorItem& process) const {
    if (process.name() == "sh") return false;
    const ProcessStatCollectorItemPtr parent = processForPid(process.parentPid());
    if (!parent) return false;
    const std::string& name = parent->name();
    const std::string lower = lowercase(name);
    for (const char* shell : {"debugserver", "sh", "sudo", "login", "bash", "csh", "zsh", "ksh", "tcsh", "fish"})
        if (name == shell) return true;
    return lower.find("iterm") != std::string::npos || lower == "terminal" || beginsWith(name, "ruby") ||
           beginsWith(name, "perl");
}

bool ProcessStatCollector::isParentLaunchd(const ProcessStatCollectorItem& process) const {
    const ProcessStatCollectorItemPtr parent = processForPid(process.parentPid());
    return parent && parent->isLaunchd();
}

}  // namespace telvo
