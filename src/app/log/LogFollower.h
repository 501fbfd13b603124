#pragma once
// Follows a log file on the main thread: reads its tail once, then every byte appended to it,
// woken by inotify. When the file is renamed away (the daemon rolls its log to "<name>.1") the
// rest of the old file is read, then a file rolled in between (found at "<name>.1" when the log
// rolled twice between two reads), then the new file at the path, each from its start; when
// it is truncated, from its start again. Reads take at most kChunkSize bytes per event-loop turn.
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace telvo::app {

class LogFollower : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kChunkSize = 1024 * 1024;

    explicit LogFollower(QObject* parent = nullptr);
    ~LogFollower() override;

    // Opens the file at `hostPath` read-only and non-blocking, only when it is a regular file.
    bool open(const std::string& hostPath);
    bool isOpen() const { return fd_ >= 0; }
    // Reads the last min(length, maximum) bytes of the file; following goes on from there.
    QByteArray readTail(qint64 maximum, bool* cut = nullptr);
    // Starts following from where the tail ended.
    void follow();
    // Stops following and closes the file.
    void close();

    qint64 offset() const { return offset_; }

signals:
    // Bytes appended to the followed file, in file order.
    void dataRead(const QByteArray& bytes);
    // The followed file was replaced by a new one at the path, or truncated: what follows
    // starts a new file.
    void fileRestarted();

private:
    void scheduleRead();
    void readAvailable();
    void drainEvents();
    void watchFile();
    bool switchToReplacement();
    void adopt(int fd, const struct stat& st);

    std::string path_;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    qint64 offset_ = 0;
    // The file known to be older than the followed one (the one read before it, or what stood
    // at "<name>.1" when following began), held open so that its inode is not taken by a new
    // file: it is never read again. Held until the next switch, when the next one replaces it.
    int previousFd_ = -1;
    int inotify_ = -1;
    int directoryWatch_ = -1;
    int fileWatch_ = -1;
    QPointer<QSocketNotifier> notifier_;
    QTimer readTimer_;
    // Where the folder cannot be watched, a replacement is looked for once a second.
    QTimer fallbackTimer_;
};

}  // namespace telvo::app
