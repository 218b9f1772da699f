// Opening a name below a directory (see beneath.h).
#include "beneath.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <limits.h>
#include <strings.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace bbs {
namespace {

constexpr int kOpenFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
// As many symbolic links as the kernel follows in one name.
constexpr int kLinkLimit = 40;
// openat2 gives up with EAGAIN when a rename races with the resolution of
// ".." in a link; a few more tries settle it.
constexpr int kRaceRetries = 8;

std::deque<std::string> components(const char *path) {
    std::deque<std::string> out;
    std::string part;
    for (const char *p = path;; ++p) {
        if (*p == '/' || *p == '\0') {
            if (!part.empty() && part != ".") out.push_back(part);
            part.clear();
            if (*p == '\0') break;
        } else {
            part.push_back(*p);
        }
    }
    return out;
}

int fail(int error) {
    errno = error;
    return -1;
}

int open_by_kernel(int dir_fd, const char *name) {
#ifdef SYS_openat2
    open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = kOpenFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int attempt = 0;; ++attempt) {
        long fd = syscall(SYS_openat2, dir_fd, name, &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        if (errno != EAGAIN || attempt >= kRaceRetries) return -1;
    }
#else
    (void)dir_fd;
    (void)name;
    return fail(ENOSYS);
#endif
}

// Opens `part` of the directory `dir_fd` as a path (a link itself, not
// what it points at). With `ignore_case`, a part that is not there as
// written is looked for with its case ignored; `part` becomes the name found.
int open_part(int dir_fd, std::string &part, bool ignore_case) {
    int fd = openat(dir_fd, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT || !ignore_case) return fd;
    int listing = openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0) close(listing);
        return fail(ENOENT);
    }
    std::string found;
    while (dirent *entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, part.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    if (found.empty()) return fail(ENOENT);
    part = found;
    return openat(dir_fd, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

// Resolves the name one component at a time, holding a descriptor of every
// directory passed through. ".." (met only inside a link's target) goes back
// to the descriptor held for the parent rather than asking the file system,
// so no rename can carry the walk above the tree; each component is opened
// with O_NOFOLLOW, so a link is read by us, never followed by the kernel.
int open_by_walk(int dir_fd, const char *name, bool ignore_case) {
    std::vector<int> held;
    auto release = [&held] {
        int saved = errno;
        for (int fd : held) close(fd);
        held.clear();
        errno = saved;
    };
    int top = fcntl(dir_fd, F_DUPFD_CLOEXEC, 0);
    if (top < 0) return -1;
    held.push_back(top);
    std::deque<std::string> rest = components(name);
    if (rest.empty()) {
        release();
        return fail(ENOENT);
    }
    int links = 0;
    while (!rest.empty()) {
        std::string part = rest.front();
        rest.pop_front();
        if (part == "..") {
            if (held.size() == 1) {
                release();
                return fail(EXDEV);
            }
            close(held.back());
            held.pop_back();
            continue;
        }
        int fd = open_part(held.back(), part, ignore_case);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) {
            if (fd >= 0) close(fd);
            release();
            return -1;
        }
        if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX + 1];
            ssize_t n = readlinkat(fd, "", target, PATH_MAX);
            close(fd);
            if (n < 0 || ++links > kLinkLimit) {
                release();
                return fail(n < 0 ? errno : ELOOP);
            }
            target[n] = '\0';
            if (n == 0 || target[0] == '/') {
                release();
                return fail(n == 0 ? ENOENT : EXDEV);
            }
            std::deque<std::string> inner = components(target);
            rest.insert(rest.begin(), inner.begin(), inner.end());
            continue;
        }
        if (!rest.empty()) {
            if (!S_ISDIR(st.st_mode)) {
                close(fd);
                release();
                return fail(ENOTDIR);
            }
            held.push_back(fd);
            continue;
        }
        // The last component is no link: open it for reading in the
        // directory that holds it. Should it have turned into a link since,
        // O_NOFOLLOW refuses it.
        close(fd);
        int file = openat(held.back(), part.c_str(), kOpenFlags | O_NOFOLLOW);
        release();
        return file;
    }
    // The name ended in ".." or in a link to a directory above: it names a
    // directory of the tree, which is no file to read.
    release();
    return fail(EISDIR);
}

// A name refused on sight: absolute, or holding a ".." component (even one
// that would come back into the tree).
bool leaves_tree_by_name(const char *name) {
    if (name[0] == '/') return true;
    for (const std::string &part : components(name))
        if (part == "..") return true;
    return false;
}

}  // namespace

int open_beneath(int dir_fd, const char *name, BeneathMethod method, bool ignore_case) {
    if (name == nullptr || name[0] == '\0') return fail(ENOENT);
    if (leaves_tree_by_name(name)) return fail(EXDEV);
    return method == BeneathMethod::kernel ? open_by_kernel(dir_fd, name) : open_by_walk(dir_fd, name, ignore_case);
}

}  // namespace bbs
