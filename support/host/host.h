// The whole contract between bbshost and its plug-ins.
//
// A plug-in includes this one header and nothing else of the host. Every
// operation and global here has C linkage and is defined by the host core
// library (libbbshost_core.so); a plug-in's undefined host symbols resolve to
// it when the host loads the plug-in.
//
// Records that are stored in files or handed whole (the account record, the
// mail header) are byte-exact on every build. Records holding a pointer
// (the module descriptor, the session record) keep their listed offsets up to
// the first pointer; on a 64-bit build that pointer and what follows move to
// the next 8-byte boundary. The static assertions at the end spell this out.
#ifndef BBS_HOST_H
#define BBS_HOST_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define BBS_EXPORT extern "C" __attribute__((visibility("default")))
extern "C" {
#else
#define BBS_EXPORT __attribute__((visibility("default")))
#endif

// ---------------------------------------------------------------- limits

#define MAX_LINES 256      // per-line tables of the plug-ins have 256 entries
#define INPUT_SIZE 256     // the input line buffer, NUL included
#define MAX_ARGS 128       // words parsin can split a line into
#define UIDSIZ 30          // a user-ID with its NUL

// ------------------------------------------------------- module descriptor

typedef int (*logon_routine_t)(void);
typedef int (*input_routine_t)(void);
typedef void (*plain_routine_t)(void);
typedef void (*delete_account_routine_t)(const char *user_id);

struct module_descriptor {
    char name[25];                                   // NUL-terminated, at most 24 characters
    char alignment_bytes[3];
    logon_routine_t logon_routine;                   // slot 1
    input_routine_t input_routine;                   // slot 2
    plain_routine_t status_routine;                  // slot 3
    plain_routine_t slot4;                           // slot 4, empty
    plain_routine_t slot5;                           // slot 5, empty
    plain_routine_t hangup_routine;                  // slot 6
    plain_routine_t daily_cleanup_routine;           // slot 7
    delete_account_routine_t delete_account_routine; // slot 8
    plain_routine_t shutdown_routine;                // slot 9
};

// ---------------------------------------------------------- host records

// session_flags bits
#define SESSION_BUSY 0x00000001u
#define SESSION_VIEWING 0x00002000u
#define SESSION_HIDDEN 0x00004000u
#define SESSION_INJECT_ON_REFUSAL 0x00800000u

// session_class values the host uses
#define SESSION_FREE 0
#define SESSION_LOGGING_ON 1
#define SESSION_NEW_USER 2
#define SESSION_SIGNED_ON 6

struct class_record;

struct session_record {
    uint32_t session_flags;        // 0
    uint32_t host_flags;           // 4: the host's own
    int32_t host_state;            // 8: the host's own (where the caller is on his road)
    int32_t baud_rate;             // 12
    int32_t session_class;         // 16
    int32_t idle_seconds;          // 20: the host's own
    int32_t current_module;        // 24
    int32_t module_substate;       // 28
    int32_t host_substate;         // 32: the host's own
    uint32_t logon_counter;        // 36
    int32_t session_tally;         // 40: seconds since the call on this line began, kept by the host
    char reserved_a[24];           // 44: the host's own
    struct class_record *current_class_record; // 68 (72 on a 64-bit build)
    uint16_t logon_date;           // the host's own: when the caller signed on
    uint16_t logon_time;
    int32_t reserved_b;            // the host's own
    char reserved[16];
};

// account_flags bits
#define ACCOUNT_NO_DEADBEAT 0x0001
#define ACCOUNT_PROTECTED 0x0002
#define ACCOUNT_SUSPENDED 0x0004
#define ACCOUNT_TAGGED_FOR_DELETION 0x0008
#define ACCOUNT_CALLBACK_EXEMPT 0x8000

struct account_record {
    char user_id[UIDSIZ];          // 0: key of the account file
    char real_name[30];            // 30: the host's own
    char reserved_a[148];          // 60
    uint8_t terminal_flags;        // 208
    uint8_t screen_width;          // 209
    uint8_t screen_length;         // 210
    uint8_t reserved_b[5];         // 211
    uint16_t account_date;         // 216: packed date the account was made
    uint16_t last_call_date;       // 218: the host's own
    uint16_t account_flags;        // 220
    uint16_t reserved_c;           // 222
    uint32_t total_calls;          // 224: the host's own
    char reserved_d[12];           // 228
    char previous_class_name[16];  // 240
    char class_name[24];           // 256
    int32_t credit_balance;        // 280
    int32_t credits_posted;        // 284
    int32_t retained_credits;      // 288
    uint16_t class_until;          // 292: the host's own: a timed class ends on this date (0: never)
    char reserved_e[10];           // 294
};

#define CLASS_AUTO_SWITCH 0x10

struct class_record {
    char class_name[24];           // 0: the host's own
    char description[40];          // 24: the host's own
    char auto_switch_class[32];    // 64
    uint8_t class_flags;           // 96
    uint8_t reserved_a[3];
    int32_t default_credits;       // 100: the host's own (credits a new account starts with)
    char reserved_b[24];
};

struct system_variables {
    char reserved_a[220];
    int32_t total_credits_posted;  // 220
    char reserved_b[4];
    uint16_t cleanup_date;         // 228
    char reserved_c[26];
};

#define MAIL_RETURN_RECEIPT 0x10u

struct mail_header {
    char zero_a[18];               // 0
    char from_name[256];           // 18
    char to_name[256];             // 274
    char subject[51];              // 530
    char zero_b[87];               // 581
    uint32_t mail_flags;           // 668
};

// --------------------------------------------------------------- globals

extern int32_t usrnum;                        // channel of the current line
extern int32_t othusn;                        // channel of the other line
extern int32_t nterms;                        // number of lines
extern int32_t uisusn;                        // channel found by onbbs
extern int32_t channel[MAX_LINES];            // hardware channel number of each line
extern int32_t line_channel_table[MAX_LINES]; // the same table under its other name
extern struct session_record *usrptr, *othusp;
extern struct account_record *usaptr, *othuap;
extern char *vdaptr;                          // the current line's volatile data area
extern char *vdatmp;                          // host scratch buffer, outbsz bytes
extern char input[INPUT_SIZE];
extern int32_t margc;
extern char *margv[MAX_ARGS];
extern int32_t outbsz;                        // size of the pending-output buffer
extern struct module_descriptor *module[];    // by module number
extern struct class_record *clsptr;
extern struct system_variables sv2;
extern char *sampky;                          // the key that spares a caller the deadbeat refusal
extern struct dfa_file *accbb;                // the host's account file

typedef int (*chkuid_t)(const char *user_id);
typedef int (*chkpsw_t)(const char *password);
typedef int (*hdlsmp_t)(void);
typedef int (*editor_done_t)(int16_t code);
typedef void (*bgnedt_t)(int text_size, char *text, int topic_size, char *topic,
                         editor_done_t done, int flags);
extern chkuid_t chkuid;
extern chkpsw_t chkpsw;
extern hdlsmp_t hdlsmp;
extern bgnedt_t bgnedt;

// results of chkuid
#define UID_ACCEPTED 0
#define UID_ON_LINE 1
#define UID_DEADBEAT 2
#define UID_SUSPENDED 3
#define UID_UNKNOWN 4

// editor completion codes handed to the done routine
#define EDITOR_SAVED 0
#define EDITOR_ABORTED 1

// -------------------------------------------------- registration, events

const char *gmdnam(const char *descriptor_file);
int register_module(struct module_descriptor *descriptor);
void dclvda(int size);
void hook_connect(void (*routine)(void));
void hook_disconnect(void (*routine)(void));
void globalcmd(int (*routine)(void));
void rtkick(int seconds, void (*routine)(void));
void begin_polling(int chan, void (*routine)(void));
void stop_polling(int chan);
void register_pseudok(const char *key_name, int (*routine)(int chan, const char *key_name));
void dfsthn(void);
int findmod(const char *name);

// -------------------------------------------------- message blocks, options

struct message_block;
struct message_block *opnmsg(const char *file_name);
void setmbk(struct message_block *block);
void rstmbk(void);
void clsmsg(struct message_block *block);
char *stgopt(int number);
int numopt(int number, int minimum, int maximum);
long lngopt(int number, long minimum, long maximum);
unsigned hexopt(int number, unsigned minimum, unsigned maximum);
int16_t ynopt(int number);

// ----------------------------------------------------------------- output

void prf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void prfmsg(int number, ...);
int outprf(int chan);
int injoth(void);
char *spr(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *stzcpy(char *destination, const char *source, int size);
char *stlcpy(char *destination, const char *source, int size);
void shocst(const char *summary, const char *format, ...) __attribute__((format(printf, 2, 3)));
void shochl(const char *text, int number, const char *speed_text);
void gprintf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void stansi(void);
void rstrin(void);
void rstrxf(void);
char *makhdl(char *user_id);
char *baudat(int32_t speed, int flags);

// ------------------------------------------------- users, channels, input

struct session_record *usroff(int chan);
struct account_record *uacoff(int chan);
char *vdaoff(int chan);
void curusr(int chan);
int onsys(const char *user_id);
int onsysn(const char *user_id, int signed_on_only);
int onbbs(const char *user_id, int any_state);
int isuidc(int c);
int sameas(const char *a, const char *b);
int sameto(const char *prefix, const char *text);
void parsin(void);
void bgncnc(void);
int cncchr(void);
char *cncall(void);
int cncyesno(void);
int endcnc(void);
int bbsdsc(int chan);
void byenow(int number, ...);

// ---------------------------------------------------- accounts, keys, classes

int haskey(const char *key_name);
int othkey(const char *key_name);
int uhskey(const struct account_record *account, const char *key_name);
void loadkeys(const char *class_name);
struct class_record *fndcls(const char *class_name);
int swtcls(struct account_record *account, int keep_previous, const char *class_name,
           int reason, int days);
void accacct(struct account_record *account, int delta);
int delacct(struct account_record *account);
int tstcrd(long amount);

// ------------------------------------------------------------- data files

#define DFA_GET_EQUAL 5
#define DFA_GET_FIRST 12
#define DFA_GET_NEXT 8
#define DFA_STEP_FIRST 33
#define DFA_STEP_NEXT 24

struct dfa_file;
struct dfa_file *dfaOpen(const char *file_name, int record_length, const char *options);
void dfaClose(struct dfa_file *file);
void dfaSetBlk(struct dfa_file *file);
void dfaRstBlk(void);
int dfaAcqLock(void *record, const void *key, int key_number, int operation, int lock);
int dfaStepLock(void *record, int operation, int lock);
int dfaInsert(const void *record);
int dfaUpdate(const void *record);
int dfaDelete(void);

// ------------------------------------------------------------------ time

uint16_t today(void);
uint16_t now(void);
char *ncdate(uint16_t date);
char *nctime(uint16_t time);
uint16_t dctime(const char *text);      // 0xFFFF for a text that is not a time of day
char *fileparts(int part, const char *path, char *buffer, int size);
int set_time_of_day(int hour, int minute, int second, int hundredths);

// ------------------------------------------------------------ text files

// Results of open_bbs_file other than a descriptor.
#define BBS_FILE_NOT_OPENED (-1)  // no such file, not a plain file, or not readable (errno says why)
#define BBS_FILE_REFUSED (-2)     // the name leads out of the BBS directory, or to a file the host keeps to itself

// Opens `name`, a path relative to the BBS directory, for reading, and
// returns its file descriptor (the caller closes it). Each part of the name
// is found with case ignored when it is not there as written. Only plain
// files of the directory tree open: a name that is absolute, holds a ".."
// component or reaches through a symbolic link to outside the tree is
// refused, and so are the host's own databases and audit trail, however they
// are named. A name a caller typed goes through here, never straight to open().
int open_bbs_file(const char *name);

// ------------------------------------------------------ linelib, maillib

void btutsw(int chan, int width);
void btuxnf(int chan, int xon, int xoff);
int btuoba(int chan);
int simpsnd(struct mail_header *header, const char *text, const char *attachment);

#ifdef __cplusplus
}  // extern "C"

#define BBS_OFFSET_CHECK(type, field, off) \
    static_assert(offsetof(type, field) == (off), #type "." #field " must stand at " #off)

BBS_OFFSET_CHECK(module_descriptor, alignment_bytes, 25);
BBS_OFFSET_CHECK(module_descriptor, logon_routine, sizeof(void *) == 8 ? 32 : 28);
BBS_OFFSET_CHECK(module_descriptor, input_routine, sizeof(void *) == 8 ? 40 : 32);
BBS_OFFSET_CHECK(module_descriptor, shutdown_routine, sizeof(void *) == 8 ? 96 : 60);

BBS_OFFSET_CHECK(session_record, session_flags, 0);
BBS_OFFSET_CHECK(session_record, baud_rate, 12);
BBS_OFFSET_CHECK(session_record, session_class, 16);
BBS_OFFSET_CHECK(session_record, current_module, 24);
BBS_OFFSET_CHECK(session_record, module_substate, 28);
BBS_OFFSET_CHECK(session_record, logon_counter, 36);
BBS_OFFSET_CHECK(session_record, session_tally, 40);
// a pointer: 68 on a 32-bit build, the next 8-byte boundary on a 64-bit one
BBS_OFFSET_CHECK(session_record, current_class_record, sizeof(void *) == 8 ? 72 : 68);

BBS_OFFSET_CHECK(account_record, user_id, 0);
BBS_OFFSET_CHECK(account_record, terminal_flags, 208);
BBS_OFFSET_CHECK(account_record, screen_width, 209);
BBS_OFFSET_CHECK(account_record, screen_length, 210);
BBS_OFFSET_CHECK(account_record, account_date, 216);
BBS_OFFSET_CHECK(account_record, account_flags, 220);
BBS_OFFSET_CHECK(account_record, previous_class_name, 240);
BBS_OFFSET_CHECK(account_record, class_name, 256);
BBS_OFFSET_CHECK(account_record, credit_balance, 280);
BBS_OFFSET_CHECK(account_record, credits_posted, 284);
BBS_OFFSET_CHECK(account_record, retained_credits, 288);
static_assert(sizeof(account_record) == 304, "the account record is 304 bytes on every build");

BBS_OFFSET_CHECK(class_record, auto_switch_class, 64);
BBS_OFFSET_CHECK(class_record, class_flags, 96);

BBS_OFFSET_CHECK(system_variables, total_credits_posted, 220);
BBS_OFFSET_CHECK(system_variables, cleanup_date, 228);

BBS_OFFSET_CHECK(mail_header, from_name, 18);
BBS_OFFSET_CHECK(mail_header, to_name, 274);
BBS_OFFSET_CHECK(mail_header, subject, 530);
BBS_OFFSET_CHECK(mail_header, zero_b, 581);
BBS_OFFSET_CHECK(mail_header, mail_flags, 668);
static_assert(sizeof(mail_header) == 672, "the mail header is 672 bytes on every build");
#undef BBS_OFFSET_CHECK
#endif

#endif
