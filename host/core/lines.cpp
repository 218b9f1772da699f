// Lines and the current-line globals.
#include <cstring>

#include "datafile.h"
#include "state.h"

namespace bbs {
namespace {
// What the current-line globals point at while no line is current (timer
// routines run with no line in particular): harmless records, never a
// caller's.
session_record g_scratch_session;
account_record g_scratch_account;
std::vector<char> g_scratch_vda(16);
std::vector<std::unique_ptr<CallTransaction>> g_transactions;
std::vector<int> g_saved_usrnum;
}  // namespace

Core &core() {
    static Core c;
    return c;
}

Line *line_at(int n) {
    Core &c = core();
    if (n < 0 || n >= static_cast<int>(c.lines.size())) return nullptr;
    return c.lines[n].get();
}

void set_line_count(int n) {
    Core &c = core();
    if (n < 0) n = 0;
    if (n > MAX_LINES) n = MAX_LINES;
    c.lines.clear();
    for (int i = 0; i < n; ++i) {
        auto line = std::make_unique<Line>();
        line->vda.assign(c.vda_size > 0 ? c.vda_size : 16, 0);
        std::strcpy(line->account.user_id, "(Free)");
        c.lines.push_back(std::move(line));
    }
    nterms = n;
    for (int i = 0; i < MAX_LINES; ++i) {
        int hw = i;
        if (i < static_cast<int>(c.settings.channels.size())) hw = c.settings.channels[i];
        channel[i] = hw;
    }
    if (static_cast<int>(c.vdatmp_buffer.size()) < outbsz) c.vdatmp_buffer.assign(outbsz > 0 ? outbsz : 1, 0);
    vdatmp = c.vdatmp_buffer.data();
    select_line(-1);
    othusn = 0;
    othusp = nterms > 0 ? &c.lines[0]->session : &g_scratch_session;
    othuap = nterms > 0 ? &c.lines[0]->account : &g_scratch_account;
}

void select_line(int n) {
    Line *line = line_at(n);
    if (line == nullptr) {
        usrnum = -1;
        usrptr = &g_scratch_session;
        usaptr = &g_scratch_account;
        vdaptr = g_scratch_vda.data();
        return;
    }
    usrnum = n;
    usrptr = &line->session;
    usaptr = &line->account;
    vdaptr = line->vda.data();
}

void begin_plugin_call(int line) {
    Core &c = core();
    g_saved_usrnum.push_back(usrnum);
    if (line != -2) select_line(line);  // -2: keep whatever line is current
    ++c.call_depth;
    g_transactions.push_back(std::make_unique<CallTransaction>());
}

void end_plugin_call() {
    Core &c = core();
    store_changed_system_variables();  // a change a routine made to sv2 is kept with its other work
    g_transactions.pop_back();  // commits when it is the outermost
    --c.call_depth;
    int saved = g_saved_usrnum.back();
    g_saved_usrnum.pop_back();
    if (c.call_depth == 0) {
        finish_drops();
    }
    select_line(saved);
}

void finish_drops() {
    Core &c = core();
    if (c.call_depth > 0) return;
    // Hanging up runs routines that may ask for more disconnections; go on
    // until none is left.
    for (bool again = true; again;) {
        again = false;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            if (c.lines[i]->drop_requested && c.lines[i]->road != Road::Free) {
                hang_up_now(static_cast<int>(i));
                again = true;
            }
        }
    }
}

}  // namespace bbs

extern "C" {

struct session_record *usroff(int chan) {
    bbs::Line *line = bbs::line_at(chan);
    return line ? &line->session : nullptr;
}

struct account_record *uacoff(int chan) {
    bbs::Line *line = bbs::line_at(chan);
    return line ? &line->account : nullptr;
}

char *vdaoff(int chan) {
    bbs::Line *line = bbs::line_at(chan);
    return line ? line->vda.data() : nullptr;
}

void curusr(int chan) { bbs::select_line(chan); }

void dclvda(int size) {
    bbs::Core &c = bbs::core();
    if (size <= 0) return;
    // Every line's area is as large as the largest any plug-in asked for.
    if (size > c.vda_size) {
        c.vda_size = size;
        for (auto &line : c.lines) line->vda.resize(size, 0);
        bbs::select_line(usrnum);
    }
}

void btutsw(int chan, int width) {
    // The line's own wrap width. The host never wraps a caller's output
    // (plug-ins format to the account's screen width themselves), so the
    // setting is only kept, never applied.
    bbs::Line *line = bbs::line_at(chan);
    if (line != nullptr) line->wrap_width = width;
}

void btuxnf(int, int, int) {
    // Flow-control characters: the telnet front end has no use for them.
}

int btuoba(int chan) {
    bbs::Core &c = bbs::core();
    if (bbs::line_at(chan) == nullptr || c.terminal == nullptr) return 0;
    return c.terminal->free_room(chan);
}

}  // extern "C"
