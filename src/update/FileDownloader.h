#pragma once
// Fetches one file over HTTPS into memory on a queue of its own and reports progress and the
// outcome to its delegate on the main queue: progress per piece, then the whole data and the
// end, or one failure (a transport error, a final status other than 200, more than 1 GiB, or no
// data for the stall limit).
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/dispatch/Queue.h"
#include "update/FileDownloaderDelegate.h"

namespace telvo::update {

class FileDownloader : public std::enable_shared_from_this<FileDownloader> {
public:
    static constexpr uint64_t kLargestDownload = uint64_t(1) << 30;

    static std::shared_ptr<FileDownloader> create();

    // The delegate must outlive the download or cancel it first.
    void setDelegate(FileDownloaderDelegate* delegate) { delegate_ = delegate; }
    FileDownloaderDelegate* delegate() const { return delegate_; }
    // Starts the download (main queue).
    void downloadURL(const std::string& url);
    // Forgets the delegate and stops the transfer; nothing more is reported.
    void cancel();
    // The largest body taken (kLargestDownload unless set before downloadURL); a longer one fails.
    void setMaximumLength(uint64_t bytes) { maximumLength_ = bytes; }
    // The length the server announced, -1 when none (known once data arrived).
    int64_t fileLength() const { return fileLength_; }
    bool isRunning() const { return running_; }

private:
    FileDownloader() = default;
    void stop();
    void finish(long status, int64_t announced, std::shared_ptr<std::string> data, bool failed);

    FileDownloaderDelegate* delegate_ = nullptr;
    dispatch::QueuePtr queue_;
    std::shared_ptr<std::atomic<bool>> cancelled_;
    int64_t fileLength_ = -1;
    uint64_t maximumLength_ = kLargestDownload;
    bool running_ = false;
};

}  // namespace telvo::update
