// One bbshost at a time on a BBS directory: serving, and the operator's
// commands that change what serving keeps (purge, clean-up, deleting or
// changing an account), hold an exclusive lock on BBSHOST.LCK in the
// directory. The lock is an flock: it goes with the process, so a killed
// bbshost never leaves a stale one behind.
#ifndef BBS_DIR_LOCK_H
#define BBS_DIR_LOCK_H

#include <string>

namespace bbs {

class DirectoryLock {
public:
    static constexpr const char *kFileName = "BBSHOST.LCK";

    DirectoryLock() = default;
    ~DirectoryLock() { release(); }
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;

    // Takes the lock of the BBS in `directory` for `task` ("serve", "purge",
    // ...), which is written into the lock file beside the pid. False, with
    // error() naming the directory and the process that holds it, when
    // another bbshost does, or when the lock file cannot be made.
    bool acquire(const std::string &directory, const std::string &task = "serve");
    void release();
    bool held() const { return fd_ >= 0; }
    const std::string &error() const { return error_; }

private:
    int fd_ = -1;
    std::string error_;
};

}  // namespace bbs

#endif
