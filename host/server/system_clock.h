// The machine's clock as the host core sees it.
#ifndef BBS_SYSTEM_CLOCK_H
#define BBS_SYSTEM_CLOCK_H

#include "core.h"

namespace bbs {

// Local civil time from the machine; the monotonic count from the steady
// clock. Setting the time is tried only in the "system" clock mode, and
// needs the privilege to set the machine's clock.
class SystemClock : public ClockPort {
public:
    int64_t monotonic_ms() override;
    int64_t local_seconds() override;
    bool set_system_time(int64_t local_seconds, std::string &error) override;
};

// No callers: output goes nowhere (the operator's commands that start the
// plug-ins without serving).
class NoTerminal : public TerminalPort {
public:
    void send(int, std::string_view) override {}
    void hang_up(int) override {}
    int free_room(int) override { return 1 << 20; }
    void set_echo(int, bool) override {}
};

}  // namespace bbs

#endif
