// The test driver (see driver.h).
#include "driver.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "datafile.h"
#include "msgfile.h"
#include "settings.h"

namespace fs = std::filesystem;

namespace bbs::testing {

std::string source_dir() { return BBS_SOURCE_DIR; }
std::string bin_dir() { return BBS_BIN_DIR; }

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> details(const Bbs &bbs, const std::string &summary) {
    std::vector<std::string> out;
    for (const AuditEntry &e : bbs.audit)
        if (e.summary == summary) out.push_back(e.detail);
    return out;
}

namespace {

bool ends_with_ignoring_case(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && strcasecmp(s.c_str() + s.size() - tail.size(), tail.c_str()) == 0;
}

// Replaces the value of entry `number` in the text of a message file: what
// follows the first '=' outside quotes, on the entry's lines.
std::string set_entry_value(const std::string &text, int number, const std::string &value) {
    std::vector<std::string> lines;
    std::stringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::string prefix = std::to_string(number) + " ";
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) != 0) continue;
        size_t end = i + 1;
        while (end < lines.size() && !lines[end].empty() && (lines[end][0] == ' ' || lines[end][0] == '\t')) ++end;
        std::string entry;
        for (size_t k = i; k < end; ++k) entry += lines[k] + "\n";
        bool quoted = false;
        size_t eq = std::string::npos;
        for (size_t k = 0; k < entry.size(); ++k) {
            if (quoted && entry[k] == '\\') { ++k; continue; }
            if (entry[k] == '"') quoted = !quoted;
            if (!quoted && entry[k] == '=') { eq = k; break; }
        }
        if (eq == std::string::npos) break;
        std::string replaced = entry.substr(0, eq + 1) + " " + value;
        std::vector<std::string> out(lines.begin(), lines.begin() + static_cast<long>(i));
        out.push_back(replaced);
        out.insert(out.end(), lines.begin() + static_cast<long>(end), lines.end());
        std::string joined;
        for (const std::string &l : out) joined += l + "\n";
        return joined;
    }
    ADD_FAILURE() << "no entry " << number << " to set";
    return text;
}
}  // namespace

void VirtualClock::set(int year, int month, int day, int hour, int minute, int second) {
    local_ = days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
             minute * 60 + second;
}

void MemoryTerminal::send(int line, std::string_view bytes) { screens[line].received.append(bytes); }
void MemoryTerminal::hang_up(int line) {
    screens[line].connected = false;
    screens[line].hang_ups++;
}
int MemoryTerminal::free_room(int line) { return screens[line].room; }
void MemoryTerminal::set_echo(int line, bool on) { screens[line].echo = on; }

Bbs::Bbs(BbsOptions options) : options_(std::move(options)) {
    char pattern[] = "/tmp/bbs-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    if (made == nullptr) {
        ADD_FAILURE() << "cannot make a temporary BBS directory";
        return;
    }
    dir_ = made;
    clock_.set(options_.year, options_.month, options_.day, options_.hour, options_.minute, options_.second);
    write_files();
    if (options_.start && !start()) {
        std::string all;
        for (const std::string &e : errors_) all += "\n  " + e;
        ADD_FAILURE() << "the BBS did not start:" << all;
    }
}

Bbs::~Bbs() {
    stop();
    set_message_test_mode(false);
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

void Bbs::write_files() {
    // Every plug-in's message and descriptor files, as the demo has them.
    std::vector<std::string> folders = {source_dir() + "/testing/plugin"};
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(source_dir() + "/modules", ec))
        if (entry.is_directory()) folders.push_back(entry.path().string());
    for (const std::string &folder : folders) {
        for (const auto &entry : fs::directory_iterator(folder, ec)) {
            std::string name = entry.path().filename().string();
            if (ends_with_ignoring_case(name, ".mcv") || ends_with_ignoring_case(name, ".mdf"))
                fs::copy_file(entry.path(), dir_ + "/" + name, fs::copy_options::overwrite_existing, ec);
        }
    }
    for (const auto &[file, values] : options_.options) {
        std::string path = dir_ + "/" + file;
        std::string text = read_file(path);
        if (text.empty()) ADD_FAILURE() << "no message file " << file << " to set options in";
        for (const auto &[number, value] : values) text = set_entry_value(text, number, value);
        write_file(path, text);
    }
    std::string cfg = "# written by the test driver\n";
    for (const std::string &p : options_.plugins) cfg += "DLL=" + p + "\n";
    cfg += "LINES=" + std::to_string(options_.lines) + "\n";
    cfg += "OUTPUT_BUFFER=" + std::to_string(options_.output_buffer) + "\n";
    cfg += "IDLE_WARN_SECONDS=" + std::to_string(options_.idle_warn_seconds) + "\n";
    cfg += "IDLE_LIMIT_SECONDS=" + std::to_string(options_.idle_limit_seconds) + "\n";
    if (!options_.sample_key.empty()) cfg += "SAMPLE_KEY=" + options_.sample_key + "\n";
    if (!options_.clock_mode.empty()) cfg += "CLOCK_MODE=" + options_.clock_mode + "\n";
    if (!options_.channels.empty()) {
        cfg += "CHANNELS=";
        for (size_t i = 0; i < options_.channels.size(); ++i) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%s%X", i ? "," : "", options_.channels[i]);
            cfg += hex;
        }
        cfg += "\n";
    }
    write_file(dir_ + "/WGSERV.CFG", cfg);
    std::string classes;
    for (const ClassDefinition &c : options_.classes) {
        char flags[8];
        std::snprintf(flags, sizeof flags, "%X", c.flags);
        classes += "[" + c.name + "]\nDESCRIPTION=" + c.description + "\nAUTO_SWITCH=" + c.auto_switch + "\nFLAGS=" +
                   flags + "\nCREDITS=" + std::to_string(c.credits) + "\nKEYS=";
        for (const std::string &k : c.keys) classes += k + " ";
        classes += "\n\n";
    }
    write_file(dir_ + "/CLASSES.CFG", classes);
}

bool Bbs::start() {
    set_message_test_mode(options_.test_messages);
    HostSettings settings;
    errors_.clear();
    if (!load_settings(dir_, settings, errors_)) return false;
    settings.run_missed_cleanup = options_.run_missed_cleanup;
    set_audit_listener([this](const AuditEntry &e) { audit.push_back(e); });
    set_mail_listener([this](const mail_header &h, const std::string &text) { sent_mail.push_back({h, text}); });
    started_ = start_host(dir_, settings, bin_dir(), &terminal_, &clock_, errors_);
    return started_;
}

void Bbs::stop() {
    if (!started_) return;
    stop_host("");
    set_audit_listener(nullptr);
    set_mail_listener(nullptr);
    started_ = false;
}

account_record Bbs::add_user(const std::string &user_id, const std::string &password, const std::string &class_name) {
    account_record a{};
    stlcpy(a.user_id, user_id.c_str(), sizeof a.user_id);
    stlcpy(a.class_name, class_name.c_str(), sizeof a.class_name);
    a.account_date = today();
    a.screen_width = 80;
    a.screen_length = 24;
    CallTransaction t;
    EXPECT_TRUE(save_account(a)) << user_id;
    EXPECT_TRUE(set_password(a.user_id, password)) << user_id;
    return a;
}

bool Bbs::read_account(const std::string &user_id, account_record &out) {
    CallTransaction t;
    return load_account(user_id.c_str(), out);
}

void Bbs::write_account(const account_record &account) {
    CallTransaction t;
    EXPECT_TRUE(save_account(account));
}

int Bbs::connect(int line, int32_t baud_rate) {
    if (line < 0) line = free_line();
    if (line < 0) {
        ADD_FAILURE() << "no free line";
        return -1;
    }
    terminal_.screens[line].connected = true;
    line_connected(line, baud_rate);
    return line;
}

void Bbs::type(int line, const std::string &text) { line_input(line, text); }

int Bbs::log_on(const std::string &user_id, const std::string &password, int line) {
    line = connect(line);
    type(line, user_id);
    type(line, password);
    return line;
}

void Bbs::hang_up(int line) {
    terminal_.screens[line].connected = false;
    line_dropped(line);
}

std::string Bbs::output(int line) { return terminal_.screens[line].received; }

std::string Bbs::take_output(int line) {
    std::string out;
    out.swap(terminal_.screens[line].received);
    return out;
}

void Bbs::clear_output() {
    for (auto &[n, s] : terminal_.screens) s.received.clear();
}

void Bbs::set_room(int line, int bytes) { terminal_.screens[line].room = bytes; }

bool Bbs::connected(int n) { return line_at(n) != nullptr && line_at(n)->road != Road::Free; }

void Bbs::advance(int seconds, int polling_rounds_per_second) {
    for (int s = 0; s < seconds; ++s) {
        clock_.step(1);
        host_tick();
        poll(polling_rounds_per_second);
    }
    if (seconds == 0) {
        host_tick();
        poll(polling_rounds_per_second);
    }
}

void Bbs::poll(int rounds) {
    for (int r = 0; r < rounds && polling_pending(); ++r) run_polling_round();
}

std::vector<Mail> Bbs::mail_to(const std::string &user_id) {
    CallTransaction t;
    return mail_for(user_id.c_str());
}

}  // namespace bbs::testing
