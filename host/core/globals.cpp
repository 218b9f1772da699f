// The host's globals that plug-ins read and write directly.
#include "core.h"

extern "C" {
int32_t usrnum = 0;
int32_t othusn = 0;
int32_t nterms = 0;
int32_t uisusn = 0;
int32_t channel[MAX_LINES];
// line_channel_table is the same storage as channel, under the other name
// the plug-ins know it by.
extern int32_t line_channel_table[MAX_LINES] __attribute__((alias("channel")));
struct session_record *usrptr = nullptr;
struct session_record *othusp = nullptr;
struct account_record *usaptr = nullptr;
struct account_record *othuap = nullptr;
char *vdaptr = nullptr;
char *vdatmp = nullptr;
char input[INPUT_SIZE];
int32_t margc = 0;
char *margv[MAX_ARGS];
int32_t outbsz = 8192;
struct class_record *clsptr = nullptr;
struct system_variables sv2;
char *sampky = nullptr;
struct dfa_file *accbb = nullptr;
chkuid_t chkuid = nullptr;
chkpsw_t chkpsw = nullptr;
hdlsmp_t hdlsmp = nullptr;
bgnedt_t bgnedt = nullptr;
}
