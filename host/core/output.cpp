// Pending output, the audit trail, and the texts the host formats.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "msgfile.h"
#include "state.h"

namespace bbs {
namespace {
// The one pending-output buffer that prf and prfmsg fill and outprf and
// injoth empty. It never holds more than outbsz - 1 bytes: what does not
// fit is dropped, never written past the end.
std::string g_pending;

void append_formatted(const char *format, va_list args) {
    if (format == nullptr) return;
    size_t limit = outbsz > 1 ? static_cast<size_t>(outbsz - 1) : 0;
    if (g_pending.size() >= limit) return;
    char stack_buffer[1024];
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(stack_buffer, sizeof stack_buffer, format, copy);
    va_end(copy);
    if (n < 0) return;
    std::string text;
    if (static_cast<size_t>(n) < sizeof stack_buffer) {
        text.assign(stack_buffer, n);
    } else {
        text.resize(n + 1);
        vsnprintf(text.data(), text.size(), format, args);
        text.resize(n);
    }
    size_t room = limit - g_pending.size();
    if (text.size() > room) text.resize(room);
    g_pending += text;
}

std::string take_pending() {
    std::string out;
    out.swap(g_pending);
    return out;
}

// Rotating result buffers for the routines that return a formatted text
// (spr, ncdate, nctime, baudat): a caller may hold a few at once.
char *next_text_buffer() {
    static char buffers[8][2048];
    static int next = 0;
    char *b = buffers[next];
    next = (next + 1) % 8;
    return b;
}
}  // namespace

void deliver(int n, std::string_view bytes) {
    Core &c = core();
    Line *line = line_at(n);
    if (line == nullptr || line->road == Road::Free || c.terminal == nullptr || bytes.empty()) return;
    c.terminal->send(n, bytes);
}

void write_audit(const std::string &summary, const std::string &detail) {
    Core &c = core();
    AuditEntry e;
    e.date = ncdate(today());
    e.time = nctime(now());
    e.summary = summary;
    e.detail = detail;
    std::ofstream out(find_file_ignoring_case("AUDIT.TXT"), std::ios::app | std::ios::binary);
    if (out) out << e.date << ' ' << e.time << "  " << e.summary << '\n' << "                   " << e.detail << '\n';
    if (c.audit_listener) c.audit_listener(e);
}

}  // namespace bbs

using bbs::Line;

extern "C" {

void prf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    bbs::append_formatted(format, args);
    va_end(args);
}

void prfmsg(int number, ...) {
    const char *text = bbs::current_message_text(number);
    if (text == nullptr) return;
    va_list args;
    va_start(args, number);
    bbs::append_formatted(text, args);
    va_end(args);
}

void gprintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    bbs::append_formatted(format, args);
    va_end(args);
}

int outprf(int chan) {
    std::string text = bbs::take_pending();
    if (bbs::line_at(chan) == nullptr) return 0;
    bbs::deliver(chan, text);
    return 1;
}

int injoth(void) { return outprf(othusn); }

char *spr(const char *format, ...) {
    char *buffer = bbs::next_text_buffer();
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, 2048, format ? format : "", args);
    va_end(args);
    return buffer;
}

char *stzcpy(char *destination, const char *source, int size) {
    if (destination == nullptr || size <= 0) return destination;
    int i = 0;
    if (source != nullptr)
        for (; i < size - 1 && source[i] != '\0'; ++i) destination[i] = source[i];
    std::memset(destination + i, 0, size - i);  // the rest of the field is cleared
    return destination;
}

char *stlcpy(char *destination, const char *source, int size) {
    if (destination == nullptr || size <= 0) return destination;
    int i = 0;
    if (source != nullptr)
        for (; i < size - 1 && source[i] != '\0'; ++i) destination[i] = source[i];
    destination[i] = '\0';
    return destination;
}

void shocst(const char *summary, const char *format, ...) {
    char detail[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(detail, sizeof detail, format ? format : "", args);
    va_end(args);
    bbs::write_audit(summary ? summary : "", detail);
}

// The status of the current line as the who list shows it while the caller
// logs on. The speed text is the plug-in's rendering of the line's speed,
// which the host already knows; only the text and its number are kept.
void shochl(const char *text, int number, const char *) {
    Line *line = bbs::line_at(usrnum);
    if (line == nullptr) return;
    line->status_text = text != nullptr ? text : "";
    line->status_number = number;
}

char *baudat(int32_t speed, int) {
    char *buffer = bbs::next_text_buffer();
    if (speed <= 0)
        std::snprintf(buffer, 2048, "TELNET");
    else
        std::snprintf(buffer, 2048, "%ld", static_cast<long>(speed));
    return buffer;
}

// The current line takes the terminal settings of the account just loaded
// into it: the window the caller's terminal reported (if it did) wins over
// the size stored in the account, and the line wraps at the account's width.
void stansi(void) {
    Line *line = bbs::line_at(usrnum);
    if (line != nullptr) bbs::apply_window(*line);
}

// parsin splits a copy of the input line, so `input` always holds the whole
// line as typed: there is nothing to put back.
void rstrin(void) {}

// The line's flow-control and transfer settings: a telnet connection has
// none (see btuxnf), so there is nothing to restore.
void rstrxf(void) {}

char *makhdl(char *user_id) {
    // A user-ID as the host stores it: blanks at either end removed, the
    // first letter of each word in upper case.
    if (user_id == nullptr) return user_id;
    size_t n = std::strlen(user_id);
    size_t start = 0;
    while (start < n && user_id[start] == ' ') ++start;
    while (n > start && user_id[n - 1] == ' ') --n;
    std::memmove(user_id, user_id + start, n - start);
    user_id[n - start] = '\0';
    bool word_start = true;
    for (char *p = user_id; *p; ++p) {
        if (word_start && *p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
        word_start = (*p == ' ');
    }
    return user_id;
}

int bbsdsc(int chan) {
    Line *line = bbs::line_at(chan);
    if (line == nullptr || line->road == bbs::Road::Free) return 0;
    line->drop_requested = true;
    bbs::finish_drops();  // at once when no routine is running
    return 1;
}

void byenow(int number, ...) {
    const char *text = bbs::current_message_text(number);
    if (text != nullptr) {
        va_list args;
        va_start(args, number);
        bbs::append_formatted(text, args);
        va_end(args);
    }
    int chan = usrnum;
    outprf(chan);
    bbsdsc(chan);
}

}  // extern "C"
