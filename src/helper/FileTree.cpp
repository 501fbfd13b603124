#include "helper/FileTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <set>
#include <vector>

namespace telvo::helper {

namespace {

bool readLink(const std::string& path, std::string& target) {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0 || size_t(n) >= buf.size()) return false;
    target.assign(buf.data(), size_t(n));
    return true;
}

bool sameContents(const std::string& a, const std::string& b) {
    int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fa < 0) return false;
    int fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fb < 0) {
        ::close(fa);
        return false;
    }
    bool same = true;
    std::vector<char> ba(65536), bb(65536);
    while (same) {
        ssize_t na = ::read(fa, ba.data(), ba.size());
        if (na < 0) {
            same = false;
            break;
        }
        size_t got = 0;
        while (got < size_t(na)) {
            ssize_t nb = ::read(fb, bb.data() + got, size_t(na) - got);
            if (nb <= 0) break;
            got += size_t(nb);
        }
        if (got != size_t(na) || std::char_traits<char>::compare(ba.data(), bb.data(), got) != 0) same = false;
        if (na == 0) break;
    }
    ::close(fa);
    ::close(fb);
    return same;
}

bool entries(const std::string& folder, std::set<std::string>& names) {
    DIR* d = ::opendir(folder.c_str());
    if (!d) return false;
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.insert(n);
    }
    ::closedir(d);
    return true;
}

}  // namespace

bool hostExists(const std::string& hostPath) {
    struct stat st {};
    return ::lstat(hostPath.c_str(), &st) == 0;
}

bool hostIsSymlink(const std::string& hostPath) {
    struct stat st {};
    return ::lstat(hostPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool sameTree(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::lstat(a.c_str(), &sa) != 0 || ::lstat(b.c_str(), &sb) != 0) return false;
    if ((sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT)) return false;
    if (S_ISLNK(sa.st_mode)) {
        std::string ta, tb;
        return readLink(a, ta) && readLink(b, tb) && ta == tb;
    }
    if (S_ISREG(sa.st_mode)) return sa.st_size == sb.st_size && sameContents(a, b);
    if (S_ISDIR(sa.st_mode)) {
        std::set<std::string> na, nb;
        if (!entries(a, na) || !entries(b, nb) || na != nb) return false;
        for (const auto& n : na)
            if (!sameTree(a + "/" + n, b + "/" + n)) return false;
        return true;
    }
    return true;  // devices, fifos, sockets: the type is what cp makes
}

}  // namespace telvo::helper
