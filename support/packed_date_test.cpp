#include "packed_date.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint16_t date(int year, int month, int day) {
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

constexpr uint16_t clock_time(int hour, int minute, int second = 0) {
    return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

std::string show_date(uint16_t d) {
    char text[32];
    snprintf(text, sizeof text, "%04d-%02d-%02d", 1980 + (d >> 9), (d >> 5) & 0x0F, d & 0x1F);
    return text;
}

std::string show_time(uint16_t t) {
    char text[32];
    snprintf(text, sizeof text, "%02d:%02d:%02d", t >> 11, (t >> 5) & 0x3F, (t & 0x1F) * 2);
    return text;
}

// ------------------------------------------------------------ the oracle
//
// Day numbers from the standard library's calendar, which knows nothing of
// packed dates. Its Gregorian years agree with "every fourth year is leap"
// up to 2100-02-28. Beyond that the packed calendar keeps leap years every
// fourth year, so a century of it is 25 whole four-year cycles (36525 days)
// and a year from 2100 on has the shape of the year a century before.

constexpr long century_of_days = 36525;

long day_number(int year, int month, int day) {  // day 0: the day before day 1
    using namespace std::chrono;
    long shift = 0;
    if (year >= 2100) {
        year -= 100;
        shift = century_of_days;
    }
    const sys_days first{std::chrono::year{year} / month / 1};
    return first.time_since_epoch().count() + day - 1 + shift;
}

long day_number(uint16_t packed) {
    return day_number(1980 + (packed >> 9), (packed >> 5) & 0x0F, packed & 0x1F);
}

uint16_t date_of_day_number(long number) {
    using namespace std::chrono;
    int years_added = 0;
    if (number >= day_number(2100, 1, 1)) {
        number -= century_of_days;
        years_added = 100;
    }
    const year_month_day ymd{sys_days{days{number}}};
    return date(static_cast<int>(ymd.year()) + years_added, static_cast<int>(static_cast<unsigned>(ymd.month())),
                static_cast<int>(static_cast<unsigned>(ymd.day())));
}

// The same day written as day 0 of the month after, when it is the last day
// of its month.
bool as_day_zero(uint16_t packed, uint16_t &day_zero) {
    const long number = day_number(packed);
    if (date_of_day_number(number + 1) % 32 != 1) return false;
    int year = 1980 + (packed >> 9);
    int month = ((packed >> 5) & 0x0F) + 1;
    if (month == 13) {
        month = 1;
        ++year;
    }
    if (year > 2107) return false;
    day_zero = date(year, month, 0);
    return true;
}

const long first_day = day_number(1980, 1, 1);
const long last_day = day_number(2107, 12, 31);

// Every date of the packed range once, and each last day of a month a second
// time written as day 0 of the month after.
std::vector<uint16_t> all_dates() {
    std::vector<uint16_t> dates;
    for (long n = first_day; n <= last_day; ++n) {
        const uint16_t d = date_of_day_number(n);
        dates.push_back(d);
        uint16_t zero;
        if (as_day_zero(d, zero)) dates.push_back(zero);
    }
    return dates;
}

const std::vector<uint16_t> counts = {0, 1, 2, 27, 28, 29, 30, 31, 59, 60, 365, 366, 1000, 10000};

TEST(PackedDateOracle, AgreesWithKnownDays) {
    EXPECT_EQ(day_number(2000, 3, 1) - day_number(2000, 2, 28), 2);
    EXPECT_EQ(day_number(2100, 3, 1) - day_number(2100, 2, 28), 2);
    EXPECT_EQ(day_number(2101, 1, 1) - day_number(2100, 1, 1), 366);
    EXPECT_EQ(date_of_day_number(day_number(2100, 2, 28) + 1), date(2100, 2, 29));
    EXPECT_EQ(date_of_day_number(day_number(2107, 12, 31)), date(2107, 12, 31));
    EXPECT_EQ(last_day - first_day + 1, 128 * 365 + 32);
}

// ------------------------------------------------------ add_seconds_to_time

TEST(AddSecondsToTime, WorkedExamples) {
    struct Case {
        int32_t seconds;
        uint16_t time;
        uint16_t expected;
    };
    const Case cases[] = {
        {7200, clock_time(23, 30), clock_time(1, 30)},
        {900, clock_time(10, 50), clock_time(11, 5)},
        {60, clock_time(23, 59), clock_time(0, 0)},
        {86399, clock_time(0, 0), clock_time(23, 59, 58)},  // an odd sum loses its last second
        {86398, clock_time(0, 0, 2), clock_time(0, 0)},
        {1, clock_time(10, 0), clock_time(10, 0)},
        {1, clock_time(10, 0, 58), clock_time(10, 0, 58)},
        {2, clock_time(23, 59, 58), clock_time(0, 0)},
        {45, clock_time(10, 0, 30), clock_time(10, 1, 14)},
        {3661, clock_time(22, 59, 0), clock_time(0, 0)},
        {-900, clock_time(0, 10), clock_time(23, 55)},  // a negative count goes back
        {86400 + 60, clock_time(12, 0), clock_time(12, 1)},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(show_time(add_seconds_to_time(c.seconds, c.time)), show_time(c.expected))
            << c.seconds << " seconds after " << show_time(c.time);
    }
    EXPECT_LT(add_seconds_to_time(7200, clock_time(23, 30)), clock_time(23, 30));
}

TEST(AddSecondsToTime, ZeroGivesEveryTimeBackUnchanged) {
    for (uint32_t t = 0; t <= 0xFFFF; ++t) ASSERT_EQ(add_seconds_to_time(0, static_cast<uint16_t>(t)), t);
}

// Hours and minutes by the step-by-step carries of the operation's own
// description, against every valid time of day.
uint16_t add_seconds_by_steps(int32_t s, uint16_t t) {
    int h = t >> 11, m = (t >> 5) & 0x3F, seconds = (t & 0x1F) * 2;
    auto carry_hour = [&] {
        if (h > 23) h -= 24;
    };
    auto carry_minute = [&] {
        if (m > 59) {
            m -= 60;
            ++h;
            carry_hour();
        }
    };
    h += s / 3600;
    carry_hour();
    m += s % 3600 / 60;
    carry_minute();
    seconds += s % 60;
    seconds -= seconds % 2;
    if (seconds >= 60) {
        seconds -= 60;
        ++m;
        carry_minute();
    }
    return clock_time(h, m, seconds);
}

TEST(AddSecondsToTime, CarriesLikeTheStepsForEveryTimeOfDay) {
    const int32_t adds[] = {1, 2, 59, 60, 61, 119, 899, 900, 3599, 3600, 3601, 7199, 7200, 43200, 86398, 86399};
    for (int h = 0; h < 24; ++h) {
        for (int m = 0; m < 60; ++m) {
            for (int s = 0; s < 60; s += 2) {
                const uint16_t t = clock_time(h, m, s);
                for (int32_t add : adds) {
                    const uint16_t got = add_seconds_to_time(add, t);
                    ASSERT_EQ(show_time(got), show_time(add_seconds_by_steps(add, t)))
                        << add << " seconds after " << show_time(t);
                    const long minutes_sum = h * 60 + m + (s + add) / 60;
                    ASSERT_EQ(got < t, minutes_sum >= 24 * 60) << "wrap past midnight must show as a smaller time";
                }
            }
        }
    }
}

TEST(AddSecondsToTime, AnyInputGivesATimeOfDay) {
    const int32_t adds[] = {1, 59, 3601, 86399, 86400, -1, -86401, INT32_MAX, INT32_MIN};
    for (uint32_t t = 0; t <= 0xFFFF; ++t) {
        for (int32_t add : adds) {
            const uint16_t got = add_seconds_to_time(add, static_cast<uint16_t>(t));
            ASSERT_LE(got >> 11, 23);
            ASSERT_LE((got >> 5) & 0x3F, 59);
            ASSERT_LE(got & 0x1F, 29);
        }
    }
}

// --------------------------------------------------------- worked examples

TEST(AddDaysToDate, WorkedExamples) {
    struct Case {
        uint16_t days;
        uint16_t from;
        uint16_t expected;
    };
    const Case cases[] = {
        {1, date(1999, 1, 31), date(1999, 2, 1)},   {1, date(2000, 2, 28), date(2000, 2, 29)},
        {1, date(1999, 2, 28), date(1999, 3, 1)},   {1, date(1999, 12, 31), date(2000, 1, 1)},
        {31, date(1999, 1, 31), date(1999, 3, 3)},  {365, date(1999, 1, 1), date(2000, 1, 1)},
        {1, date(1999, 3, 0), date(1999, 3, 1)},    {1, date(2100, 2, 28), date(2100, 2, 29)},
        {1, date(2100, 2, 29), date(2100, 3, 1)},   {0, date(1999, 3, 0), date(1999, 3, 0)},
        {1, date(1999, 4, 31), date(1999, 5, 2)},  // a day past the month's end runs on
        {1, date(2107, 12, 31), date(1980, 1, 1)},  // the year field wraps
    };
    for (const Case &c : cases) {
        EXPECT_EQ(show_date(add_days_to_date(c.days, c.from)), show_date(c.expected))
            << show_date(c.from) << " plus " << c.days;
    }
}

TEST(SubtractDaysFromDate, WorkedExamples) {
    struct Case {
        uint16_t days;
        uint16_t from;
        uint16_t expected;
    };
    const Case cases[] = {
        {5, date(1999, 3, 5), date(1999, 3, 0)},    {1, date(1999, 3, 1), date(1999, 3, 0)},
        {1, date(1999, 1, 1), date(1999, 1, 0)},    {6, date(1999, 3, 5), date(1999, 2, 27)},
        {60, date(2000, 3, 1), date(2000, 1, 1)},   {0, date(1999, 3, 0), date(1999, 3, 0)},
        {1, date(1999, 3, 0), date(1999, 2, 27)},  // day 0 read as the last day of February
        {1, date(2000, 1, 0), date(1999, 12, 30)},  {28, date(1999, 3, 0), date(1999, 2, 0)},
        {2, date(1980, 1, 1), date(2107, 12, 30)},  // the year field wraps
    };
    for (const Case &c : cases) {
        EXPECT_EQ(show_date(subtract_days_from_date(c.days, c.from)), show_date(c.expected))
            << show_date(c.from) << " minus " << c.days;
    }
}

TEST(IsValidDate, WorkedExamples) {
    struct Case {
        uint16_t d;
        uint16_t valid;
    };
    const Case cases[] = {
        {date(2000, 2, 29), 1}, {date(2100, 2, 29), 1}, {date(1999, 2, 29), 0}, {date(2000, 2, 30), 0},
        {date(1999, 4, 31), 0}, {date(1999, 4, 30), 1}, {date(1999, 3, 0), 1},  {date(1999, 12, 31), 1},
        {date(1999, 1, 32 - 1), 1}, {date(1999, 0, 0), 1}, {date(1999, 0, 1), 0},
        {date(1999, 13, 1), 0}, {date(1999, 13, 0), 0}, {date(1999, 15, 0), 0},
    };
    for (const Case &c : cases) EXPECT_EQ(is_valid_date(c.d), c.valid) << show_date(c.d);
}

TEST(DaysBetweenDates, WorkedExamples) {
    struct Case {
        uint16_t first;
        uint16_t second;
        uint16_t expected;
    };
    const Case cases[] = {
        {date(1999, 12, 31), date(2000, 1, 1), 1},   {date(1999, 1, 1), date(2000, 1, 1), 365},
        {date(2000, 1, 1), date(2001, 1, 1), 366},   {date(2000, 5, 17), date(2000, 5, 17), 0},
        {date(1999, 2, 27), date(1999, 3, 0), 1},    {date(1999, 3, 0), date(1999, 3, 1), 1},
        {date(1999, 1, 10), date(1999, 1, 5), 65531}, {date(1980, 1, 1), date(2107, 12, 31), 46751},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(days_between_dates(c.first, c.second), c.expected)
            << show_date(c.first) << " to " << show_date(c.second);
    }
}

TEST(AgeInYears, WorkedExamples) {
    struct Case {
        uint16_t on;
        const char *birth;
        uint16_t expected;
    };
    const Case cases[] = {
        {date(2005, 6, 14), "06/15/85", 19}, {date(2005, 6, 15), "06/15/85", 20},
        {date(2005, 7, 1), "06/15/85", 20},  {date(2005, 5, 30), "06/15/85", 19},
        {date(1985, 6, 14), "06/15/85", 0},  {date(2005, 6, 15), "06/15/01", 104},
        {date(2005, 6, 15), "06-15-85", 20},  // the separators are not looked at
        {date(1981, 1, 1), "06/15/85", 65531},  // born after the day of reckoning
    };
    for (const Case &c : cases) EXPECT_EQ(age_in_years(c.on, c.birth), c.expected) << c.birth << " on " << show_date(c.on);
}

TEST(AgeInYears, ShortOrOddBirthTextsAreReadWithinTheText) {
    // Each text sits in a heap block of its exact size, so the sanitizer
    // build stops at any read past its terminator. A field cut short by the
    // end of the text reads as far as the text goes.
    const std::string full = "06/15/85";
    const uint16_t expected[] = {105, 105, 105, 105, 105, 104, 104, 96};
    for (size_t length = 0; length < full.size(); ++length) {
        std::unique_ptr<char[]> text(new char[length + 1]);
        memcpy(text.get(), full.data(), length);
        text[length] = '\0';
        EXPECT_EQ(age_in_years(date(2005, 6, 14), text.get()), expected[length]) << '"' << text.get() << '"';
    }
    EXPECT_EQ(age_in_years(date(2005, 6, 15), "ab/cd/ef"), 105);  // no digits: every field 0
    EXPECT_EQ(age_in_years(date(2005, 6, 15), nullptr), 105);
}

// ------------------------------------------------ the calendar, exhaustively

TEST(PackedCalendar, AddDaysMatchesTheCalendarForEveryDate) {
    for (uint16_t d : all_dates()) {
        const long from = day_number(d);
        for (uint16_t n : counts) {
            if (from + n > last_day) continue;
            const uint16_t expected = n == 0 ? d : date_of_day_number(from + n);
            ASSERT_EQ(show_date(add_days_to_date(n, d)), show_date(expected)) << show_date(d) << " plus " << n;
        }
    }
}

TEST(PackedCalendar, SubtractDaysMatchesTheCalendarForEveryDate) {
    for (uint16_t d : all_dates()) {
        const long from = day_number(d);
        for (uint16_t n : counts) {
            if (from - n < first_day) continue;
            uint16_t expected = n == 0 ? d : date_of_day_number(from - n);
            uint16_t zero;
            if (n != 0 && as_day_zero(expected, zero)) expected = zero;  // last days come back as day 0
            ASSERT_EQ(show_date(subtract_days_from_date(n, d)), show_date(expected)) << show_date(d) << " minus " << n;
        }
    }
}

TEST(PackedCalendar, DaysBetweenMatchesTheCalendarForEveryDate) {
    const uint16_t first = date(1980, 1, 1);
    const uint16_t last = date(2107, 12, 31);
    for (uint16_t d : all_dates()) {
        const long number = day_number(d);
        if (number >= first_day) {
            ASSERT_EQ(days_between_dates(first, d), number - first_day) << "from 1980-01-01 to " << show_date(d);
        }
        ASSERT_EQ(days_between_dates(d, last), last_day - number) << "from " << show_date(d) << " to 2107-12-31";
        for (uint16_t n : counts) {
            if (number + n > last_day) continue;
            const uint16_t later = date_of_day_number(number + n);
            if (later < d) continue;  // March 0 to February 28: the first date is in a later month
            ASSERT_EQ(days_between_dates(d, later), n) << show_date(d) << " to " << show_date(later);
            uint16_t zero;
            if (as_day_zero(later, zero)) {
                ASSERT_EQ(days_between_dates(d, zero), n) << show_date(d) << " to " << show_date(zero);
            }
        }
    }
}

TEST(PackedCalendar, EveryDateIsValidAndNothingElseInRangeIs) {
    std::vector<bool> is_date(65536, false);
    for (uint16_t d : all_dates()) is_date[d] = true;
    for (uint32_t d = 0; d <= 0xFFFF; ++d) {
        const int month = (d >> 5) & 0x0F;
        const bool expected = is_date[d] || (month <= 12 && (d & 0x1F) == 0);  // day 0 in any month, and month 0
        ASSERT_EQ(is_valid_date(static_cast<uint16_t>(d)), expected ? 1 : 0) << show_date(static_cast<uint16_t>(d));
    }
}

// ------------------------------------------------------ values not dates

// Every 16-bit value, months 0 and 13 to 15 and days past the month's end
// included: each call must return (the test would hang otherwise) without
// reading outside the month table (the sanitizer build would stop).
TEST(PackedCalendar, EveryValueIsSafeForEveryOperation) {
    const uint16_t sweep_counts[] = {1, 31, 400, 65535};
    const uint16_t others[] = {0, date(1980, 1, 1), date(2000, 2, 29), date(2107, 12, 31), 0xFFFF};
    for (uint32_t v = 0; v <= 0xFFFF; ++v) {
        const uint16_t d = static_cast<uint16_t>(v);
        for (uint16_t n : sweep_counts) {
            const uint16_t later = add_days_to_date(n, d);
            ASSERT_EQ(is_valid_date(later), 1) << show_date(d) << " plus " << n << " gave " << show_date(later);
            ASSERT_NE(later & 0x1F, 0) << show_date(d) << " plus " << n;
            const uint16_t earlier = subtract_days_from_date(n, d);
            const int month = (earlier >> 5) & 0x0F;
            ASSERT_TRUE(is_valid_date(earlier) || month == ((d >> 5) & 0x0F))
                << show_date(d) << " minus " << n << " gave " << show_date(earlier);
        }
        for (uint16_t other : others) {
            days_between_dates(d, other);
            days_between_dates(other, d);
        }
        is_valid_date(d);
        age_in_years(d, "06/15/85");
    }
}

TEST(PackedCalendar, MonthsOutsideTheYearHaveNoDays) {
    // Month 13 day 5 runs on from December 31, like any day past a month's end.
    EXPECT_EQ(show_date(add_days_to_date(1, date(1999, 13, 5))), show_date(date(2000, 1, 6)));
    EXPECT_EQ(show_date(add_days_to_date(1, date(1999, 15, 0))), show_date(date(2000, 1, 1)));
    EXPECT_EQ(show_date(add_days_to_date(1, date(1999, 0, 0))), show_date(date(1999, 1, 1)));
    EXPECT_EQ(show_date(subtract_days_from_date(1, date(1999, 13, 0))), show_date(date(1999, 12, 30)));
    EXPECT_EQ(show_date(subtract_days_from_date(2, date(1999, 15, 1))), show_date(date(1999, 12, 30)));
    EXPECT_EQ(show_date(subtract_days_from_date(1, date(1999, 0, 0))), show_date(date(1998, 12, 30)));
}

}  // namespace
