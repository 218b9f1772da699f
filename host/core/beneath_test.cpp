// Opening a typed name below a directory, by the kernel and by the walk:
// what opens, what is refused as leaving the tree, and what simply does not
// open. Both ways must agree on every case.
#include "beneath.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using bbs::BeneathMethod;

namespace {

void write(const fs::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string read_all(int fd) {
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    return out;
}

// root/                      the tree
//   NEWS.TXT                 "news"
//   files/A.TXT              "a"
//   files/in -> ../NEWS.TXT  a link that stays inside
//   files/deep -> ../files/../files/A.TXT
//   files/out -> ../../SECRET.TXT
//   files/abs -> <outside>/SECRET.TXT (absolute)
//   files/absin -> <root>/NEWS.TXT    (absolute, though it points inside)
//   files/up -> ..           the root itself
//   files/above -> ../..     outside
//   sub -> files             a directory link inside
//   loop -> loop
//   fifo                     a named pipe
// SECRET.TXT                 beside the tree: never to be read
class Tree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bbs-beneath-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        outside_ = pattern;
        root_ = outside_ / "root";
        fs::create_directories(root_ / "files");
        write(outside_ / "SECRET.TXT", "secret");
        write(root_ / "NEWS.TXT", "news");
        write(root_ / "files" / "A.TXT", "a");
        fs::create_symlink("../NEWS.TXT", root_ / "files" / "in");
        fs::create_symlink("../files/../files/A.TXT", root_ / "files" / "deep");
        fs::create_symlink("../../SECRET.TXT", root_ / "files" / "out");
        fs::create_symlink(outside_ / "SECRET.TXT", root_ / "files" / "abs");
        fs::create_symlink(root_ / "NEWS.TXT", root_ / "files" / "absin");
        fs::create_symlink("..", root_ / "files" / "up");
        fs::create_symlink("../..", root_ / "files" / "above");
        fs::create_symlink("files", root_ / "sub");
        fs::create_symlink("loop", root_ / "loop");
        ASSERT_EQ(mkfifo((root_ / "fifo").c_str(), 0600), 0);
        dir_ = open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(dir_, 0);
    }
    void TearDown() override {
        if (dir_ >= 0) close(dir_);
        std::error_code ec;
        fs::remove_all(outside_, ec);
    }
    fs::path outside_, root_;
    int dir_ = -1;
};

class Beneath : public Tree, public ::testing::WithParamInterface<BeneathMethod> {
protected:
    void SetUp() override {
        Tree::SetUp();
        if (GetParam() == BeneathMethod::kernel) {
            int probe = bbs::open_beneath(dir_, "NEWS.TXT", BeneathMethod::kernel);
            if (probe < 0 && errno == ENOSYS) GTEST_SKIP() << "this kernel has no openat2";
            if (probe >= 0) close(probe);
        }
    }
};

TEST_P(Beneath, NamesInsideOpenAndNamesLeavingAreRefused) {
    struct Case {
        std::string name;
        std::string content;  // what it reads, when it opens
        int error;            // errno when it does not: EXDEV for a way out
    };
    const Case cases[] = {
        {"NEWS.TXT", "news", 0},
        {"./files//A.TXT", "a", 0},
        {"files/in", "news", 0},                 // a link within the tree
        {"files/deep", "a", 0},                  // ".." inside a link's target, staying inside
        {"sub/A.TXT", "a", 0},                   // through a linked directory
        {"sub/in", "news", 0},
        {(outside_ / "SECRET.TXT").string(), "", EXDEV},
        {"/etc/passwd", "", EXDEV},
        {"../SECRET.TXT", "", EXDEV},
        {"files/../NEWS.TXT", "", EXDEV},        // ".." typed is refused even where it stays inside
        {"files/..", "", EXDEV},
        {"files/out", "", EXDEV},
        {"files/abs", "", EXDEV},
        {"files/absin", "", EXDEV},              // absolute links are not followed at all
        {"files/above/SECRET.TXT", "", EXDEV},
        {"sub/up/sub/above/SECRET.TXT", "", EXDEV},
        {"MISSING.TXT", "", ENOENT},
        {"files/A.TXT/x", "", ENOTDIR},
        {"loop", "", ELOOP},
        {"", "", ENOENT},
    };
    for (const Case &c : cases) {
        errno = 0;
        int fd = bbs::open_beneath(dir_, c.name.c_str(), GetParam());
        if (c.error == 0) {
            ASSERT_GE(fd, 0) << c.name << ": " << strerror(errno);
            EXPECT_EQ(read_all(fd), c.content) << c.name;
            close(fd);
        } else {
            EXPECT_EQ(fd, -1) << c.name;
            EXPECT_EQ(errno, c.error) << c.name << ": " << strerror(errno);
            if (fd >= 0) close(fd);
        }
    }
}

TEST_P(Beneath, ANamedPipeOrADirectoryOpensWithoutBlockingAndIsNoPlainFile) {
    for (const char *name : {"fifo", "files", "files/up"}) {
        int fd = bbs::open_beneath(dir_, name, GetParam());
        if (fd < 0) {
            // The walk turns down a name that ends back at the top at once.
            EXPECT_EQ(errno, EISDIR) << name;
            continue;
        }
        struct stat st;
        ASSERT_EQ(fstat(fd, &st), 0);
        EXPECT_FALSE(S_ISREG(st.st_mode)) << name;
        close(fd);
    }
}

TEST_F(Tree, TheWalkFindsANameWithItsCaseIgnoredAndStillStaysInside) {
    struct Case {
        const char *name;
        const char *content;  // null: refused as leaving the tree
    } cases[] = {{"news.txt", "news"}, {"FILES/a.txt", "a"}, {"SUB/IN", "news"}, {"Files/Out", nullptr}};
    for (const Case &c : cases) {
        EXPECT_EQ(bbs::open_beneath(dir_, c.name, BeneathMethod::walk), -1) << c.name << " as written";
        int fd = bbs::open_beneath(dir_, c.name, BeneathMethod::walk, true);
        if (c.content == nullptr) {
            EXPECT_EQ(fd, -1) << c.name;
            EXPECT_EQ(errno, EXDEV) << c.name;
            continue;
        }
        ASSERT_GE(fd, 0) << c.name << ": " << strerror(errno);
        EXPECT_EQ(read_all(fd), c.content) << c.name;
        close(fd);
    }
}

INSTANTIATE_TEST_SUITE_P(Methods, Beneath, ::testing::Values(BeneathMethod::kernel, BeneathMethod::walk),
                         [](const ::testing::TestParamInfo<BeneathMethod> &info) {
                             return std::string(info.param == BeneathMethod::kernel ? "Kernel" : "Walk");
                         });

}  // namespace
