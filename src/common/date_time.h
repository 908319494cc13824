#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace vorncom {

// An OLE Automation date: days since 30 December 1899, the fraction being the time of day.
// Negative values count days backwards while the fraction still counts forwards, as OLE does.
struct OleDate {
  double value = 0.0;
  friend bool operator==(OleDate, OleDate) = default;
};

struct CivilDateTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

CivilDateTime ToCivil(OleDate date);
OleDate FromCivil(const CivilDateTime& civil);

// Local wall-clock time now, and conversions from and to time_t through the local time zone.
OleDate Now();
OleDate FromTimeT(std::time_t t);
std::time_t ToTimeT(OleDate date);

// The library's process-wide formats: short date "dd/mm/yyyy", long time "hh:nn:ss", short time
// "hh:nn", stored date-times "dd/mm/yyyy hh:nn:ss".
std::string FormatShortDate(OleDate date);
std::string FormatLongTime(OleDate date);
std::string FormatShortTime(OleDate date);
std::string FormatDateTime(OleDate date);

// The text a date variant turns into: date only at midnight, time only on day zero, else both.
std::string DateToText(OleDate date);

// Parses "dd/mm/yyyy", "hh:nn[:ss]" or "dd/mm/yyyy hh:nn[:ss]"; nullopt when the text is none.
std::optional<OleDate> ParseDateTime(std::string_view text);

}  // namespace vorncom
