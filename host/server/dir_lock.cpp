#include "dir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace bbs {

namespace {

// "PID TASK" as the holder wrote it; pid 0 when it has not written yet.
void read_holder(int fd, long &pid, std::string &task) {
    char buffer[128] = {};
    ssize_t n = pread(fd, buffer, sizeof buffer - 1, 0);
    pid = 0;
    task.clear();
    if (n <= 0) return;
    std::istringstream in(std::string(buffer, static_cast<size_t>(n)));
    in >> pid >> task;
}

}  // namespace

bool DirectoryLock::acquire(const std::string &directory, const std::string &task) {
    release();
    error_.clear();
    std::string path = directory + "/" + kFileName;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error_ = "cannot lock the BBS in " + directory + ": " + path + ": " + std::strerror(errno);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int why = errno;
        if (why != EWOULDBLOCK) {
            error_ = "cannot lock the BBS in " + directory + ": " + path + ": " + std::strerror(why);
        } else {
            long pid = 0;
            std::string holder;
            read_holder(fd, pid, holder);
            std::string who = " (pid " + std::to_string(pid) + ")";
            if (pid <= 0)  // it has only just taken the lock
                error_ = "the BBS in " + directory + " is in use by another bbshost; stop it first";
            else if (holder == "serve")
                error_ = "the BBS in " + directory + " is being served by bbshost" + who + "; stop it first";
            else
                error_ = "the BBS in " + directory + " is in use by bbshost " + holder + who +
                         "; try again when it has finished";
        }
        close(fd);
        return false;
    }
    // A failed write leaves the lock held all the same; only the note for
    // the others is missing.
    std::string line = std::to_string(static_cast<long>(getpid())) + " " + task + "\n";
    bool noted = ftruncate(fd, 0) == 0 && pwrite(fd, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size());
    static_cast<void>(noted);
    fd_ = fd;
    return true;
}

void DirectoryLock::release() {
    if (fd_ < 0) return;
    // The file stays: removing it would let two processes lock two files.
    bool cleared = ftruncate(fd_, 0) == 0;
    static_cast<void>(cleared);
    close(fd_);
    fd_ = -1;
}

}  // namespace bbs
