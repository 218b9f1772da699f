// The mail store behind simpsnd, and what callers do with their mail.
#include <sqlite3.h>

#include <cstring>

#include "datafile.h"
#include "state.h"

namespace bbs {
namespace {
std::string field(const char *text, size_t size) { return std::string(text, strnlen(text, size)); }

std::string column(sqlite3_stmt *st, int i) {
    const unsigned char *t = sqlite3_column_text(st, i);
    return t ? reinterpret_cast<const char *>(t) : "";
}
}  // namespace

void init_mail() {
    char *error = nullptr;
    const char *sql =
        "CREATE TABLE IF NOT EXISTS mail(id INTEGER PRIMARY KEY AUTOINCREMENT, from_name TEXT NOT NULL,"
        " to_name TEXT NOT NULL COLLATE NOCASE, subject TEXT NOT NULL, body TEXT NOT NULL, flags INTEGER NOT NULL,"
        " sent_date TEXT NOT NULL, sent_time TEXT NOT NULL, read INTEGER NOT NULL DEFAULT 0)";
    if (sqlite3_exec(host_db(), sql, nullptr, nullptr, &error) != SQLITE_OK) {
        report_startup_error(std::string("mail store: ") + (error ? error : "error"));
        sqlite3_free(error);
    }
}

bool store_mail(const std::string &from, const std::string &to, const std::string &subject, const std::string &body,
                uint32_t flags) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(host_db(),
                           "INSERT INTO mail(from_name, to_name, subject, body, flags, sent_date, sent_time)"
                           " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                           -1, &st, nullptr) != SQLITE_OK)
        return false;
    std::string date = ncdate(today()), time = nctime(now());
    sqlite3_bind_text(st, 1, from.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, to.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, subject.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 4, body.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(st, 5, flags);
    sqlite3_bind_text(st, 6, date.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 7, time.c_str(), -1, SQLITE_TRANSIENT);
    bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_finalize(st);
    return ok;
}

std::vector<Mail> mail_for(const char *user_id) {
    std::vector<Mail> out;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(host_db(),
                           "SELECT id, from_name, to_name, subject, body, flags, sent_date, sent_time, read"
                           " FROM mail WHERE to_name = ?1 ORDER BY id",
                           -1, &st, nullptr) != SQLITE_OK)
        return out;
    sqlite3_bind_text(st, 1, user_id, -1, SQLITE_TRANSIENT);
    while (sqlite3_step(st) == SQLITE_ROW) {
        Mail m;
        m.id = sqlite3_column_int64(st, 0);
        m.from = column(st, 1);
        m.to = column(st, 2);
        m.subject = column(st, 3);
        m.body = column(st, 4);
        m.flags = static_cast<uint32_t>(sqlite3_column_int64(st, 5));
        m.date = column(st, 6);
        m.time = column(st, 7);
        m.read = sqlite3_column_int(st, 8) != 0;
        out.push_back(m);
    }
    sqlite3_finalize(st);
    return out;
}

bool mark_mail_read(const Mail &mail) {
    if (mail.read) return true;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(host_db(), "UPDATE mail SET read = 1 WHERE id = ?1", -1, &st, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_int64(st, 1, mail.id);
    bool ok = sqlite3_step(st) == SQLITE_DONE;
    sqlite3_finalize(st);
    if (ok && (mail.flags & MAIL_RETURN_RECEIPT) != 0) {
        // The receipt goes to the sender's user-ID when he has an account;
        // a sender name that is no user gets none.
        account_record sender;
        if (load_account(mail.from.c_str(), sender))
            store_mail("System", sender.user_id, "Receipt: " + mail.subject,
                       mail.to + " read your message \"" + mail.subject + "\" on " + ncdate(today()) + " at " +
                           nctime(now()) + ".\n",
                       0);
    }
    return ok;
}

bool delete_mail(int64_t id, const char *user_id) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(host_db(), "DELETE FROM mail WHERE id = ?1 AND to_name = ?2", -1, &st, nullptr) !=
        SQLITE_OK)
        return false;
    sqlite3_bind_int64(st, 1, id);
    sqlite3_bind_text(st, 2, user_id, -1, SQLITE_TRANSIENT);
    bool ok = sqlite3_step(st) == SQLITE_DONE && sqlite3_changes(host_db()) > 0;
    sqlite3_finalize(st);
    return ok;
}

}  // namespace bbs

extern "C" int simpsnd(struct mail_header *header, const char *text, const char *) {
    if (header == nullptr) return 0;
    std::string to = bbs::field(header->to_name, sizeof header->to_name);
    if (to.empty()) return 0;
    return bbs::store_mail(bbs::field(header->from_name, sizeof header->from_name), to,
                           bbs::field(header->subject, sizeof header->subject), text ? text : "", header->mail_flags)
               ? 1
               : 0;
}
