#pragma once
// The words of sonavelctl's schedule options turned into the server's values
// and back: days as a day mask, targets as target text, start times as the
// server's time of day. Pure functions.

#include <string>

// Bit of a weekday in the day mask: Monday 2 ... Saturday 64, Sunday 128.
// weekday counts as struct tm's tm_wday does (Sunday 0).
int dayBitOf(int weekday);

// Comma-separated words: mon ... sun (or the full names), today, daily,
// weekdays, weekend. weekly adds bit 0 (every week). Returns false with error
// set for an unknown word or no day at all.
bool parseDays(const std::string& words, bool weekly, int todayBit, int& mask, std::string& error);
// "weekly mon,wed" or "once sat" for listings.
std::string describeDays(int mask);

// all, group:ID[,ID...] or endpoint:ID[,ID...] to target text.
bool parseTargetWords(const std::string& words, std::string& targetText, std::string& error);
// Target text back to those words; text that is not one of them is shown as it is.
std::string describeTarget(const std::string& targetText);

// now, or H:M or H:M:S within a day, to the server's form ("8:5:0"; "now" stays).
bool parseStartTime(const std::string& text, std::string& out, std::string& error);
