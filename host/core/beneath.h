// Opening a file by a name a caller typed, without ever leaving a directory
// tree. The host uses it for open_bbs_file (host.h); it is kept apart so
// that both ways of resolving a name can be tested on their own.
#ifndef BBS_BENEATH_H
#define BBS_BENEATH_H

namespace bbs {

// How a name is resolved below the directory.
enum class BeneathMethod {
    kernel,  // openat2 with RESOLVE_BENEATH (Linux 5.6 and later)
    walk,    // one component at a time, each symbolic link read and followed by hand
};

// Opens `name`, a path relative to the directory `dir_fd`, read-only and
// without blocking (a FIFO does not hang the host), and returns the file
// descriptor. On failure returns -1 with errno set; a name that would reach
// outside the tree -- absolute, with a ".." component, or through a symbolic
// link that leads out (any absolute link counts as leading out) -- fails with
// errno EXDEV, and nothing outside the tree is opened on the way. The kernel
// method fails with ENOSYS on a kernel without openat2. With `ignore_case`
// the walk takes a component that is not there as written to be the one
// whose name equals it with case ignored (the kernel method ignores it).
int open_beneath(int dir_fd, const char *name, BeneathMethod method, bool ignore_case = false);

}  // namespace bbs

#endif
