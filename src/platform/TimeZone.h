// The time zone of this computer: its standard name and the bias from UTC.
#pragma once

#include <cstdint>
#include <string>

struct TTimeZoneInformation {
    std::int32_t Bias;        // minutes, UTC = local standard time + Bias
    std::string StandardName; // UTF-8
};

// The zone's IANA name where it is known (TZ when set, else /etc/timezone or the /etc/localtime
// link), else the standard abbreviation; the standard time's bias, from the same source.
// Daylight saving is not looked at.
TTimeZoneInformation GetTimeZoneInformation();

// The IANA name in a TZ value or a link target such as "/usr/share/zoneinfo/Europe/Moscow";
// empty when it names no zone.
std::string ZoneNameFromPath(const std::string& path);
