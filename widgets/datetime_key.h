#pragma once
// The sort key of a date/time text in a list cell: a 64-bit number whose decimal
// digits are year, month, day, hour, minute and second ("%04d%02d%02d%02d%02d%02d"),
// so that keys compare as the times do. Reads texts such as "12/06/26 (05:53:43 PM)"
// and "Dec 6 2026 17:53:43"; free of Qt, and stays inside its input whatever the bytes.
#include <cstdint>
#include <string_view>

namespace widgets {

// 0 for a text shorter than 15 or longer than 50 bytes.
//
// Tokens are separated by blanks, "(" and ")" count as blanks:
//  - a/b/c (three non-empty parts): month a, day b, year c (a two-digit year stays so);
//  - h:m:s (three non-empty parts): hour += h, minute m, second s; an "AM"/"PM" glued
//    to the seconds counts as a marker token;
//  - a number >= 1901 is the year, another number >= 1 the day;
//  - a word of more than two letters starting with "jan" ... "dec" is the month;
//  - "am"/"pm" (any case): 12-hour time, 12 AM is hour 0, 1 PM to 11 PM are 13 to 23.
// Numbers are read like atoi (leading sign and digits, anything else 0).
int64_t DateTimeKey(std::string_view text);

}  // namespace widgets
