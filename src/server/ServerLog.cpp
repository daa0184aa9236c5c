#include "server/ServerLog.h"

#include <cstdio>
#include <ctime>

void ServerLog(const std::string& line) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    // One call per line, so that lines of several threads do not mix.
    std::fprintf(stderr, "%s stendograph-server: %s\n", stamp, line.c_str());
}
