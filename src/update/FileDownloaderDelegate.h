#pragma once
// What a FileDownloader tells its delegate, on the main queue.
#include <string>

namespace telvo::update {

class FileDownloader;

class FileDownloaderDelegate {
public:
    virtual ~FileDownloaderDelegate() = default;
    virtual void fileDownloadFailed(FileDownloader* downloader) = 0;
    // The whole received body; the answer is not used by the downloader.
    virtual bool fileDownloadReadData(FileDownloader* downloader, const std::string& data) = 0;
    virtual void fileDownloadDownloadedBytes(FileDownloader* downloader, double bytes, double totalSize) = 0;
    virtual void fileDownloadFinished(FileDownloader* downloader) = 0;
};

}  // namespace telvo::update
