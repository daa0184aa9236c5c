#include "platform/TimeZone.h"

#include <ctime>
#include <filesystem>
#include <fstream>

std::string ZoneNameFromPath(const std::string& path) {
    std::string name = path;
    if (!name.empty() && name.front() == ':')
        name.erase(0, 1);
    const std::string marker = "zoneinfo/";
    const auto at = name.rfind(marker);
    if (at != std::string::npos)
        name.erase(0, at + marker.size());
    else if (!name.empty() && name.front() == '/')
        return {};
    // A POSIX rule ("MSK-3") is no name of a zone.
    if (name.find_first_of("0123456789,<>") != std::string::npos && name.find('/') == name.npos)
        return {};
    return name;
}

TTimeZoneInformation GetTimeZoneInformation() {
    tzset();
    TTimeZoneInformation info{};
    info.Bias = static_cast<std::int32_t>(timezone / 60);

    // The name and the bias come from one source: a TZ of the environment decides both, so
    // that a POSIX rule ("MSK-3") is named by its own abbreviation, not by the system's zone.
    std::string name;
    const char* tz = std::getenv("TZ");
    const bool fromEnvironment = tz != nullptr; // an empty TZ is UTC
    if (fromEnvironment)
        name = ZoneNameFromPath(tz);
    if (name.empty() && !fromEnvironment) {
        std::ifstream file("/etc/timezone");
        std::getline(file, name);
    }
    if (name.empty() && !fromEnvironment) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink("/etc/localtime", error);
        if (!error)
            name = ZoneNameFromPath(target.string());
    }
    if (name.empty())
        name = tzname[0];
    info.StandardName = name;
    return info;
}
