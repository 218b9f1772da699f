#include "module_order.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char *const kNotFound = "Unable to find: KRVFV in WGSERV.CFG!\n";

// A fresh directory per test, holding the tool's files.
class ToolDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "krvtop-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path file(const char *name) const { return dir_ / name; }

    void write_file(const char *name, const std::string &bytes) const {
        std::ofstream(file(name), std::ios::binary) << bytes;
    }

    std::optional<std::string> read_file(const char *name) const {
        std::ifstream in(file(name), std::ios::binary);
        if (!in) return std::nullopt;
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    // Runs the tool in-process; the arguments follow the program name.
    int run(std::vector<std::string> args, std::string &console) const {
        args.insert(args.begin(), "KRVTOP");
        std::vector<char *> argv;
        for (auto &arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::ostringstream out;
        int status = krvtop::run(static_cast<int>(args.size()), argv.data(), dir_.string(), out);
        console = out.str();
        return status;
    }

    // Runs the tool (module krvfv, bottom) in a child whose files may not grow
    // beyond `limit` bytes, as on a full disk: writes past it fail with EFBIG
    // instead of raising a signal.
    int run_limited(rlim_t limit, std::string &console) {
        int pipe_ends[2];
        if (pipe(pipe_ends) != 0) return -100;
        pid_t child = fork();
        if (child == 0) {
            close(pipe_ends[0]);
            signal(SIGXFSZ, SIG_IGN);
            rlimit rl{limit, limit};
            setrlimit(RLIMIT_FSIZE, &rl);
            std::string out;
            int status = run({"krvfv", "/B"}, out);
            if (write(pipe_ends[1], out.data(), out.size()) != static_cast<ssize_t>(out.size()))
                _exit(101);
            _exit(status);
        }
        close(pipe_ends[1]);
        char buffer[256];
        for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
            console.append(buffer, static_cast<size_t>(n));
        close(pipe_ends[0]);
        int wait_status = 0;
        waitpid(child, &wait_status, 0);
        return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -200;
    }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto &e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

// ---------------------------------------------------------- reordering

struct Case {
    std::string name;
    std::string config;
    std::vector<std::string> args;
    std::optional<std::string> rewritten;  // none: the module is not found
};

const std::string kBase =
    "PORT=2323\n"
    "LINES=8\n"
    "DLL=KRVGLOB\n"
    "DLL=KRVAFK\n"
    "DLL=KRVFV\n"
    "DLL=KRVCLOCK\n"
    "CLEANUP=03:00\n";
const std::string kBaseTop =
    "PORT=2323\n"
    "LINES=8\n"
    "DLL=KRVFV\n"
    "DLL=KRVGLOB\n"
    "DLL=KRVAFK\n"
    "DLL=KRVCLOCK\n"
    "CLEANUP=03:00\n";
const std::string kBaseBottom =
    "PORT=2323\n"
    "LINES=8\n"
    "DLL=KRVGLOB\n"
    "DLL=KRVAFK\n"
    "DLL=KRVCLOCK\n"
    "DLL=KRVFV\n"
    "CLEANUP=03:00\n";

// Text of a given length that holds no "DLL=".
std::string filler(size_t length, char first) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += static_cast<char>(first + i % 23);
    return text;
}

std::vector<Case> cases() {
    // A name longer than any fixed name buffer, and one that differs from it
    // only at its 121st character.
    const std::string long_name = "KRV" + std::string(147, 'N');
    std::string long_decoy = long_name;
    long_decoy[120] = 'X';
    std::string long_lower = long_name;
    for (char &c : long_lower) c = static_cast<char>(tolower(c));

    // Host settings of 197, 198 and 599 bytes before their line end: the
    // first fits one piece, the others are read in two and four.
    const std::string motd = "MOTD=" + filler(192, 'a') + "\n";
    const std::string path = "PATH=" + filler(193, 'A') + "\n";
    const std::string note = "NOTE=" + filler(594, '0') + "\n";

    const std::string long_dll = "DLL=" + std::string(250, 'L');

    return {
        {"TopMovesThirdDllLineFirst", kBase, {"krvfv"}, kBaseTop},
        {"BottomMovesItAfterTheRun", kBase, {"krvfv", "/B"}, kBaseBottom},
        {"BottomSwitchIgnoresCase", kBase, {"KrvFv", "/b"}, kBaseBottom},
        {"ThreeArgumentsMoveToTop", kBase, {"krvfv", "/B", "/B"}, kBaseTop},
        {"OtherSecondArgumentMovesToTop", kBase, {"krvfv", "/X"}, kBaseTop},
        {"LowerCaseNameInFileIsReplacedByUpperCase",
         "A=1\nDLL=KRVGLOB\nDLL=krvfv\n", {"krvfv"},
         "A=1\nDLL=KRVFV\nDLL=KRVGLOB\n"},
        {"LowerCasePrefixAloneIsNotFound", "A=1\ndll=KRVFV\nDLL=KRVGLOB\n", {"KRVFV"},
         std::nullopt},
        {"TrailingSpaceDoesNotMatch", "DLL=KRVGLOB\nDLL=KRVFV \n", {"KRVFV"}, std::nullopt},
        {"EmptyFileHasNoModule", "", {"KRVFV", "/B"}, std::nullopt},
        {"TabAfterNameIsIgnored", "DLL=KRVGLOB\nDLL=KRVFV\t\n", {"KRVFV"},
         "DLL=KRVFV\nDLL=KRVGLOB\n"},
        {"ControlAndHighBytesAreIgnored", "DLL=KRVGLOB\nDLL=KR\x01V\xe9" "F\xffV\nX=1\n",
         {"KRVFV", "/B"}, "DLL=KRVGLOB\nDLL=KRVFV\nX=1\n"},
        {"EveryLineOfTheModuleIsRemoved",
         "DLL=KRVFV\nDLL=KRVGLOB\nDLL=KRVFV\nX=1\ndll=krvfv\n", {"KRVFV"},
         "DLL=KRVFV\nDLL=KRVGLOB\nX=1\n"},
        {"TopKeepsLowerCasePrefixBeforeFirstDllLine",
         "dll=KRVFV\nDLL=KRVGLOB\nDLL=KRVFV\n", {"KRVFV"},
         "dll=KRVFV\nDLL=KRVFV\nDLL=KRVGLOB\n"},
        {"TopWithTwoRunsUsesTheFirst",
         "A=1\nDLL=KRVGLOB\nB=2\nDLL=KRVAFK\nDLL=KRVFV\nC=3\n", {"KRVFV"},
         "A=1\nDLL=KRVFV\nDLL=KRVGLOB\nB=2\nDLL=KRVAFK\nC=3\n"},
        {"BottomWithTwoRunsWritesAfterEach",
         "DLL=KRVGLOB\nDLL=KRVFV\nREM=between\nDLL=KRVAFK\nEND=1\n", {"KRVFV", "/B"},
         "DLL=KRVGLOB\nDLL=KRVFV\nREM=between\nDLL=KRVAFK\nDLL=KRVFV\nEND=1\n"},
        {"BottomRunAtEndOfFile", "A=1\nDLL=KRVFV\nDLL=KRVGLOB\n", {"KRVFV", "/B"},
         "A=1\nDLL=KRVGLOB\nDLL=KRVFV\n"},
        {"BottomEndsAnUnendedLastLineFirst", "A=1\nDLL=KRVFV\nDLL=KRVGLOB", {"KRVFV", "/B"},
         "A=1\nDLL=KRVGLOB\nDLL=KRVFV\n"},
        {"FileWithoutLineEndGetsLf", "DLL=krvfv", {"KRVFV", "/B"}, "DLL=KRVFV\n"},
        {"CrLfFileTop", "PORT=2323\r\nDLL=KRVGLOB\r\nDLL=krvfv\r\nEND=1\r\n", {"KRVFV"},
         "PORT=2323\r\nDLL=KRVFV\r\nDLL=KRVGLOB\r\nEND=1\r\n"},
        {"CrLfFileBottomEndsUnendedLastLine", "PORT=2323\r\nDLL=KRVFV\r\nDLL=KRVGLOB",
         {"KRVFV", "/B"}, "PORT=2323\r\nDLL=KRVGLOB\r\nDLL=KRVFV\r\n"},
        {"FirstLineEndDecides", "A=1\nB=2\r\nDLL=KRVGLOB\r\nDLL=KRVFV\r\n", {"KRVFV"},
         "A=1\nB=2\r\nDLL=KRVFV\nDLL=KRVGLOB\r\n"},
        {"LongNameIsComparedWhole",
         "DLL=" + long_decoy + "\nDLL=KRVGLOB\nDLL=" + long_lower + "\n", {long_lower},
         "DLL=" + long_name + "\nDLL=" + long_decoy + "\nDLL=KRVGLOB\n"},
        {"LongSettingLinesAreCopiedTop",
         motd + "DLL=KRVGLOB\n" + path + "DLL=KRVFV\n" + note, {"KRVFV"},
         motd + "DLL=KRVFV\nDLL=KRVGLOB\n" + path + note},
        {"LongSettingLinesAreCopiedBottom",
         motd + "DLL=KRVFV\nDLL=KRVGLOB\n" + path + "DLL=KRVAFK\n" + note, {"KRVFV", "/B"},
         motd + "DLL=KRVGLOB\nDLL=KRVFV\n" + path + "DLL=KRVAFK\nDLL=KRVFV\n" + note},
        // The 198-byte first piece of the long DLL= line belongs to the run,
        // its remainder does not: the module's line goes between them, on a
        // line of its own.
        {"LongDllLineIsJudgedByPieces", "DLL=KRVFV\n" + long_dll + "\nEND=1\n",
         {"KRVFV", "/B"},
         long_dll.substr(0, 198) + "\nDLL=KRVFV\n" + long_dll.substr(198) + "\nEND=1\n"},
    };
}

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class Reorder : public ToolDirectory, public ::testing::WithParamInterface<Case> {};

TEST_P(Reorder, RewritesConfigAsExpected) {
    const Case &c = GetParam();
    write_file("WGSERV.CFG", c.config);
    std::string console;
    EXPECT_EQ(run(c.args, console), 0);
    if (c.rewritten) {
        EXPECT_EQ(console, "");
        EXPECT_EQ(read_file("WGSERV.CFG"), *c.rewritten);
        EXPECT_EQ(read_file("WGSERV.CBK"), c.config);
        EXPECT_EQ(entries(), (std::vector<std::string>{"WGSERV.CBK", "WGSERV.CFG"}));
    } else {
        EXPECT_EQ(console, kNotFound);
        EXPECT_EQ(read_file("WGSERV.CFG"), c.config);
        EXPECT_EQ(entries(), std::vector<std::string>{"WGSERV.CFG"});
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Reorder, ::testing::ValuesIn(cases()),
                         [](const auto &info) { return info.param.name; });

// ------------------------------------------------------ files around it

using ModuleOrder = ToolDirectory;

TEST_F(ModuleOrder, NoArgumentShowsUsageAndTouchesNothing) {
    std::string console;
    EXPECT_EQ(run({}, console), 0);
    EXPECT_EQ(console,
              "\nTop v1.0\n"
              "\nUsage: KRVTOP <MODULE> [/B]\n"
              "\n"
              "Top program moves the DLL line for <MODULE> to the\n"
              "top of the DLL list in WGSERV.CFG. Specify /B at the end\n"
              "to move the module to the bottom of the DLL list instead.\n"
              "\n"
              "For example:\n\n"
              "   KRVTOP KRVGLOB\n"
              " or \n"
              "   KRVTOP KRVTHUNK /B\n");
    EXPECT_TRUE(entries().empty());
}

TEST_F(ModuleOrder, ModuleNameIsUpperCasedInPlace) {
    write_file("WGSERV.CFG", kBase);
    std::string name = "krvFv", option = "/b";
    char program[] = "KRVTOP";
    char *argv[] = {program, name.data(), option.data(), nullptr};
    std::ostringstream out;
    EXPECT_EQ(krvtop::run(3, argv, dir_.string(), out), 0);
    EXPECT_EQ(name, "KRVFV");
    EXPECT_EQ(read_file("WGSERV.CFG"), kBaseBottom);
}

TEST_F(ModuleOrder, MissingConfigIsReportedBeforeAnythingIsWritten) {
    std::string console;
    EXPECT_EQ(run({"KRVFV"}, console), 1);
    EXPECT_EQ(console, "Unable to open WGSERV.CFG for read!\n");
    EXPECT_TRUE(entries().empty());
}

TEST_F(ModuleOrder, UncreatableTempFileLeavesConfigAlone) {
    write_file("WGSERV.CFG", kBase);
    fs::create_directory(file("KRVTMP.$$$"));
    std::string console;
    EXPECT_EQ(run({"KRVFV"}, console), 1);
    EXPECT_EQ(console, "Unable to open KRVTMP.$$$ for write!\n");
    EXPECT_EQ(read_file("WGSERV.CFG"), kBase);
    EXPECT_EQ(entries(), (std::vector<std::string>{"KRVTMP.$$$", "WGSERV.CFG"}));
}

TEST_F(ModuleOrder, UnreadableConfigIsReportedAndTempRemoved) {
    fs::create_directory(file("WGSERV.CFG"));  // opens for reading, but reads fail
    write_file("WGSERV.CBK", "previous backup\n");
    std::string console;
    EXPECT_EQ(run({"KRVFV"}, console), 1);
    EXPECT_EQ(console, "Unable to read WGSERV.CFG!\n");
    EXPECT_TRUE(fs::is_directory(file("WGSERV.CFG")));
    EXPECT_EQ(read_file("WGSERV.CBK"), "previous backup\n");
    EXPECT_EQ(entries(), (std::vector<std::string>{"WGSERV.CBK", "WGSERV.CFG"}));
}

TEST_F(ModuleOrder, BackupAndStaleTempFileAreReplaced) {
    write_file("WGSERV.CFG", kBase);
    write_file("WGSERV.CBK", "previous backup\n");
    write_file("KRVTMP.$$$", std::string(5000, 'z'));
    std::string console;
    EXPECT_EQ(run({"KRVFV"}, console), 0);
    EXPECT_EQ(read_file("WGSERV.CFG"), kBaseTop);
    EXPECT_EQ(read_file("WGSERV.CBK"), kBase);
    EXPECT_EQ(entries(), (std::vector<std::string>{"WGSERV.CBK", "WGSERV.CFG"}));
}

TEST_F(ModuleOrder, NotFoundKeepsBackupAndRemovesStaleTempFile) {
    write_file("WGSERV.CFG", kBase);
    write_file("WGSERV.CBK", "previous backup\n");
    write_file("KRVTMP.$$$", "stale\n");
    std::string console;
    EXPECT_EQ(run({"KRVNONE"}, console), 0);
    EXPECT_EQ(console, "Unable to find: KRVNONE in WGSERV.CFG!\n");
    EXPECT_EQ(read_file("WGSERV.CFG"), kBase);
    EXPECT_EQ(read_file("WGSERV.CBK"), "previous backup\n");
    EXPECT_EQ(entries(), (std::vector<std::string>{"WGSERV.CBK", "WGSERV.CFG"}));
}

// ------------------------------------------------------- write faults

struct WriteFault {
    const char *what;
    size_t config_size;
    rlim_t limit;
};

void PrintTo(const WriteFault &f, std::ostream *os) { *os << f.what; }

class WriteFaults : public ToolDirectory, public ::testing::WithParamInterface<WriteFault> {};

TEST_P(WriteFaults, LeaveConfigAndBackupUntouched) {
    std::string config = "PORT=2323\nDLL=KRVFV\nDLL=KRVGLOB\n";
    while (config.size() < GetParam().config_size) config += "REM=" + filler(70, 'a') + "\n";
    write_file("WGSERV.CFG", config);
    write_file("WGSERV.CBK", "previous backup\n");
    std::string console;
    EXPECT_EQ(run_limited(GetParam().limit, console), 1);
    EXPECT_EQ(console, "Unable to write KRVTMP.$$$!\n");
    EXPECT_EQ(read_file("WGSERV.CFG"), config);
    EXPECT_EQ(read_file("WGSERV.CBK"), "previous backup\n");
    EXPECT_EQ(entries(), (std::vector<std::string>{"WGSERV.CBK", "WGSERV.CFG"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteFaults,
    ::testing::Values(WriteFault{"NoRoomAtAll", 100, 0},
                      WriteFault{"FullDuringCopy", 40000, 8192},
                      WriteFault{"FullOnlyWhenClosing", 600, 300}),
    [](const auto &info) { return std::string(info.param.what); });

TEST_F(ModuleOrder, RoomEnoughForTheNewFileStillRewrites) {
    write_file("WGSERV.CFG", kBase);
    std::string console;
    EXPECT_EQ(run_limited(kBase.size(), console), 0);
    EXPECT_EQ(console, "");
    EXPECT_EQ(read_file("WGSERV.CFG"), kBaseBottom);
}

// ------------------------------------------------------ the real program

TEST_F(ModuleOrder, BuiltProgramReordersConfigInItsDirectory) {
    const std::string config =
        "PORT=2323\r\nDLL=KRVFV\r\nDLL=KRVGLOB\r\nDLL=KRVAFK\r\nCLEANUP=03:00\r\n";
    write_file("WGSERV.CFG", config);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    pid_t child = fork();
    if (child == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        if (chdir(dir_.c_str()) != 0) _exit(102);
        execl(KRVTOP_BINARY, "KRVTOP", "krvfv", "/b", static_cast<char *>(nullptr));
        _exit(103);
    }
    close(pipe_ends[1]);
    std::string console;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
        console.append(buffer, static_cast<size_t>(n));
    close(pipe_ends[0]);
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    ASSERT_TRUE(WIFEXITED(wait_status));
    EXPECT_EQ(WEXITSTATUS(wait_status), 0);
    EXPECT_EQ(console, "");
    EXPECT_EQ(read_file("WGSERV.CFG"),
              "PORT=2323\r\nDLL=KRVGLOB\r\nDLL=KRVAFK\r\nDLL=KRVFV\r\nCLEANUP=03:00\r\n");
    EXPECT_EQ(read_file("WGSERV.CBK"), config);
    EXPECT_EQ(entries(), (std::vector<std::string>{"WGSERV.CBK", "WGSERV.CFG"}));
}

}  // namespace
