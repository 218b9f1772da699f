// What the operator's commands share: messages and exit statuses, the BBS
// directory's checks, passwords typed or piped in, and the host's files
// opened with or without the plug-ins.
#ifndef BBS_OPERATOR_COMMON_H
#define BBS_OPERATOR_COMMON_H

#include <cstdint>
#include <string>
#include <vector>

#include "core.h"
#include "dir_lock.h"
#include "system_clock.h"

namespace bbs {

// Exit statuses: 0 done, 1 refused or failed (nothing changed), 2 wrong usage.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// "bbshost: TEXT" on stderr; returns kFailed.
int fail(const std::string &text);
// "bbshost: TEXT" and a pointer to --help on stderr; returns kUsage.
int usage_error(const std::string &text);

// True when `dir` is a BBS directory (it holds WGSERV.CFG); else says why
// on stderr.
bool check_bbs_directory(const std::string &dir);

// Reads the settings of `dir`. With `required`, faults are printed and the
// result is false; without, they are ignored and the defaults stand in.
bool read_settings(const std::string &dir, HostSettings &settings, bool required);

// Takes the directory lock for `task`; on refusal says why on stderr.
bool lock_directory(DirectoryLock &lock, const std::string &dir, const std::string &task);

// A new password: asked twice, not echoed, when stdin is a terminal;
// otherwise the first line of stdin. 4 to 64 characters, none of them a
// control character (a caller could not type it). False, with the reason.
bool read_new_password(const std::string &user_id, std::string &password, std::string &why);
// The same rule for a password already in hand: empty when it is fit.
std::string password_fault(const std::string &password);

// YYYY-MM-DD of a packed date; `none` for 0.
std::string iso_date(uint16_t packed, const char *none = "never");

// The host's files without the plug-ins, on the system clock; closed at the
// end of the scope.
class HostFiles {
public:
    HostFiles() = default;
    ~HostFiles();
    HostFiles(const HostFiles &) = delete;
    HostFiles &operator=(const HostFiles &) = delete;
    // False after saying why on stderr.
    bool open(const std::string &dir, const HostSettings &settings);

private:
    SystemClock clock_;
    bool open_ = false;
};

// The host started with its plug-ins and no callers, for work that must
// reach every plug-in (purge, deleting an account, the clean-up). A missed
// clean-up is not run. Audit entries are echoed on stdout. Stopped at the
// end of the scope.
class PluginHost {
public:
    PluginHost() = default;
    ~PluginHost();
    PluginHost(const PluginHost &) = delete;
    PluginHost &operator=(const PluginHost &) = delete;
    // False after saying why on stderr. Plug-ins that were skipped are
    // named on stderr: their routines do not run.
    bool start(const std::string &dir, HostSettings settings);

private:
    SystemClock clock_;
    NoTerminal terminal_;
    bool started_ = false;
};

}  // namespace bbs

#endif
