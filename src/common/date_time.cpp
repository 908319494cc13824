#include "common/date_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace vorncom {
namespace {

constexpr double kMsPerDay = 86400000.0;

// Days between 1899-12-30 and 1970-01-01.
constexpr long kUnixEpochOle = 25569;

// Howard Hinnant's days_from_civil / civil_from_days, proleptic Gregorian calendar.
long DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int& y, int& m, int& d) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<long>(yoe) + era * 400 + (m <= 2));
}

// Splits an OLE date into whole days and milliseconds of the day, rounding to the millisecond.
void Split(OleDate date, long& days, long& ms) {
  double whole = std::trunc(date.value);
  double frac = std::fabs(date.value - whole);
  ms = std::lround(frac * kMsPerDay);
  days = static_cast<long>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += date.value < 0 ? -1 : 1;
  }
}

std::string Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

CivilDateTime ToCivil(OleDate date) {
  long days = 0, ms = 0;
  Split(date, days, ms);
  CivilDateTime c;
  CivilFromDays(days - kUnixEpochOle, c.year, c.month, c.day);
  c.hour = static_cast<int>(ms / 3600000);
  c.minute = static_cast<int>(ms / 60000 % 60);
  c.second = static_cast<int>(ms / 1000 % 60);
  c.millisecond = static_cast<int>(ms % 1000);
  return c;
}

OleDate FromCivil(const CivilDateTime& c) {
  const long days =
      DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) +
      kUnixEpochOle;
  const double frac =
      ((c.hour * 60.0 + c.minute) * 60.0 + c.second) / 86400.0 + c.millisecond / kMsPerDay;
  return OleDate{days >= 0 ? days + frac : days - frac};
}

OleDate FromTimeT(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return FromCivil({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec, 0});
}

std::time_t ToTimeT(OleDate date) {
  const CivilDateTime c = ToCivil(date);
  std::tm local{};
  local.tm_year = c.year - 1900;
  local.tm_mon = c.month - 1;
  local.tm_mday = c.day;
  local.tm_hour = c.hour;
  local.tm_min = c.minute;
  local.tm_sec = c.second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

OleDate Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  OleDate date = FromTimeT(t);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  date.value += static_cast<double>(ms) / kMsPerDay;
  return date;
}

std::string FormatShortDate(OleDate date) {
  const CivilDateTime c = ToCivil(date);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", c.day, c.month, c.year);
  return buf;
}

std::string FormatLongTime(OleDate date) {
  const CivilDateTime c = ToCivil(date);
  return Two(c.hour) + ":" + Two(c.minute) + ":" + Two(c.second);
}

std::string FormatShortTime(OleDate date) {
  const CivilDateTime c = ToCivil(date);
  return Two(c.hour) + ":" + Two(c.minute);
}

std::string FormatDateTime(OleDate date) {
  return FormatShortDate(date) + " " + FormatLongTime(date);
}

std::string DateToText(OleDate date) {
  long days = 0, ms = 0;
  Split(date, days, ms);
  if (days == 0 && ms != 0) return FormatLongTime(date);
  if (ms == 0) return FormatShortDate(date);
  return FormatDateTime(date);
}

std::optional<OleDate> ParseDateTime(std::string_view text) {
  const std::string s(text);
  int d = 0, mo = 0, y = 0, h = 0, mi = 0, sec = 0;
  int used = 0;
  CivilDateTime c;
  auto valid_time = [&] { return h >= 0 && h < 24 && mi >= 0 && mi < 60 && sec >= 0 && sec < 60; };
  auto valid_date = [&] {
    if (y < 1 || y > 9999 || mo < 1 || mo > 12 || d < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[mo - 1] + (mo == 2 && leap ? 1 : 0);
  };
  if (std::sscanf(s.c_str(), "%d/%d/%d%n", &d, &mo, &y, &used) == 3) {
    if (!valid_date()) return std::nullopt;
    c.year = y, c.month = mo, c.day = d;
    std::string_view rest = text.substr(static_cast<size_t>(used));
    if (rest.empty()) return FromCivil(c);
    int used2 = 0;
    const std::string r(rest);
    const int n = std::sscanf(r.c_str(), " %d:%d%n:%d%n", &h, &mi, &used2, &sec, &used2);
    if (n < 2 || static_cast<size_t>(used2) != r.size()) return std::nullopt;
    if (n == 2) sec = 0;
    if (!valid_time()) return std::nullopt;
    c.hour = h, c.minute = mi, c.second = sec;
    return FromCivil(c);
  }
  const int n = std::sscanf(s.c_str(), "%d:%d%n:%d%n", &h, &mi, &used, &sec, &used);
  if (n < 2 || static_cast<size_t>(used) != s.size()) return std::nullopt;
  if (n == 2) sec = 0;
  if (!valid_time()) return std::nullopt;
  return OleDate{((h * 60.0 + mi) * 60.0 + sec) / 86400.0};
}

}  // namespace vorncom
