#include "app/log/LogFollower.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace telvo::app {
namespace {

int openRegular(const std::string& path, struct stat& st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

ssize_t readAt(int fd, char* buffer, size_t size, off_t offset) {
    ssize_t n;
    do n = ::pread(fd, buffer, size, offset);
    while (n < 0 && errno == EINTR);
    return n;
}

}  // namespace

LogFollower::LogFollower(QObject* parent) : QObject(parent) {
    readTimer_.setSingleShot(true);
    readTimer_.setInterval(0);
    connect(&readTimer_, &QTimer::timeout, this, &LogFollower::readAvailable);
    fallbackTimer_.setInterval(1000);
    connect(&fallbackTimer_, &QTimer::timeout, this, &LogFollower::scheduleRead);
}

LogFollower::~LogFollower() { close(); }

bool LogFollower::open(const std::string& hostPath) {
    close();
    // Looked at before the log itself: should the log roll between the two, what stood at
    // "<name>.1" is still older than the file followed.
    struct stat older {};
    const int previous = openRegular(hostPath + ".1", older);
    struct stat st {};
    const int fd = openRegular(hostPath, st);
    if (fd < 0) {
        if (previous >= 0) ::close(previous);
        return false;
    }
    previousFd_ = previous;
    path_ = hostPath;
    fd_ = fd;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    offset_ = st.st_size;
    return true;
}

QByteArray LogFollower::readTail(qint64 maximum, bool* cut) {
    if (cut) *cut = false;
    if (fd_ < 0) return {};
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return {};
    const qint64 length = st.st_size;
    const qint64 n = length < maximum ? length : maximum;
    QByteArray bytes(n, Qt::Uninitialized);
    qint64 got = 0;
    while (got < n) {
        const ssize_t r = readAt(fd_, bytes.data() + got, size_t(n - got), off_t(length - n + got));
        if (r <= 0) break;
        got += r;
    }
    bytes.truncate(got);
    if (cut) *cut = length > n;
    offset_ = length - n + got;
    return bytes;
}

void LogFollower::follow() {
    if (fd_ < 0 || inotify_ >= 0) return;
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0) {
        directoryWatch_ = ::inotify_add_watch(inotify_, folderOf(path_).c_str(),
                                              IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR);
        watchFile();
        notifier_ = new QSocketNotifier(inotify_, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &LogFollower::drainEvents);
    }
    if (directoryWatch_ < 0 || fileWatch_ < 0) fallbackTimer_.start();
    // Whatever was written since the tail was read.
    scheduleRead();
}

void LogFollower::close() {
    readTimer_.stop();
    fallbackTimer_.stop();
    delete notifier_;
    if (inotify_ >= 0) ::close(inotify_);
    inotify_ = directoryWatch_ = fileWatch_ = -1;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (previousFd_ >= 0) ::close(previousFd_);
    previousFd_ = -1;
    offset_ = 0;
}

void LogFollower::watchFile() {
    if (inotify_ < 0) return;
    if (fileWatch_ >= 0) ::inotify_rm_watch(inotify_, fileWatch_);
    // The open file itself, not whatever the path names by now.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    fileWatch_ = ::inotify_add_watch(inotify_, self.c_str(), IN_MODIFY | IN_ATTRIB | IN_MOVE_SELF | IN_DELETE_SELF);
}

void LogFollower::drainEvents() {
    alignas(struct inotify_event) char buffer[4096];
    bool relevant = false;
    const std::string name = nameOf(path_);
    for (;;) {
        const ssize_t n = ::read(inotify_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (char* p = buffer; p < buffer + n;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(p);
            if (event->wd != directoryWatch_ || (event->len > 0 && name == event->name)) relevant = true;
            if (event->mask & IN_Q_OVERFLOW) relevant = true;
            p += sizeof(struct inotify_event) + event->len;
        }
    }
    if (relevant) scheduleRead();
}

void LogFollower::scheduleRead() {
    if (fd_ >= 0 && !readTimer_.isActive()) readTimer_.start();
}

bool LogFollower::switchToReplacement() {
    struct stat st {};
    const int fd = openRegular(path_, st);
    if (fd < 0) return false;
    if (st.st_dev == device_ && st.st_ino == inode_) {
        ::close(fd);
        return false;
    }
    // Rolled twice (or more) since the last read: the file rolled last stands at "<name>.1",
    // and its lines come before the new file's. It is neither the followed file, nor the new
    // one, nor the one known to be older (a followed file moved or deleted by hand, not
    // rolled, leaves that one at "<name>.1").
    struct stat rolled {};
    const int middle = openRegular(path_ + ".1", rolled);
    struct stat previous {};
    const bool older = previousFd_ >= 0 && ::fstat(previousFd_, &previous) == 0 && sameFile(previous, rolled);
    if (middle >= 0 && !(rolled.st_dev == device_ && rolled.st_ino == inode_) && !sameFile(rolled, st) && !older) {
        ::close(fd);
        adopt(middle, rolled);
    } else {
        if (middle >= 0) ::close(middle);
        adopt(fd, st);
    }
    return true;
}

void LogFollower::adopt(int fd, const struct stat& st) {
    // The file read to its end becomes the one older than the next.
    if (previousFd_ >= 0) ::close(previousFd_);
    previousFd_ = fd_;
    fd_ = fd;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    offset_ = 0;
    watchFile();
}

void LogFollower::readAvailable() {
    if (fd_ < 0) return;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return;
    if (st.st_size < offset_) {
        // Truncated: read again from its start.
        offset_ = 0;
        emit fileRestarted();
        scheduleRead();
        return;
    }
    if (st.st_size == offset_) {
        // At the end of the followed file. Has the path a new file (a roll)? Then the old one
        // is done once read to its end after the rename was seen: nothing writes to it after
        // the rename.
        struct stat atPath {};
        if (::stat(path_.c_str(), &atPath) != 0 || !S_ISREG(atPath.st_mode) ||
            (atPath.st_dev == device_ && atPath.st_ino == inode_))
            return;
        if (::fstat(fd_, &st) != 0) return;
        if (st.st_size == offset_) {
            if (switchToReplacement()) {
                emit fileRestarted();
                scheduleRead();
            }
            return;
        }
    }
    const qint64 available = qint64(st.st_size) - offset_;
    QByteArray chunk(available < kChunkSize ? available : kChunkSize, Qt::Uninitialized);
    const ssize_t n = readAt(fd_, chunk.data(), size_t(chunk.size()), off_t(offset_));
    if (n <= 0) return;
    chunk.truncate(n);
    offset_ += n;
    // More may wait (or the file was rolled meanwhile): the next chunk in the next turn, so
    // that the view paints between.
    scheduleRead();
    emit dataRead(chunk);
}

}  // namespace telvo::app
