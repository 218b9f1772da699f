// The test driver: a whole BBS inside a test process. A temporary BBS
// directory, lines in memory, a virtual clock, the real plug-ins loaded by
// the real loader, and scripted callers.
#ifndef BBS_TESTING_DRIVER_H
#define BBS_TESTING_DRIVER_H

#include <map>
#include <string>
#include <vector>

#include "core.h"
#include "state.h"

namespace bbs::testing {

// Time that moves only when a test moves it.
class VirtualClock : public ClockPort {
public:
    int64_t monotonic_ms() override { return monotonic_ms_; }
    int64_t local_seconds() override { return local_; }
    // Stands in for the machine's clock in the "system" clock mode: with
    // `privileged` it takes the new time, as the machine would for a host
    // allowed to set it; without, it refuses as the machine would. The real
    // machine's clock is never touched.
    bool set_system_time(int64_t local_seconds, std::string &error) override {
        if (!privileged) {
            error = "Operation not permitted";
            return false;
        }
        local_ = local_seconds;
        ++system_sets;
        return true;
    }
    bool privileged = false;
    int system_sets = 0;
    void set(int year, int month, int day, int hour, int minute, int second);
    void step(int64_t seconds) {
        monotonic_ms_ += seconds * 1000;
        local_ += seconds;
    }

private:
    int64_t monotonic_ms_ = 1000;
    int64_t local_ = 0;
};

// What each line received, and its state as the front end sees it.
struct Screen {
    std::string received;
    bool connected = false;
    bool echo = true;
    int room = 1 << 20;
    int hang_ups = 0;
};

class MemoryTerminal : public TerminalPort {
public:
    void send(int line, std::string_view bytes) override;
    void hang_up(int line) override;
    int free_room(int line) override;
    void set_echo(int line, bool on) override;
    std::map<int, Screen> screens;
};

struct BbsOptions {
    std::vector<std::string> plugins;          // DLL= lines, in load order
    int lines = 4;
    std::vector<int> channels;                 // hardware channel numbers; empty: line n is n
    // Option values to write into the copied message files: file name ->
    // option number -> value as it is written after '=' ("600", "yes", "\"SYSOP\"").
    std::map<std::string, std::map<int, std::string>> options;
    std::vector<ClassDefinition> classes = {
        {"DEMO", "Visitors", {}, "", 0, 0, 0},
        {"USER", "Members", {"USER"}, "", 0, 0, 0},
        {"SYSOP", "Operators", {"SYSOP"}, "", 0, 0, 0},
    };
    bool test_messages = true;                 // message texts show number and arguments
    int output_buffer = 8192;
    int idle_warn_seconds = 0;                 // 0: never
    int idle_limit_seconds = 0;
    std::string sample_key;
    std::string clock_mode;                    // CLOCK_MODE; empty: the host's default
    int year = 2026, month = 12, day = 11, hour = 12, minute = 0, second = 0;
    bool start = true;                         // start the host at once
    bool run_missed_cleanup = true;            // HostSettings::run_missed_cleanup
};

class Bbs {
public:
    explicit Bbs(BbsOptions options = {});
    ~Bbs();
    Bbs(const Bbs &) = delete;
    Bbs &operator=(const Bbs &) = delete;

    // Starting by hand (options.start false), e.g. to see start-up errors.
    bool start();
    void stop();
    const std::vector<std::string> &start_errors() const { return errors_; }
    const std::string &directory() const { return dir_; }

    // Accounts, written straight to the account file.
    account_record add_user(const std::string &user_id, const std::string &password,
                            const std::string &class_name = "USER");
    bool read_account(const std::string &user_id, account_record &out);
    void write_account(const account_record &account);

    // Callers.
    int connect(int line = -1, int32_t baud_rate = 0);  // returns the line
    void type(int line, const std::string &text);
    int log_on(const std::string &user_id, const std::string &password, int line = -1);
    void hang_up(int line);                              // the caller drops the connection
    std::string output(int line);                        // what the line received since the last take
    std::string take_output(int line);
    void clear_output();
    void set_room(int line, int bytes);
    bool connected(int line);
    int hang_ups(int line) { return terminal_.screens[line].hang_ups; }  // connections the host dropped
    Line &line(int n) { return *line_at(n); }

    // Time.
    VirtualClock &clock() { return clock_; }
    // Moves the clock forward one second at a time, firing the timers due
    // and running rounds of polling after each step.
    void advance(int seconds, int polling_rounds_per_second = 50);
    void poll(int rounds);

    // What the BBS did.
    std::vector<AuditEntry> audit;
    struct SentMail {
        mail_header header;  // the bytes the plug-in handed to simpsnd
        std::string text;
    };
    std::vector<SentMail> sent_mail;  // every simpsnd call, stored or not
    std::vector<Mail> mail_to(const std::string &user_id);

private:
    std::string dir_;
    BbsOptions options_;
    VirtualClock clock_;
    MemoryTerminal terminal_;
    std::vector<std::string> errors_;
    bool started_ = false;
    void write_files();
};

// The source folder and the build's bin folder, for tests that need files.
std::string source_dir();
std::string bin_dir();

// The details of the audit entries with this summary, in the order written.
std::vector<std::string> details(const Bbs &bbs, const std::string &summary);

// A whole file as bytes; a file that cannot be read gives "".
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &text);

}  // namespace bbs::testing

#endif
