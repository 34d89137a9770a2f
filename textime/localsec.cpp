// The date object, the DATE breakdown, and the library's local seconds.
//
// Everything here is calendar arithmetic on <chrono> days except the two
// questions only the zone can answer, which go to the platform: the local
// wall-clock time of a UTC moment, and the UTC moment of a local wall-clock
// time.  Out-of-range fields (month 0, day 2010, 25 hours) are normalised
// here before the zone is asked, so every platform sees a real date and the
// results agree.  The range of the time count is decided here too, not by
// how far a C library's own time functions reach (the native one goes on for
// billions of years, the DLL's run-time library would stop at 3000): from
// 1970-01-01 00:00 UTC to the end of 9999-12-31 local time, the last day a
// DATE has, the same in every build.
#include "textime/localsec.h"

#include <chrono>
#include <cmath>

#include "platform/platform.h"

namespace hyl {
namespace {

using namespace std::chrono;

constexpr int64_t kSecondsPerDay = 86'400;
constexpr sys_days kUnixEpoch{1970y / January / 1};
constexpr sys_days kDateEpoch{1899y / December / 30};
// The day before local-seconds day 1 (1980-01-01).
constexpr sys_days kLocalSecEpoch{1979y / December / 31};
constexpr int64_t kDateEpochSeconds = (kUnixEpoch - kDateEpoch).count() * kSecondsPerDay;
// The years a DATE is broken down in.
constexpr sys_days kFirstDay{100y / January / 1};
constexpr sys_days kLastDay{9999y / December / 31};
// No zone is a whole day away from UTC, so a count past the first day after
// the last one has no local time a DATE can hold; refusing it before the
// zone is asked keeps every platform's conversion well inside its range.
constexpr int64_t kTimeCountLimit = ((kLastDay - kUnixEpoch).count() + 2) * kSecondsPerDay;

constexpr int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
constexpr int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// What local seconds 0 (no date) stands for: the standard normalisation of
// year 1979, month 0, day 0, where both calendar walks end when there is no
// day to walk.  Hosts compare against its DATE, 28,824.0.
constexpr LocalFields kNoDateMoment{1978, 11, 30, 0, 0, 0};

bool in_range(int64_t v, int64_t limit) { return v >= -limit && v <= limit; }


bool breakdown(const COleDateTime& d, SystemTime* st) {
    return d.m_status == COleDateTime::valid && VariantTimeToSystemTime(d.m_dt, st);
}

}  // namespace

// --- DATE arithmetic ---------------------------------------------------------

bool Dt_SecondsFromDate(double date, int64_t* seconds) {
    if (!std::isfinite(date)) return false;
    const double first = static_cast<double>((kFirstDay - kDateEpoch).count());
    const double last = static_cast<double>((kLastDay - kDateEpoch).count());
    // A negative DATE's fraction runs forward from the start of its day, so
    // anything within the first day's whole number still belongs to it.
    if (date <= first - 1.0 || date >= last + 1.0) return false;
    const double whole = std::trunc(date);
    const int64_t of_day = std::llround(std::fabs(date - whole) * kSecondsPerDay);
    const int64_t s = static_cast<int64_t>(whole) * kSecondsPerDay + of_day;
    // Rounding up the last second of 9999-12-31 leaves the years a DATE has.
    if (s >= ((kLastDay - kDateEpoch).count() + 1) * kSecondsPerDay) return false;
    *seconds = s;
    return true;
}

double Dt_DateFromSeconds(int64_t seconds) {
    const int64_t day = floor_div(seconds, kSecondsPerDay);
    const double fraction = static_cast<double>(floor_mod(seconds, kSecondsPerDay)) / kSecondsPerDay;
    return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

int64_t Dt_SecondsFromCivil(const SystemTime& f) {
    const sys_days day{year{f.wYear} / month{f.wMonth} / std::chrono::day{f.wDay}};
    return (day - kUnixEpoch).count() * kSecondsPerDay + f.wHour * 3600 + f.wMinute * 60 + f.wSecond;
}

bool Dt_CivilFromSeconds(int64_t seconds, SystemTime* f) {
    const int64_t day_count = floor_div(seconds, kSecondsPerDay);
    if (day_count < (kFirstDay - kUnixEpoch).count() || day_count > (kLastDay - kUnixEpoch).count())
        return false;
    const sys_days day = kUnixEpoch + days{day_count};
    const year_month_day ymd{day};
    const int64_t of_day = floor_mod(seconds, kSecondsPerDay);
    f->wYear = static_cast<uint16_t>(static_cast<int>(ymd.year()));
    f->wMonth = static_cast<uint16_t>(static_cast<unsigned>(ymd.month()));
    f->wDayOfWeek = static_cast<uint16_t>(weekday{day}.c_encoding());
    f->wDay = static_cast<uint16_t>(static_cast<unsigned>(ymd.day()));
    f->wHour = static_cast<uint16_t>(of_day / 3600);
    f->wMinute = static_cast<uint16_t>(of_day / 60 % 60);
    f->wSecond = static_cast<uint16_t>(of_day % 60);
    f->wMilliseconds = 0;
    return true;
}

bool VariantTimeToSystemTime(double date, SystemTime* fields) {
    int64_t seconds = 0;
    if (!Dt_SecondsFromDate(date, &seconds)) return false;
    return Dt_CivilFromSeconds(seconds - kDateEpochSeconds, fields);
}

// --- The date object ---------------------------------------------------------

SystemTime Dt_SystemTimeFromCivil(const CivilTime& c) {
    SystemTime st;
    st.wYear = static_cast<uint16_t>(c.year);
    st.wMonth = static_cast<uint16_t>(c.month);
    st.wDay = static_cast<uint16_t>(c.day);
    st.wHour = static_cast<uint16_t>(c.hour);
    st.wMinute = static_cast<uint16_t>(c.minute);
    st.wSecond = static_cast<uint16_t>(c.second);
    return st;
}

COleDateTime& COleDateTime::operator=(double date) {
    m_dt = date;
    m_status = valid;
    return *this;
}

COleDateTime& COleDateTime::SetTimeCount(int64_t time_count) {
    CivilTime local;
    if (time_count < 0 || time_count >= kTimeCountLimit || !platform().utc_to_local(time_count, &local, nullptr)) {
        m_dt = 0.0;
        m_status = invalid;
        return *this;
    }
    return *this = Dt_SystemTimeFromCivil(local);
}

COleDateTime& COleDateTime::operator=(const SystemTime& f) {
    const year_month_day ymd{year{f.wYear}, month{f.wMonth}, day{f.wDay}};
    if (f.wYear < 100 || f.wYear > 9999 || !ymd.ok() || f.wHour > 23 || f.wMinute > 59 || f.wSecond > 59) {
        m_dt = 0.0;
        m_status = invalid;
        return *this;
    }
    m_dt = Dt_DateFromSeconds(Dt_SecondsFromCivil(f) + kDateEpochSeconds);
    m_status = valid;
    return *this;
}

int COleDateTime::GetYear() const {
    SystemTime st;
    return breakdown(*this, &st) ? st.wYear : -1;
}
int COleDateTime::GetMonth() const {
    SystemTime st;
    return breakdown(*this, &st) ? st.wMonth : -1;
}
int COleDateTime::GetDay() const {
    SystemTime st;
    return breakdown(*this, &st) ? st.wDay : -1;
}
int COleDateTime::GetHour() const {
    SystemTime st;
    return breakdown(*this, &st) ? st.wHour : -1;
}
int COleDateTime::GetMinute() const {
    SystemTime st;
    return breakdown(*this, &st) ? st.wMinute : -1;
}
int COleDateTime::GetSecond() const {
    SystemTime st;
    return breakdown(*this, &st) ? st.wSecond : -1;
}

// --- Local seconds -----------------------------------------------------------

int64_t Dt_TimeFromLocalFields(const LocalFields& f, int dst_hint) {
    // Years this far out cannot come back into the time count's range with
    // any offset the callers produce; refusing them keeps <chrono> in range.
    constexpr int64_t kFieldLimit = int64_t{1} << 40;
    if (!in_range(f.year, 30'000) || !in_range(f.month, 1'000'000) || !in_range(f.day, kFieldLimit) ||
        !in_range(f.hour, kFieldLimit) || !in_range(f.minute, kFieldLimit) || !in_range(f.second, kFieldLimit))
        return -1;
    const int64_t y = f.year + floor_div(f.month - 1, 12);
    if (!in_range(y, 30'000)) return -1;
    const unsigned m = static_cast<unsigned>(floor_mod(f.month - 1, 12) + 1);
    const sys_days first_of_month{year{static_cast<int>(y)} / month{m} / 1};
    const int64_t wall = ((first_of_month - kUnixEpoch).count() + f.day - 1) * kSecondsPerDay + f.hour * 3600 +
                         f.minute * 60 + f.second;
    // No zone is a whole day away from UTC: a wall-clock time two days
    // before 1970 cannot be a moment of the count.  Past 9999 there is no
    // calendar date to hand the zone.
    SystemTime st;
    if (wall < -2 * kSecondsPerDay || !Dt_CivilFromSeconds(wall, &st)) return -1;
    const CivilTime local{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
    int64_t utc = 0;
    if (!platform().local_to_utc(local, dst_hint, &utc)) return -1;
    return utc < 0 ? -1 : utc;
}

int64_t Dt_ConvertLocalSec(int64_t value, int direction) {
    if (direction == 1) {
        if (value < kSecondsPerDay) return Dt_TimeFromLocalFields(kNoDateMoment, -1);
        // Day D counts from 1979-12-31 on the Gregorian calendar: every
        // fourth year from 1980 is a leap year up to 2096, and the century
        // rule (2100 is not one, 2400 is) takes over after it.
        const int64_t d = value / kSecondsPerDay, s = value % kSecondsPerDay;
        return Dt_TimeFromLocalFields({1979, 12, 31 + d, s / 3600, s / 60 % 60, s % 60}, -1);
    }
    CivilTime local;
    if (value < 0 || value >= kTimeCountLimit || !platform().utc_to_local(value, &local, nullptr)) return 0;
    if (local.year <= 1980 || local.year > 9999) return 0;
    const sys_days day{year{local.year} / month{static_cast<unsigned>(local.month)} /
                       std::chrono::day{static_cast<unsigned>(local.day)}};
    return (day - kLocalSecEpoch).count() * kSecondsPerDay + local.hour * 3600 + local.minute * 60 + local.second;
}

int64_t Dt_LocalSecFromDate(COleDateTime date) {
    SystemTime st;
    if (!breakdown(date, &st)) return 0;
    return Dt_ConvertLocalSec(
        Dt_TimeFromLocalFields({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond}, -1), 0);
}

int64_t Dt_TimeFromSystemTime(const SystemTime* f) {
    return Dt_TimeFromLocalFields({f->wYear, f->wMonth, f->wDay, f->wHour, f->wMinute, f->wSecond}, 0);
}

}  // namespace hyl
