// The BBS directory, the files of it that callers may read, and the
// start-up fault list.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "beneath.h"
#include "core.h"

namespace bbs {
namespace {
std::string g_directory = ".";
std::vector<std::string> g_startup_errors;

// Whether an open file is one the host keeps to itself: any SQLite database
// or rollback journal (the account file, the plug-ins' record files and the
// host's own database, with passwords and mail, are all SQLite files,
// whatever name or link they are reached by), or the audit trail.
bool kept_by_host(int fd, const struct stat &st) {
    static const unsigned char database_magic[16] = "SQLite format 3";
    static const unsigned char journal_magic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
    unsigned char head[16];
    ssize_t n = pread(fd, head, sizeof head, 0);
    if (n == sizeof head && memcmp(head, database_magic, sizeof database_magic) == 0) return true;
    if (n >= static_cast<ssize_t>(sizeof journal_magic) && memcmp(head, journal_magic, sizeof journal_magic) == 0)
        return true;
    struct stat audit;
    return stat(find_file_ignoring_case("AUDIT.TXT").c_str(), &audit) == 0 && audit.st_dev == st.st_dev &&
           audit.st_ino == st.st_ino;
}
}  // namespace

const std::string &bbs_directory() { return g_directory; }
void set_bbs_directory(const std::string &dir) { g_directory = dir.empty() ? "." : dir; }

std::string find_file_ignoring_case(const std::string &name) {
    std::string exact = g_directory + "/" + name;
    if (name.find('/') != std::string::npos) return exact;  // only plain names are matched
    DIR *d = opendir(g_directory.c_str());
    if (d == nullptr) return exact;
    std::string found;
    while (dirent *e = readdir(d)) {
        if (strcmp(e->d_name, name.c_str()) == 0) { found = e->d_name; break; }
        if (found.empty() && strcasecmp(e->d_name, name.c_str()) == 0) found = e->d_name;
    }
    closedir(d);
    return found.empty() ? exact : g_directory + "/" + found;
}

void report_startup_error(const std::string &text) { g_startup_errors.push_back(text); }
const std::vector<std::string> &startup_errors() { return g_startup_errors; }
void clear_startup_errors() { g_startup_errors.clear(); }

}  // namespace bbs

extern "C" int open_bbs_file(const char *name) {
    if (name == nullptr) return BBS_FILE_NOT_OPENED;
    int dir = open(bbs::bbs_directory().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return BBS_FILE_NOT_OPENED;
    // The kernel resolves a name as written; one that is not there so (or a
    // kernel without openat2) is walked, with case ignored as for every
    // file name the host is given.
    int fd = bbs::open_beneath(dir, name, bbs::BeneathMethod::kernel);
    if (fd < 0 && (errno == ENOSYS || errno == ENOENT))
        fd = bbs::open_beneath(dir, name, bbs::BeneathMethod::walk, true);
    int error = errno;
    close(dir);
    if (fd < 0) {
        errno = error;
        return error == EXDEV ? BBS_FILE_REFUSED : BBS_FILE_NOT_OPENED;
    }
    struct stat st;
    int result = fd;
    if (fstat(fd, &st) != 0) {
        error = errno;
        result = BBS_FILE_NOT_OPENED;
    } else if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        result = BBS_FILE_NOT_OPENED;
    } else if (bbs::kept_by_host(fd, st)) {
        error = EACCES;
        result = BBS_FILE_REFUSED;
    } else {
        // Opened without blocking so that a FIFO could not hold the host;
        // a plain file reads as usual from here on.
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    if (result < 0) {
        close(fd);
        errno = error;
    }
    return result;
}
