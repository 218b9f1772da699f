// bbshost user list | show | add | set | delete.
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "config_lines.h"
#include "datafile.h"
#include "operator.h"
#include "operator_common.h"
#include "state.h"

namespace bbs {

namespace {

struct FlagName {
    const char *name;
    uint16_t bit;
};

// The account_flags bits the operator sets, by the names of host.h.
const FlagName kFlags[] = {
    {"NO_DEADBEAT", ACCOUNT_NO_DEADBEAT},
    {"PROTECTED", ACCOUNT_PROTECTED},
    {"SUSPENDED", ACCOUNT_SUSPENDED},
    {"TAGGED_FOR_DELETION", ACCOUNT_TAGGED_FOR_DELETION},
    {"CALLBACK_EXEMPT", ACCOUNT_CALLBACK_EXEMPT},
};

std::string flag_list() {
    std::string out;
    for (const FlagName &f : kFlags) out += (out.empty() ? "" : ", ") + std::string(f.name);
    return out;
}

std::string flags_text(uint16_t flags) {
    std::string out;
    for (const FlagName &f : kFlags) {
        if (flags & f.bit) out += (out.empty() ? "" : ",") + std::string(f.name);
        flags = static_cast<uint16_t>(flags & ~f.bit);
    }
    if (flags != 0) {
        char rest[16];
        std::snprintf(rest, sizeof rest, "0x%04X", flags);
        out += (out.empty() ? "" : ",") + std::string(rest);
    }
    return out.empty() ? "-" : out;
}

std::string join(const std::set<std::string> &words) {
    std::string out;
    for (const std::string &w : words) out += (out.empty() ? "" : ",") + w;
    return out.empty() ? "-" : out;
}

std::string field(const char *text, size_t size) { return std::string(text, strnlen(text, size)); }

// The user-ID rules of the caller's new-user form. Empty when `id` keeps them.
std::string user_id_fault(const std::string &id) {
    if (id.empty()) return "a user-ID may not be empty";
    if (id.size() >= UIDSIZ)
        return "'" + id + "' is too long: a user-ID has at most " + std::to_string(UIDSIZ - 1) + " characters";
    if (!isuidc(static_cast<unsigned char>(id[0])))
        return "'" + id + "' is not a user-ID: it must start with a letter or a digit";
    for (char c : id)
        if (!isuidc(static_cast<unsigned char>(c)) && c != ' ')
            return "'" + id + "' is not a user-ID: it may hold only letters, digits and blanks";
    if (id.back() == ' ') return "'" + id + "' is not a user-ID: it may not end with a blank";
    if (sameas(id.c_str(), "NEW")) return "NEW is the word callers type to sign up; it cannot be a user-ID";
    return "";
}

// A key name as CLASSES.CFG takes it: printable, no blanks or commas.
std::string key_fault(const std::string &key) {
    if (key.empty()) return "a key name may not be empty";
    if (key.size() > 64) return "the key name '" + key + "' is longer than 64 characters";
    for (char c : key)
        if (static_cast<unsigned char>(c) <= ' ' || c == ',' || static_cast<unsigned char>(c) >= 127)
            return "'" + key + "' is not a key name (printable characters, no blanks or commas)";
    return "";
}

// "+A,-B": each item with its sign. Empty when the list is well formed.
std::string split_changes(const std::string &value, const char *what, std::vector<std::pair<bool, std::string>> &out) {
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.size() < 2 || (item[0] != '+' && item[0] != '-'))
            return "'" + item + "' is not +" + what + " or -" + what + " (a list is separated by commas)";
        out.emplace_back(item[0] == '+', item.substr(1));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return "";
}

// A whole number lo..hi. Empty when `text` is one.
std::string number_fault(const std::string &text, const char *what, long lo, long hi, long &out) {
    std::string range = std::to_string(lo) + ".." + std::to_string(hi);
    auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    if (text.empty() || r.ptr != text.data() + text.size() || r.ec == std::errc::invalid_argument)
        return what + std::string(": '") + text + "' is not a whole number (" + range + ")";
    if (r.ec != std::errc() || out < lo || out > hi) return what + std::string(" ") + text + " is outside " + range;
    return "";
}

// A day YYYY-MM-DD that a packed date holds (1980-01-01 to 2107-12-31).
// Empty when `text` is one; `out` gets the packed date.
std::string date_fault(const std::string &text, uint16_t &out) {
    std::string why = "account-date: '" + text + "' is not a day written YYYY-MM-DD from 1980-01-01 to 2107-12-31";
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return why;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return why;
    int year = std::stoi(text.substr(0, 4)), month = std::stoi(text.substr(5, 2)), day = std::stoi(text.substr(8, 2));
    static const int days_in[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 ||
        day > days_in[month - 1] + (month == 2 && leap ? 1 : 0))
        return why;
    out = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    return "";
}

bool find_account(const std::string &id, account_record &out) {
    CallTransaction t;
    return load_account(id.c_str(), out);
}

int no_account(const std::string &id) { return fail("there is no account with the user-ID '" + id + "'"); }

// Ends a unit of work: false (after saying so) when the data files failed.
bool written(const std::string &what) {
    if (data_error().empty()) return true;
    fail(what + " failed: " + data_error() + "; nothing was changed");
    return false;
}

const ClassDefinition *find_class(const HostSettings &settings, const std::string &name) {
    for (const ClassDefinition &c : settings.classes)
        if (same_key(c.name, name)) return &c;
    return nullptr;
}

int no_class(const HostSettings &settings, const std::string &name) {
    std::string known;
    for (const ClassDefinition &c : settings.classes) known += (known.empty() ? "" : ", ") + c.name;
    return fail("there is no class '" + name + "' in CLASSES.CFG (classes: " + known + ")");
}

int user_list(const std::string &dir) {
    HostSettings settings;
    HostFiles files;
    if (!check_bbs_directory(dir) || !read_settings(dir, settings, false) || !files.open(dir, settings)) return kFailed;
    std::vector<account_record> all;
    {
        CallTransaction t;
        account_record a;
        dfaSetBlk(accbb);
        for (int ok = dfaStepLock(&a, DFA_STEP_FIRST, 0); ok; ok = dfaStepLock(&a, DFA_STEP_NEXT, 0)) all.push_back(a);
        dfaRstBlk();
    }
    if (!data_error().empty()) return fail("cannot read the accounts: " + data_error());
    std::sort(all.begin(), all.end(),
              [](const account_record &a, const account_record &b) { return strcasecmp(a.user_id, b.user_id) < 0; });
    std::printf("%-29s %-15s %-10s %11s  %s\n", "User-ID", "Class", "Last call", "Credits", "Flags");
    for (const account_record &a : all)
        std::printf("%-29s %-15s %-10s %11ld  %s\n", field(a.user_id, sizeof a.user_id).c_str(),
                    field(a.class_name, sizeof a.class_name).c_str(), iso_date(a.last_call_date).c_str(),
                    static_cast<long>(a.credit_balance), flags_text(a.account_flags).c_str());
    std::printf("%zu account%s\n", all.size(), all.size() == 1 ? "" : "s");
    return 0;
}

int user_show(const std::string &dir, const std::string &id) {
    HostSettings settings;
    HostFiles files;
    if (!check_bbs_directory(dir) || !read_settings(dir, settings, false) || !files.open(dir, settings)) return kFailed;
    account_record a;
    if (!find_account(id, a)) return no_account(id);
    std::string user = field(a.user_id, sizeof a.user_id);
    std::set<std::string> keys, class_keys;
    size_t mails = 0, unread = 0;
    {
        CallTransaction t;
        keys = own_keys(a.user_id);
        for (const Mail &m : mail_for(a.user_id)) {
            ++mails;
            unread += m.read ? 0 : 1;
        }
    }
    if (!data_error().empty()) return fail("cannot read the account's keys and mail: " + data_error());
    std::string class_name = field(a.class_name, sizeof a.class_name);
    const ClassDefinition *cls = find_class(settings, class_name);
    if (cls != nullptr)
        for (const std::string &k : cls->keys) class_keys.insert(k);
    std::printf("User-ID:          %s\n", user.c_str());
    std::printf("Class:            %s%s\n", class_name.c_str(), cls ? "" : "  (not a class of CLASSES.CFG)");
    std::printf("Class keys:       %s\n", join(class_keys).c_str());
    std::printf("Own keys:         %s\n", join(keys).c_str());
    std::string previous = field(a.previous_class_name, sizeof a.previous_class_name);
    std::printf("Previous class:   %s\n", previous.empty() ? "-" : previous.c_str());
    std::printf("Timed class ends: %s\n", iso_date(a.class_until, "-").c_str());
    std::printf("Flags:            %s\n", flags_text(a.account_flags).c_str());
    std::printf("Credits:          %ld (posted %ld, retained %ld)\n", static_cast<long>(a.credit_balance),
                static_cast<long>(a.credits_posted), static_cast<long>(a.retained_credits));
    std::printf("Account made:     %s\n", iso_date(a.account_date, "-").c_str());
    std::printf("Last call:        %s\n", iso_date(a.last_call_date).c_str());
    std::printf("Calls:            %lu\n", static_cast<unsigned long>(a.total_calls));
    std::printf("Screen:           %u columns, %u lines\n", a.screen_width, a.screen_length);
    std::printf("Terminal flags:   %02X\n", a.terminal_flags);
    std::printf("Mail:             %zu (%zu unread)\n", mails, unread);
    return 0;
}

int user_add(const std::string &dir, const std::vector<std::string> &args) {
    const std::string &id = args[1];
    if (std::string why = user_id_fault(id); !why.empty()) return fail(why);
    HostSettings settings;
    if (!check_bbs_directory(dir) || !read_settings(dir, settings, true)) return kFailed;
    std::string wanted = args.size() > 2 ? args[2] : settings.new_user_class;
    const ClassDefinition *cls = find_class(settings, wanted);
    if (cls == nullptr) return no_class(settings, wanted);
    HostFiles files;
    if (!files.open(dir, settings)) return kFailed;
    account_record existing;
    if (find_account(id, existing))
        return fail("there is already an account '" + field(existing.user_id, sizeof existing.user_id) + "'");
    std::string password, why;
    if (!read_new_password(id, password, why)) return fail(why + "; no account made");

    account_record a{};
    stlcpy(a.user_id, id.c_str(), sizeof a.user_id);
    stlcpy(a.class_name, cls->name.c_str(), sizeof a.class_name);
    a.account_date = today();
    a.screen_width = 80;
    a.screen_length = 24;
    a.credit_balance = cls->credits;
    bool taken = false;
    {
        CallTransaction t;
        // Again inside the unit that writes: a caller may have signed up meanwhile.
        taken = load_account(a.user_id, existing);
        if (!taken && !(save_account(a) && set_password(a.user_id, password)))
            report_data_error(data_error().empty() ? "the password could not be hashed" : data_error());
    }
    if (taken) return fail("there is already an account '" + id + "'");
    if (!written("making the account")) return kFailed;
    write_audit("NEW USER", "User-ID: " + id + " (added by the operator)");
    std::printf("account %s made: class %s, %ld credits\n", id.c_str(), cls->name.c_str(),
                static_cast<long>(a.credit_balance));
    return 0;
}

const char *const kFields = "class, password, credits, flags, screen-width, screen-length, key, account-date";

int user_set(const std::string &dir, const std::vector<std::string> &args) {
    const std::string &id = args[1];
    const std::string &name = args[2];
    static const char *const fields[] = {"class",        "password",      "credits", "flags",
                                         "screen-width", "screen-length", "key",     "account-date"};
    if (std::none_of(std::begin(fields), std::end(fields), [&](const char *f) { return name == f; }))
        return usage_error("user set: no field '" + name + "' (fields: " + kFields + ")");
    if (name == "password" && args.size() != 3)
        return usage_error(
            "user set ID password takes no value on the command line, where others can see it: "
            "it is asked for on a terminal, or read from stdin");
    if (name != "password" && args.size() != 4) return usage_error("user set ID " + name + " needs a VALUE");
    const std::string value = args.size() > 3 ? args[3] : "";

    DirectoryLock lock;
    HostSettings settings;
    HostFiles files;
    if (!check_bbs_directory(dir) || !lock_directory(lock, dir, "user set") ||
        !read_settings(dir, settings, name == "class") || !files.open(dir, settings))
        return kFailed;
    account_record a;
    if (!find_account(id, a)) return no_account(id);
    const std::string user = field(a.user_id, sizeof a.user_id);
    account_record changed = a;
    std::string done;  // what changed, for the operator and the audit trail

    if (name == "class") {
        const ClassDefinition *cls = find_class(settings, value);
        if (cls == nullptr) return no_class(settings, value);
        std::string old = field(a.class_name, sizeof a.class_name);
        if (same_key(old, cls->name) && a.class_until == 0) {
            std::printf("%s is in class %s already; nothing changed\n", user.c_str(), cls->name.c_str());
            return 0;
        }
        {
            CallTransaction t;
            // A permanent switch: a timed class the account was in ends here.
            if (!swtcls(&changed, 0, cls->name.c_str(), 1, 0)) report_data_error("the class switch was refused");
        }
        if (!written("switching the class")) return kFailed;
        done = "class " + old + " -> " + cls->name;
    } else if (name == "password") {
        std::string password, why;
        if (!read_new_password(user, password, why)) return fail(why + "; nothing changed");
        {
            CallTransaction t;
            if (!set_password(a.user_id, password))
                report_data_error(data_error().empty() ? "the password could not be hashed" : data_error());
        }
        if (!written("setting the password")) return kFailed;
        done = "password changed";
    } else if (name == "key") {
        std::vector<std::pair<bool, std::string>> changes;
        if (std::string why = split_changes(value, "KEY", changes); !why.empty()) return fail(why);
        std::set<std::string> own;
        {
            CallTransaction t;
            own = own_keys(a.user_id);
        }
        for (auto &[give, key] : changes) {
            if (std::string why = key_fault(key); !why.empty()) return fail(why);
            for (char &c : key) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            if (give || own.count(key)) continue;
            std::string why = user + " holds no own key " + key + " (own keys: " + join(own) + ")";
            const ClassDefinition *cls = find_class(settings, field(a.class_name, sizeof a.class_name));
            if (cls &&
                std::any_of(cls->keys.begin(), cls->keys.end(), [&](const std::string &k) { return same_key(k, key); }))
                why += "; the class " + cls->name + " gives it: change the class or CLASSES.CFG";
            return fail(why + "; nothing changed");
        }
        {
            CallTransaction t;
            for (const auto &[give, key] : changes)
                if (!give_key(a.user_id, key, give)) break;
        }
        if (!written("changing the keys")) return kFailed;
        std::set<std::string> after;
        {
            CallTransaction t;
            after = own_keys(a.user_id);
        }
        done = "own keys " + join(own) + " -> " + join(after);
    } else {
        if (name == "flags") {
            std::vector<std::pair<bool, std::string>> changes;
            if (std::string why = split_changes(value, "NAME", changes); !why.empty())
                return fail(why + " (names: " + flag_list() + ")");
            for (const auto &[set, flag] : changes) {
                const FlagName *f = std::find_if(std::begin(kFlags), std::end(kFlags),
                                                 [&](const FlagName &k) { return same_key(k.name, flag); });
                if (f == std::end(kFlags)) return fail("there is no flag '" + flag + "' (flags: " + flag_list() + ")");
                changed.account_flags =
                    static_cast<uint16_t>(set ? changed.account_flags | f->bit : changed.account_flags & ~f->bit);
            }
            done = "flags " + flags_text(a.account_flags) + " -> " + flags_text(changed.account_flags);
        } else if (name == "account-date") {
            if (std::string why = date_fault(value, changed.account_date); !why.empty())
                return fail(why + "; nothing changed");
            done = "account made " + iso_date(a.account_date, "-") + " -> " + iso_date(changed.account_date);
        } else {
            long n = 0;
            std::string why;
            if (name == "credits") {
                why = number_fault(value, "credits", 0, INT32_MAX, n);
                changed.credit_balance = static_cast<int32_t>(n);
                done = "credits " + std::to_string(a.credit_balance) + " -> " + std::to_string(n);
            } else if (name == "screen-width") {
                why = number_fault(value, "screen-width", 20, 255, n);
                changed.screen_width = static_cast<uint8_t>(n);
                done = "screen width " + std::to_string(a.screen_width) + " -> " + std::to_string(n);
            } else {
                why = number_fault(value, "screen-length (0: not set, 24 lines are used)", 0, 255, n);
                changed.screen_length = static_cast<uint8_t>(n);
                done = "screen length " + std::to_string(a.screen_length) + " -> " + std::to_string(n);
            }
            if (!why.empty()) return fail(why + "; nothing changed");
        }
        {
            CallTransaction t;
            account_record now;
            // The record as it is now, with only this field changed.
            if (load_account(a.user_id, now)) {
                if (name == "flags") now.account_flags = changed.account_flags;
                if (name == "account-date") now.account_date = changed.account_date;
                if (name == "credits") now.credit_balance = changed.credit_balance;
                if (name == "screen-width") now.screen_width = changed.screen_width;
                if (name == "screen-length") now.screen_length = changed.screen_length;
                if (!save_account(now))
                    report_data_error(data_error().empty() ? "the account could not be written" : data_error());
            } else {
                report_data_error("the account is gone");
            }
        }
        if (!written("changing the account")) return kFailed;
    }
    write_audit("ACCOUNT CHANGED", "User-ID: " + user + ": " + done + " (by the operator)");
    std::printf("%s: %s\n", user.c_str(), done.c_str());
    return 0;
}

int user_delete(const std::string &dir, const std::string &id) {
    DirectoryLock lock;
    HostSettings settings;
    if (!check_bbs_directory(dir) || !lock_directory(lock, dir, "user delete") || !read_settings(dir, settings, true))
        return kFailed;
    {
        // Looked up first: an unknown user-ID need not start the plug-ins.
        HostFiles files;
        account_record a;
        if (!files.open(dir, settings)) return kFailed;
        if (!find_account(id, a)) return no_account(id);
    }
    PluginHost host;
    if (!host.start(dir, settings)) return kFailed;
    clear_data_error();
    account_record a;
    bool removed = false;
    {
        CallTransaction t;
        if (load_account(id.c_str(), a)) removed = remove_account(a, "deleted by the operator");
    }
    if (!written("deleting the account")) return kFailed;
    if (!removed) return no_account(id);
    std::printf("account %s deleted\n", field(a.user_id, sizeof a.user_id).c_str());
    return 0;
}

}  // namespace

int command_user(const std::string &dir, const std::vector<std::string> &args) {
    const std::string verb = args.empty() ? "" : args[0];
    if (verb == "list" && args.size() == 1) return user_list(dir);
    if (verb == "show" && args.size() == 2) return user_show(dir, args[1]);
    if (verb == "add" && (args.size() == 2 || args.size() == 3)) return user_add(dir, args);
    if (verb == "set" && (args.size() == 3 || args.size() == 4)) return user_set(dir, args);
    if (verb == "delete" && args.size() == 2) return user_delete(dir, args[1]);
    return usage_error(
        "user takes: list | show ID | add ID [CLASS] | set ID FIELD VALUE | delete ID "
        "(quote a user-ID that holds blanks)");
}

}  // namespace bbs
