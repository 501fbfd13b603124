#include "history/HistoryDatabaseController.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/fs/Root.h"

namespace telvo {

namespace {
std::unique_ptr<HistoryDatabaseController>& sharedSlot() {
    static std::unique_ptr<HistoryDatabaseController> slot;
    return slot;
}
std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
}  // namespace

HistoryDatabaseController::HistoryDatabaseController() {
    queue_ = dispatch::Queue::createSerial(description());
}

HistoryDatabaseController& HistoryDatabaseController::sharedHistoryDatabaseController() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    auto& slot = sharedSlot();
    if (!slot) slot.reset(new HistoryDatabaseController());
    return *slot;
}

void HistoryDatabaseController::resetForTesting() {
    std::map<std::string, HistoryDatabaseItemPtr> items;
    {
        std::lock_guard<std::mutex> lock(sharedMutex());
        auto& slot = sharedSlot();
        if (!slot) return;
        std::lock_guard<std::mutex> itemsLock(slot->mutex_);
        items.swap(slot->databases_);
    }
    for (auto& [path, item] : items) item->close();
}

std::string HistoryDatabaseController::description() const {
    char object[64];
    std::snprintf(object, sizeof object, "<HistoryDatabaseController: %p>", static_cast<const void*>(this));
    return object;
}

std::string HistoryDatabaseController::keyForPath(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
}

HistoryDatabaseItemPtr HistoryDatabaseController::databaseWithPath(const std::optional<std::string>& path) {
    if (!path || path->empty()) return nullptr;
    std::string key = keyForPath(*path);
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = databases_.find(key);
    if (it != databases_.end()) return it->second;
    HistoryDatabaseItemPtr item = HistoryDatabaseItem::initWithPath(*path);
    databases_[key] = item;
    return item;
}

HistoryDatabaseItemPtr HistoryDatabaseController::take(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = databases_.find(keyForPath(path));
    if (it == databases_.end()) return nullptr;
    HistoryDatabaseItemPtr item = it->second;
    databases_.erase(it);
    return item;
}

void HistoryDatabaseController::closeDatabase(const std::string& path) {
    if (HistoryDatabaseItemPtr item = take(path)) item->close();
}

void HistoryDatabaseController::deleteDatabase(const std::string& path) {
    closeDatabase(path);
    fs::removeFile(path);
    // A journal left beside the file would be played back into the new, empty file.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) fs::removeFile(path + suffix);
}

bool HistoryDatabaseController::restoreBackup(const std::string& backupPath, const std::string& path) {
    if (!fs::exists(backupPath)) return false;
    closeDatabase(path);
    fs::removeFile(path);
    std::error_code ec;
    std::filesystem::copy_file(fs::resolve(backupPath), fs::resolve(path),
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    HistoryDatabaseItemPtr item = databaseWithPath(path);
    bool valid = false;
    item->queryDatabase([&valid](const FMDatabasePtr& db) { valid = db->isDatabaseValid(); });
    if (!valid) deleteDatabase(path);
    return valid;
}

bool HistoryDatabaseController::commitAllSync() {
    std::vector<HistoryDatabaseItemPtr> items;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [path, item] : databases_) items.push_back(item);
    }
    bool all = true;
    for (auto& item : items) all = item->commitSync() && all;
    return all;
}

std::vector<std::string> HistoryDatabaseController::openPaths() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> paths;
    for (auto& [path, item] : databases_) paths.push_back(path);
    return paths;
}

HistoryDatabaseItemPtr databaseItemWithPath(const std::optional<std::string>& path) {
    return HistoryDatabaseController::sharedHistoryDatabaseController().databaseWithPath(path);
}

FMDatabasePtr databaseWithPath(const std::optional<std::string>& path) {
    HistoryDatabaseItemPtr item = databaseItemWithPath(path);
    return item ? item->database() : nullptr;
}

}  // namespace telvo
