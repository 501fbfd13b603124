#include "update/FileDownloader.h"

#include "update/HttpTransfer.h"

namespace telvo::update {

std::shared_ptr<FileDownloader> FileDownloader::create() {
    return std::shared_ptr<FileDownloader>(new FileDownloader());
}

void FileDownloader::downloadURL(const std::string& url) {
    stop();
    cancelled_ = std::make_shared<std::atomic<bool>>(false);
    if (!queue_) queue_ = dispatch::Queue::createSerial("FileDownloader");
    running_ = true;
    fileLength_ = -1;
    auto self = shared_from_this();
    auto cancelled = cancelled_;
    const uint64_t limit = maximumLength_;
    queue_->async([self, url, cancelled, limit] {
        auto data = std::make_shared<std::string>();
        bool first = true;
        HttpRequest request;
        request.url = url;
        request.maxBytes = limit;
        request.cancel = cancelled.get();
        request.onData = [&](const char* piece, size_t length, long status, int64_t announced) {
            // Only the final response reaches here; refuse its body unless it is a 200.
            if (status != 200) return false;
            if (first) {
                first = false;
                dispatch::Queue::main()->async([self, cancelled, announced] {
                    if (!*cancelled) self->fileLength_ = announced;
                });
            }
            data->append(piece, length);
            const double bytes = double(data->size());
            const double total = double(announced);
            dispatch::Queue::main()->async([self, cancelled, bytes, total] {
                if (*cancelled || !self->delegate_) return;
                self->delegate_->fileDownloadDownloadedBytes(self.get(), bytes, total);
            });
            return true;
        };
        HttpResponse response = perform(request);
        const bool failed = response.error || response.status != 200;
        dispatch::Queue::main()->async([self, cancelled, response, data, failed] {
            if (*cancelled) return;
            self->finish(response.status, response.announcedLength, data, failed);
        });
    });
}

void FileDownloader::finish(long, int64_t announced, std::shared_ptr<std::string> data, bool failed) {
    running_ = false;
    FileDownloaderDelegate* delegate = delegate_;
    if (!delegate) return;
    auto keep = shared_from_this();  // the delegate may drop its reference in a callback
    if (failed) {
        delegate->fileDownloadFailed(this);
        return;
    }
    fileLength_ = announced;
    delegate->fileDownloadReadData(this, *data);
    if (delegate_) delegate_->fileDownloadFinished(this);
}

void FileDownloader::cancel() {
    delegate_ = nullptr;
    stop();
}

void FileDownloader::stop() {
    if (cancelled_) cancelled_->store(true);
    cancelled_.reset();
    running_ = false;
}

}  // namespace telvo::update
