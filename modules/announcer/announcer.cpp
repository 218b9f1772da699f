// The Announcer: every ANNOUNCE_INTERVAL seconds one notice goes to each
// caller on-line who is signed on (or filling in the new-user form), lacks
// the exempt key and, unless the operator says otherwise, is not inside the
// spared module. A timer does all the work and re-arms itself.
#include "announcer.h"

#include "frame.h"
#include "host.h"

namespace {

int input_routine();
void shutdown_routine();

module_descriptor descriptor = {"", {}, nullptr, input_routine, dfsthn, nullptr, nullptr,
                                nullptr, nullptr, nullptr, shutdown_routine};
int module_number;
message_block *block;
int32_t announce_interval;
int32_t ring_bell;
int32_t announce_everywhere;
const char *spared_module_name;
const char *exempt_key;

constexpr const char *VERSION = "1.5";
constexpr char BEL = 7;

// No dialogue: a caller who picks the Announcer is back at the menu at once.
int input_routine() { return 0; }

void shutdown_routine() { clsmsg(block); }

// Whether the caller at othusp is inside the spared module. The module is
// looked up afresh each time: a name nobody registered spares nobody.
int in_spared_module() {
    int m = findmod(spared_module_name);
    if (m == -1) return 0;
    return m == othusp->current_module ? 1 : 0;
}

void ring_bells(int32_t n) {
    for (int32_t i = 0; i < n; ++i) prf("%c", BEL);
}

bool eligible() {
    if (othusp->session_class != SESSION_SIGNED_ON && othusp->session_class != SESSION_NEW_USER) return false;
    if (isuidc(static_cast<unsigned char>(othuap->user_id[0])) == 0) return false;  // no real user-ID yet
    if (othkey(exempt_key) != 0) return false;
    return announce_everywhere != 0 || in_spared_module() == 0;
}

// One pass over every line, lowest channel first. The next pass is armed
// only when this one is done, so passes never overlap.
void announcement_tick() {
    setmbk(block);
    for (othusn = 0; othusn < nterms; ++othusn) {
        othuap = uacoff(othusn);
        othusp = usroff(othusn);
        if (!eligible()) continue;
        if (ring_bell != 0) ring_bells(1);
        prfmsg(ANNOUNCEMENT);
        injoth();
    }
    rstmbk();
    rtkick(announce_interval, announcement_tick);
}

}  // namespace

BBS_EXPORT void init__krvdmpst() {
    shocst(spr("KRV Announcer %s", VERSION), "Periodic announcements to callers on-line are starting");
    set_module_name(descriptor, gmdnam("krvdmpst.mdf"));
    module_number = register_module(&descriptor);
    block = opnmsg("krvdmpst.mcv");
    announce_interval = numopt(ANNOUNCE_INTERVAL, ANNOUNCE_INTERVAL_MIN, ANNOUNCE_INTERVAL_MAX);
    ring_bell = ynopt(RING_BELL);
    announce_everywhere = ynopt(ANNOUNCE_EVERYWHERE);
    spared_module_name = stgopt(SPARED_MODULE);
    exempt_key = stgopt(EXEMPT_KEY);
    rtkick(announce_interval, announcement_tick);
}
