// The mail store behind simpsnd, and what callers do with their mail.
#include <cstring>

#include "sql.h"
#include "state.h"

namespace bbs {
namespace {
std::string field(const char *text, size_t size) { return std::string(text, strnlen(text, size)); }
}  // namespace

void init_mail() {
    const char *sql =
        "CREATE TABLE IF NOT EXISTS mail(id INTEGER PRIMARY KEY AUTOINCREMENT, from_name TEXT NOT NULL,"
        " to_name TEXT NOT NULL COLLATE NOCASE, subject TEXT NOT NULL, body TEXT NOT NULL, flags INTEGER NOT NULL,"
        " sent_date TEXT NOT NULL, sent_time TEXT NOT NULL, read INTEGER NOT NULL DEFAULT 0)";
    if (!Statement(sql).run()) report_startup_error("mail store: " + data_error());
}

bool store_mail(const std::string &from, const std::string &to, const std::string &subject, const std::string &body,
                uint32_t flags) {
    return Statement("INSERT INTO mail(from_name, to_name, subject, body, flags, sent_date, sent_time)"
                     " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .bind(1, from)
        .bind(2, to)
        .bind(3, subject)
        .bind(4, body)
        .bind(5, static_cast<int64_t>(flags))
        .bind(6, std::string(ncdate(today())))
        .bind(7, std::string(nctime(now())))
        .run();
}

std::vector<Mail> mail_for(const char *user_id) {
    std::vector<Mail> out;
    Statement st("SELECT id, from_name, to_name, subject, body, flags, sent_date, sent_time, read"
                 " FROM mail WHERE to_name = ?1 ORDER BY id");
    st.bind(1, user_id);
    while (st.row()) {
        Mail m;
        m.id = st.integer(0);
        m.from = st.text(1);
        m.to = st.text(2);
        m.subject = st.text(3);
        m.body = st.text(4);
        m.flags = static_cast<uint32_t>(st.integer(5));
        m.date = st.text(6);
        m.time = st.text(7);
        m.read = st.integer(8) != 0;
        out.push_back(m);
    }
    return out;
}

bool mark_mail_read(const Mail &mail) {
    if (mail.read) return true;
    bool ok = Statement("UPDATE mail SET read = 1 WHERE id = ?1").bind(1, mail.id).run();
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
    Statement st("DELETE FROM mail WHERE id = ?1 AND to_name = ?2");
    st.bind(1, id).bind(2, user_id);
    return st.run() && st.changes() > 0;
}

}  // namespace bbs

extern "C" int simpsnd(struct mail_header *header, const char *text, const char *) {
    if (header == nullptr) return 0;
    if (bbs::core().mail_listener) bbs::core().mail_listener(*header, text ? text : "");
    std::string to = bbs::field(header->to_name, sizeof header->to_name);
    if (to.empty()) return 0;
    return bbs::store_mail(bbs::field(header->from_name, sizeof header->from_name), to,
                           bbs::field(header->subject, sizeof header->subject), text ? text : "", header->mail_flags)
               ? 1
               : 0;
}
