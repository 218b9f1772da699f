// Calendar arithmetic on the host's packed dates and times.
//
// A packed date keeps the year counted from 1980 in bits 15-9, the month in
// bits 8-5 and the day in bits 4-0; a packed time keeps the hour in bits
// 15-11, the minute in bits 10-5 and the seconds halved in bits 4-0. Values
// of one kind order like the moments they stand for, so callers compare them
// as plain numbers.
//
// Every year whose year field is divisible by 4 is a leap year, 2100
// included. A date whose day field is 0 stands for the last day of the month
// before (March 0 is the last day of February).
//
// None of these functions report errors: they take any 16-bit value and
// always return, without reading outside their tables. The exact answers for
// values that are not dates (months 0 and 13 to 15, days past the end of the
// month) are told at each function.
#ifndef BBS_PACKED_DATE_H
#define BBS_PACKED_DATE_H

#include <cstdint>

// Adds `seconds` to the time of day `time` and wraps within the day: a result
// smaller than `time` means the sum lies on the next day. A count of 0 gives
// `time` back unchanged. Otherwise the count is taken modulo one day (so a
// negative count goes back in time), and fields past their range (hour 24 to
// 31, minute 60 to 63, seconds field 30 or 31) carry into the next field
// before the sum wraps. The seconds field holds two-second steps, so an odd
// sum loses its last second, as the host's clock does when it fills the
// field; rounding down keeps every sum of 1 to 86399 seconds that passes
// midnight smaller than `time`.
uint16_t add_seconds_to_time(int32_t seconds, uint16_t time);

// The date `days` days after `date`. A result always has a day of 1 or more
// unless `days` is 0, which gives `date` back unchanged. Days past the end of
// their month run on into the next month (April 31 plus one is May 2).
// Months 0 and 13 to 15 count as having no days, and the month after any
// month from 12 up is January of the next year, so month 13 day 5 plus one
// is January 6 of the next year. After 2107 the year field wraps to 1980,
// which keeps the calendar exact because 128 years are whole leap cycles.
uint16_t add_days_to_date(uint16_t days, uint16_t date);

// The date `days` days before `date`. A result that is the last day of a
// month comes back as day 0 of the month after it (March 5 minus 5 is
// March 0); `days` 0 gives `date` back unchanged. A starting date with day 0
// is read as the last day of the month before, as everywhere else. Months 0
// and 13 to 15 count as having no days, and the month before month 1 or 0 is
// December of the year before. Before 1980 the year field wraps to 2107.
uint16_t subtract_days_from_date(uint16_t days, uint16_t date);

// 1 when `date` is a date: month 1 to 12 and day 0 up to the length of the
// month (February 29 only in a leap year); month 0 with day 0 is also
// accepted. 0 otherwise.
uint16_t is_valid_date(uint16_t date);

// Days from `first` to `second`, for `first` not later than `second`; the
// count is taken modulo 65536. A first date later than the second in the same
// month gives the negative difference modulo 65536; a first date in a later
// month or year gives a count that means nothing. Months 0 and 13 to 15 count
// as having no days.
uint16_t days_between_dates(uint16_t first, uint16_t second);

// Whole years of age on `date` of someone born on `birth`, a text "MM/DD/YY"
// (the separators are not looked at; the birth year is 1900 plus YY). Each
// two-character field is read as the decimal number its leading digits make;
// a field cut short by the end of the text, or starting with a non-digit,
// reads as 0. Results below zero wrap modulo 65536.
uint16_t age_in_years(uint16_t date, const char *birth);

#endif
