// Packed date and time arithmetic. Everything is computed in int and packed
// back at the end, so no intermediate value can wrap before the result does.
#include "packed_date.h"

namespace {

// Indexed by month; entry 0 stands for "no month".
constexpr int16_t days_in_month_table[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr int years_in_field = 128;  // the year field holds 1980 to 2107

struct split_date {
    int year;   // counted from 1980
    int month;
    int day;
};

split_date split(uint16_t date) { return {date >> 9, (date >> 5) & 0x0F, date & 0x1F}; }

uint16_t pack(int year, int month, int day) {
    return static_cast<uint16_t>((year % years_in_field) * 512 + month * 32 + day);
}

bool is_leap_year(int year) { return year % 4 == 0; }

// A month field can hold 0 to 15, but only 1 to 12 are months: the others
// have no days rather than a value read from past the end of the table.
int days_in_month(int month, int year) {
    if (month < 1 || month > 12) return 0;
    if (month == 2 && is_leap_year(year)) return 29;
    return days_in_month_table[month];
}

// Year arithmetic wraps within the field; 128 years are 32 leap cycles, so
// the leap rule stays right across the wrap.
void next_month(int &month, int &year) {
    if (month >= 12) {
        month = 1;
        year = (year + 1) % years_in_field;
    } else {
        ++month;
    }
}

void previous_month(int &month, int &year) {
    if (month <= 1) {
        month = 12;
        year = (year + years_in_field - 1) % years_in_field;
    } else {
        --month;
    }
}

}  // namespace

// Time of day in seconds, so that every field carries into the next one by
// plain arithmetic; the seconds field counts two-second steps.
uint16_t add_seconds_to_time(int32_t seconds, uint16_t time) {
    if (seconds == 0) return time;
    constexpr int32_t seconds_per_day = 86400;
    int32_t hour = time >> 11;
    int32_t minute = (time >> 5) & 0x3F;
    int32_t halves = time & 0x1F;
    int32_t added = seconds % seconds_per_day;
    if (added < 0) added += seconds_per_day;
    int32_t sum = (hour * 3600 + minute * 60 + halves * 2 + added) % seconds_per_day;
    sum -= sum % 2;
    return static_cast<uint16_t>((sum / 3600) * 2048 + (sum % 3600 / 60) * 32 + sum % 60 / 2);
}

// A date on the last day of its month moves into the next month as day 0
// before the rest of the count is added. A day past the end of its month
// makes `left` negative, which adds the excess to the count: the date runs
// on into the next month.
uint16_t add_days_to_date(uint16_t days, uint16_t date) {
    auto [year, month, day] = split(date);
    int count = days;
    while (count > 0) {
        int left = days_in_month(month, year) - day;
        if (left < count) {
            count -= left;
            day = 0;
            next_month(month, year);
        } else {
            day += count;
            count = 0;
        }
    }
    return pack(year, month, day);
}

// Inside the loop day 0 means "the whole of this month is still to go",
// which is right after a step back but not for a date given with day 0: that
// one is the last day of the month before, so it is stepped there first.
uint16_t subtract_days_from_date(uint16_t days, uint16_t date) {
    auto [year, month, day] = split(date);
    int count = days;
    if (count > 0 && day == 0) {
        previous_month(month, year);
        day = days_in_month(month, year);
    }
    while (count > 0) {
        int have = day != 0 ? day : days_in_month(month, year);
        if (have < count) {
            count -= have;
            day = 0;
            previous_month(month, year);
        } else {
            day = have - count;
            count = 0;
        }
    }
    return pack(year, month, day);
}

uint16_t is_valid_date(uint16_t date) {
    auto [year, month, day] = split(date);
    if (month == 2 && day == 29) return is_leap_year(year) ? 1 : 0;
    if (month > 12) return 0;
    return day <= days_in_month_table[month] ? 1 : 0;
}

// Whole months are summed from the first date's month up to the month before
// the second's; `skip` takes the part of the first month that lies before
// the first date. Month fields outside 1 to 12 add nothing.
uint16_t days_between_dates(uint16_t first, uint16_t second) {
    const split_date a = split(first);
    const split_date b = split(second);
    int sum = 0;
    int year = a.year;
    int skip = a.day;
    while (year < b.year) {
        for (int month = a.year == year ? a.month : 1; month <= 12; ++month) {
            sum += days_in_month(month, year) - skip;
            skip = 0;
        }
        ++year;
    }
    for (int month = a.year == b.year ? a.month : 1; month < b.month; ++month) {
        sum += days_in_month(month, year) - skip;
        skip = 0;
    }
    if (a.year == b.year && a.month == b.month) return static_cast<uint16_t>(b.day - a.day);
    return static_cast<uint16_t>(sum + b.day);
}

namespace {

// The number made by the leading digits of text[0..1]; stops at the end of
// the text, so a short text is never read past its terminator.
int read_two_digits(const char *text) {
    int value = 0;
    for (int i = 0; i < 2 && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

// Position `at` of `text`, or the terminator when the text ends before it.
const char *field_at(const char *text, int at) {
    for (int i = 0; i < at; ++i) {
        if (text[i] == '\0') return text + i;
    }
    return text + at;
}

}  // namespace

uint16_t age_in_years(uint16_t date, const char *birth) {
    if (birth == nullptr) birth = "";
    const int birth_month = read_two_digits(field_at(birth, 0));
    const int birth_day = read_two_digits(field_at(birth, 3));
    const int birth_year = read_two_digits(field_at(birth, 6));
    const split_date d = split(date);
    int years = (d.year + 80) - birth_year;
    const bool before_birthday = d.month < birth_month || (d.month == birth_month && d.day < birth_day);
    if (before_birthday && years != 0) --years;
    return static_cast<uint16_t>(years);
}
