// Registration of plug-ins and their routines; timers and polling.
#include <algorithm>
#include <cstring>

#include "state.h"

namespace {
constexpr int kMaxModules = 64;
}

extern "C" {
struct module_descriptor *module[kMaxModules];
}

namespace bbs {

void reset_registrations() {
    Core &c = core();
    c.modules.clear();
    std::fill(std::begin(module), std::end(module), nullptr);
    c.connect_hooks.clear();
    c.disconnect_hooks.clear();
    c.global_commands.clear();
    c.timers.clear();
    c.pseudo_keys.clear();
    c.vda_size = 0;
}

// The host's own entry in the module table: its menu is module 0.
module_descriptor g_menu_descriptor = {"Main menu", {}, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr};

void register_menu() {
    Core &c = core();
    if (c.modules.empty()) {
        c.modules.push_back(&g_menu_descriptor);
        module[0] = &g_menu_descriptor;
    }
}

void run_due_timers() {
    Core &c = core();
    if (c.clock == nullptr) return;
    // A routine may re-arm itself (or arm others) while we run: take the due
    // ones in order, one at a time, and only those due by now.
    int64_t now_ms = c.clock->monotonic_ms();
    for (;;) {
        auto due = std::min_element(c.timers.begin(), c.timers.end(), [](const Timer &a, const Timer &b) {
            return a.due_ms != b.due_ms ? a.due_ms < b.due_ms : a.sequence < b.sequence;
        });
        if (due == c.timers.end() || due->due_ms > now_ms) return;
        void (*routine)() = due->routine;
        c.timers.erase(due);
        plugin_call(-1, [&] { routine(); });
    }
}

int64_t next_timer_ms() {
    Core &c = core();
    int64_t best = -1;
    for (const Timer &t : c.timers)
        if (best < 0 || t.due_ms < best) best = t.due_ms;
    return best;
}

bool polling_pending() {
    for (auto &line : core().lines)
        if (line->poller != nullptr) return true;
    return false;
}

bool run_polling_round() {
    Core &c = core();
    bool any = false;
    for (size_t i = 0; i < c.lines.size(); ++i) {
        void (*routine)() = c.lines[i]->poller;
        if (routine == nullptr || c.lines[i]->road == Road::Free) continue;
        any = true;
        plugin_call(static_cast<int>(i), [&] { routine(); });
    }
    return any;
}

}  // namespace bbs

extern "C" {

int register_module(struct module_descriptor *descriptor) {
    bbs::Core &c = bbs::core();
    bbs::register_menu();
    if (descriptor == nullptr || static_cast<int>(c.modules.size()) >= kMaxModules) {
        bbs::report_startup_error("too many plug-ins registered (at most " + std::to_string(kMaxModules - 1) + ")");
        return -1;
    }
    descriptor->name[sizeof descriptor->name - 1] = '\0';
    int number = static_cast<int>(c.modules.size());
    c.modules.push_back(descriptor);
    module[number] = descriptor;
    return number;
}

int findmod(const char *name) {
    bbs::Core &c = bbs::core();
    for (size_t i = 1; i < c.modules.size(); ++i)
        if (sameas(c.modules[i]->name, name)) return static_cast<int>(i);
    return -1;
}

void hook_connect(void (*routine)(void)) {
    if (routine) bbs::core().connect_hooks.push_back(routine);
}

void hook_disconnect(void (*routine)(void)) {
    if (routine) bbs::core().disconnect_hooks.push_back(routine);
}

void globalcmd(int (*routine)(void)) {
    if (routine) bbs::core().global_commands.push_back(routine);
}

void rtkick(int seconds, void (*routine)(void)) {
    bbs::Core &c = bbs::core();
    if (routine == nullptr || c.clock == nullptr) return;
    if (seconds < 0) seconds = 0;
    c.timers.push_back({c.clock->monotonic_ms() + static_cast<int64_t>(seconds) * 1000, c.timer_sequence++, routine});
}

void begin_polling(int chan, void (*routine)(void)) {
    bbs::Line *line = bbs::line_at(chan);
    if (line != nullptr && routine != nullptr) line->poller = routine;
}

void stop_polling(int chan) {
    bbs::Line *line = bbs::line_at(chan);
    if (line != nullptr) line->poller = nullptr;
}

void register_pseudok(const char *key_name, int (*routine)(int, const char *)) {
    if (key_name == nullptr || routine == nullptr) return;
    std::string name(key_name);
    for (char &ch : name) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
    bbs::core().pseudo_keys.push_back({name, routine});
}

void dfsthn(void) {
    // The default status routine: the host has no per-module status events
    // to hand on, so there is nothing to do.
}

}  // extern "C"
