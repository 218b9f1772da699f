// Accounts, classes, keys, passwords; finding users on-line.
#include <crypt.h>

#include <cstring>
#include <deque>

#include "sql.h"
#include "state.h"

namespace bbs {
namespace {
// Class records live as long as the host: plug-ins keep pointers to them.
std::deque<class_record> g_class_records;

std::string upper(std::string s) {
    for (char &ch : s) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    return s;
}

void exec(const char *sql) {
    if (!Statement(sql).run()) report_startup_error(std::string("host database: ") + data_error());
}

std::set<std::string> keys_of(const char *user_id, const char *class_name) {
    std::set<std::string> keys = own_keys(user_id);
    if (const ClassDefinition *cls = class_definition(class_name))
        for (const std::string &k : cls->keys) keys.insert(upper(k));
    return keys;
}

int pseudo_key(int chan, const char *key_name, bool &answered) {
    std::string name = upper(key_name);
    for (const PseudoKey &p : core().pseudo_keys) {
        if (p.name == name) {
            answered = true;
            if (chan < 0) return 0;
            return p.routine(chan, key_name);
        }
    }
    answered = false;
    return 0;
}

bool holds(const std::set<std::string> &keys, int chan, const char *key_name) {
    if (key_name == nullptr || key_name[0] == '\0') return true;  // the empty key: everyone
    bool answered = false;
    int r = pseudo_key(chan, key_name, answered);
    if (answered) return r != 0;
    return keys.count("SYSOP") > 0 || keys.count(upper(key_name)) > 0;
}

// Channel of the line on which user_id is signed on, or -1.
int signed_on_line(const char *user_id, int min_class) {
    Core &c = core();
    for (size_t i = 0; i < c.lines.size(); ++i) {
        Line &line = *c.lines[i];
        if (line.road == Road::Free || line.session.session_class < min_class) continue;
        if (sameas(line.account.user_id, user_id)) return static_cast<int>(i);
    }
    return -1;
}

void point_other(int chan) {
    othusn = chan;
    othusp = &core().lines[chan]->session;
    othuap = &core().lines[chan]->account;
}
}  // namespace

std::set<std::string> own_keys(const char *user_id) {
    std::set<std::string> keys;
    // Asked for every account a clean-up walks (uhskey): kept prepared.
    Statement st("SELECT key FROM user_keys WHERE user_id = ?1", Kept{});
    st.bind(1, user_id);
    while (st.row()) keys.insert(upper(st.text(0)));
    return keys;
}

void init_classes() {
    Core &c = core();
    g_class_records.clear();
    for (const ClassDefinition &def : c.settings.classes) {
        class_record r{};
        stlcpy(r.class_name, def.name.c_str(), sizeof r.class_name);
        stlcpy(r.description, def.description.c_str(), sizeof r.description);
        stlcpy(r.auto_switch_class, def.auto_switch.c_str(), sizeof r.auto_switch_class);
        r.class_flags = def.flags;
        r.default_credits = def.credits;
        g_class_records.push_back(r);
    }
}

void init_accounts() {
    exec("CREATE TABLE IF NOT EXISTS passwords(user_id TEXT PRIMARY KEY COLLATE NOCASE, hash TEXT NOT NULL)");
    exec("CREATE TABLE IF NOT EXISTS user_keys(user_id TEXT NOT NULL COLLATE NOCASE, key TEXT NOT NULL,"
         " PRIMARY KEY(user_id, key))");
}

const ClassDefinition *class_definition(const char *name) {
    for (const ClassDefinition &def : core().settings.classes)
        if (name != nullptr && sameas(def.name.c_str(), name)) return &def;
    return nullptr;
}

bool load_account(const char *user_id, account_record &out) {
    if (accbb == nullptr || user_id == nullptr) return false;
    char key[UIDSIZ] = {};
    stlcpy(key, user_id, sizeof key);
    dfaSetBlk(accbb);
    int found = dfaAcqLock(&out, key, 0, DFA_GET_EQUAL, 0);
    dfaRstBlk();
    return found != 0;
}

bool save_account(const account_record &account) {
    if (accbb == nullptr) return false;
    account_record existing;
    dfaSetBlk(accbb);
    int ok;
    if (dfaAcqLock(&existing, account.user_id, 0, DFA_GET_EQUAL, 0))
        ok = dfaUpdate(&account);
    else
        ok = dfaInsert(&account);
    dfaRstBlk();
    return ok != 0;
}

void load_class_keys(Line &line, const char *class_name) {
    line.keys = keys_of(line.account.user_id, class_name);
}

bool set_password(const char *user_id, const std::string &password) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn("$y$", 0, nullptr, 0, salt, sizeof salt) == nullptr) return false;
    crypt_data data{};
    const char *hash = crypt_r(password.c_str(), salt, &data);
    if (hash == nullptr || hash[0] == '*') return false;
    return Statement("INSERT OR REPLACE INTO passwords(user_id, hash) VALUES(?1, ?2)")
        .bind(1, user_id)
        .bind(2, hash)
        .run();
}

bool check_password(const char *user_id, const std::string &password) {
    Statement st("SELECT hash FROM passwords WHERE user_id = ?1");
    st.bind(1, user_id);
    std::string stored = st.row() ? st.text(0) : "";
    if (stored.empty()) return false;
    crypt_data data{};
    const char *hash = crypt_r(password.c_str(), stored.c_str(), &data);
    return hash != nullptr && stored == hash;
}

bool give_key(const char *user_id, const std::string &key, bool give) {
    const char *sql = give ? "INSERT OR IGNORE INTO user_keys(user_id, key) VALUES(?1, ?2)"
                           : "DELETE FROM user_keys WHERE user_id = ?1 AND key = ?2";
    return Statement(sql).bind(1, user_id).bind(2, upper(key)).run();
}

// Removes an account and everything the host and the plug-ins keep of it.
bool remove_account(const account_record &account, const char *why) {
    char user_id[UIDSIZ];
    stlcpy(user_id, account.user_id, sizeof user_id);
    account_record existing;
    bool removed = false;
    if (accbb != nullptr) {
        dfaSetBlk(accbb);
        if (dfaAcqLock(&existing, user_id, 0, DFA_GET_EQUAL, 0)) removed = dfaDelete() != 0;
        dfaRstBlk();
    }
    for (const char *sql : {"DELETE FROM passwords WHERE user_id = ?1", "DELETE FROM user_keys WHERE user_id = ?1",
                            "DELETE FROM mail WHERE to_name = ?1"})
        Statement(sql).bind(1, user_id).run();
    Core &c = core();
    for (size_t i = 1; i < c.modules.size(); ++i)
        if (auto routine = c.modules[i]->delete_account_routine) plugin_call(-2, [&] { routine(user_id); });
    write_audit("ACCOUNT DELETED", std::string("User-ID: ") + user_id + " (" + why + ")");
    return removed;
}

}  // namespace bbs

using bbs::Line;

extern "C" {

int haskey(const char *key_name) {
    Line *line = bbs::line_at(usrnum);
    if (line == nullptr) return 0;
    return bbs::holds(line->keys, usrnum, key_name);
}

int othkey(const char *key_name) {
    Line *line = bbs::line_at(othusn);
    if (line == nullptr) return 0;
    return bbs::holds(line->keys, othusn, key_name);
}

int uhskey(const struct account_record *account, const char *key_name) {
    if (account == nullptr) return 0;
    char user_id[UIDSIZ];
    stlcpy(user_id, account->user_id, sizeof user_id);
    char class_name[sizeof account->class_name + 1];
    stlcpy(class_name, account->class_name, sizeof class_name);
    // A pseudo-key is answered for a line: the user's, when he is on-line.
    int chan = bbs::signed_on_line(user_id, 1);
    return bbs::holds(bbs::keys_of(user_id, class_name), chan, key_name);
}

void loadkeys(const char *class_name) {
    Line *line = bbs::line_at(usrnum);
    if (line != nullptr) bbs::load_class_keys(*line, class_name);
}

struct class_record *fndcls(const char *class_name) {
    for (class_record &r : bbs::g_class_records)
        if (class_name != nullptr && sameas(r.class_name, class_name)) return &r;
    return nullptr;
}

// Moves an account into a class: the record given, the account file and,
// when the user is on-line, his record in memory and his keys. The class is
// stored under its own name as CLASSES.CFG writes it. A timed switch (days
// above 0) ends at the clean-up after its days and goes back to the class
// it remembers; a switch with `keep_previous` remembers the class it leaves
// even when it is for good. A timed switch into the class a timed switch
// already put the account in starts its days again and keeps the class to
// go back to: remembering the timed class itself would make it last for ever.
int swtcls(struct account_record *account, int keep_previous, const char *class_name, int, int days) {
    if (account == nullptr) return 0;
    const class_record *target = fndcls(class_name);
    if (target == nullptr) return 0;
    char old_class[sizeof account->class_name + 1];
    stlcpy(old_class, account->class_name, sizeof old_class);
    bool timed_again = sameas(old_class, target->class_name) && account->class_until != 0 &&
                       account->previous_class_name[0] != '\0';
    if ((days > 0 || keep_previous) && !timed_again)
        stlcpy(account->previous_class_name, old_class, sizeof account->previous_class_name);
    if (days <= 0 && !keep_previous) account->previous_class_name[0] = '\0';
    stlcpy(account->class_name, target->class_name, sizeof account->class_name);
    account->class_until = days > 0 ? bbs::packed_date_after(today(), days) : 0;
    // The file and the caller on-line (if he is) both follow.
    int chan = bbs::signed_on_line(account->user_id, 1);
    if (Line *line = bbs::line_at(chan)) {
        if (&line->account != account) {
            std::memcpy(line->account.previous_class_name, account->previous_class_name, sizeof account->previous_class_name);
            std::memcpy(line->account.class_name, account->class_name, sizeof account->class_name);
            line->account.class_until = account->class_until;
        }
        bbs::load_class_keys(*line, account->class_name);
        line->session.current_class_record = fndcls(account->class_name);
    }
    account_record stored;
    if (bbs::load_account(account->user_id, stored)) {
        std::memcpy(stored.previous_class_name, account->previous_class_name, sizeof stored.previous_class_name);
        std::memcpy(stored.class_name, account->class_name, sizeof stored.class_name);
        stored.class_until = account->class_until;
        bbs::save_account(stored);
    }
    return 1;
}

void accacct(struct account_record *, int) {
    // The host keeps no per-account counters that a change must be wrapped
    // in; the changed record reaches the file when it is written back.
}

// A plug-in hands over an account to be removed (NoGhost does so for an
// account whose class no longer exists). The host removes nothing on the
// spot: a class missing after an edit of CLASSES.CFG must not cost its
// members their accounts, passwords and mail. The account is tagged for
// deletion, which makes it absent to every log-on from then on, and the
// audit trail says so; the operator's purge removes it, or the operator mends
// it (the class back, the flag cleared with `user set`). 1 when the account
// is tagged (now or before), 0 when there is no such account.
int delacct(struct account_record *account) {
    if (account == nullptr) return 0;
    char user_id[UIDSIZ];
    stlcpy(user_id, account->user_id, sizeof user_id);
    account_record stored;
    if (!bbs::load_account(user_id, stored)) return 0;
    account->account_flags |= ACCOUNT_TAGGED_FOR_DELETION;
    // A line that holds the account writes it back when it hangs up: that
    // copy carries the tag too, so the hang-up does not undo it.
    for (auto &line : bbs::core().lines)
        if (line->road != bbs::Road::Free && sameas(line->account.user_id, user_id))
            line->account.account_flags |= ACCOUNT_TAGGED_FOR_DELETION;
    if (stored.account_flags & ACCOUNT_TAGGED_FOR_DELETION) return 1;
    stored.account_flags |= ACCOUNT_TAGGED_FOR_DELETION;
    if (!bbs::save_account(stored)) return 0;
    char class_name[sizeof stored.class_name + 1];
    stlcpy(class_name, stored.class_name, sizeof class_name);
    bbs::write_audit("ACCOUNT TAGGED FOR DELETION", std::string("User-ID: ") + user_id + " (class " + class_name +
                                                        "; handed over by a plug-in, bbshost purge removes it)");
    return 1;
}

int tstcrd(long amount) {
    Line *line = bbs::line_at(usrnum);
    if (line == nullptr) return 0;
    return line->account.credit_balance >= amount;
}

int onsys(const char *user_id) {
    int chan = bbs::signed_on_line(user_id, 4);
    if (chan < 0) return 0;
    bbs::point_other(chan);
    return 1;
}

// The flag asks for signed-on users only, which is all onsys looks at.
int onsysn(const char *user_id, int) { return onsys(user_id); }

int onbbs(const char *user_id, int) {
    int chan = bbs::signed_on_line(user_id, 1);
    if (chan < 0) return 0;
    uisusn = chan;
    return 1;
}

}  // extern "C"
