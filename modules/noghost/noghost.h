// NoGhost's option numbers in krvghost.mcv. It shows no messages.
#ifndef BBS_NOGHOST_H
#define BBS_NOGHOST_H

constexpr int NG_FIRST_CHANNEL = 3;  // hex 0..FF: first hardware channel on which a ghost is cleared
constexpr int NG_LAST_CHANNEL = 4;   // hex 0..FF: last one
constexpr int NG_SEND_MAIL = 5;      // yes/no: a mail to the caller whose ghost was cleared
constexpr int NG_MAIL_FROM = 6;      // text: the mail's sender
constexpr int NG_MAIL_SUBJECT = 7;   // text: its subject
constexpr int NG_MAIL_TEXT = 8;      // text: its body
constexpr int NG_AUDIT = 9;          // yes/no: an audit entry for each ghost cleared

// The mail body: a line feed, then at most this many characters of option 8.
constexpr int NG_MAIL_TEXT_MAX = 2000;

// Status texts of a line whose user-ID check NoGhost answered.
constexpr const char *NG_STATUS_DEADBEAT = "Deadbeat user (hanging up)";
constexpr const char *NG_STATUS_SUSPENDED = "Suspended user (hanging up)";
constexpr const char *NG_STATUS_LOGGING_ON = "Logging on...";

#endif
