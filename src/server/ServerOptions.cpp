#include "server/ServerOptions.h"

#include <charconv>

namespace {

bool ParseNumber(const std::string& text, int least, int most, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() &&
           value >= least && value <= most;
}

// ADDRESS:PORT, or [ADDRESS]:PORT for an IPv6 address.
bool ParseListen(const std::string& text, TServerOptions& options) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty())
        return false;
    options.ListenHost = host;
    return ParseNumber(text.substr(colon + 1), 0, 65535, options.ListenPort);
}

} // namespace

std::optional<TServerOptions> ParseServerOptions(const std::vector<std::string>& arguments,
                                                 std::string* error) {
    TServerOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") {
            options.Help = true;
            continue;
        }
        if (name != "--listen" && name != "--database" && name != "--uploads-per-minute") {
            *error = "unknown option " + name + "; see --help";
            return std::nullopt;
        }
        if (i + 1 == arguments.size()) {
            *error = name + " needs a value; see --help";
            return std::nullopt;
        }
        const std::string& value = arguments[++i];
        if (name == "--listen" && !ParseListen(value, options)) {
            *error = "--listen: ADDRESS:PORT, for example 127.0.0.1:8080";
            return std::nullopt;
        }
        if (name == "--database")
            options.Database = value;
        if (name == "--uploads-per-minute" &&
            !ParseNumber(value, 1, 1000000, options.UploadsPerMinute)) {
            *error = "--uploads-per-minute: a whole number from 1";
            return std::nullopt;
        }
    }
    return options;
}

std::string ServerUsage() {
    // One usage line and an "Options:" heading: the manual page is made from this text.
    return "Usage: stendograph-server [OPTIONS]\n"
           "\n"
           "Serves the results of every computer uploaded to it: the ranking page at /, the\n"
           "API under /api/, the chart at /chart.png and the results file at /Results.bin.\n"
           "\n"
           "Options:\n"
           "  --listen ADDRESS:PORT     where to listen (default 127.0.0.1:8080; port 0 takes\n"
           "                            any free port)\n"
           "  --database CONNECTION     the PostgreSQL database, as a libpq connection string or\n"
           "                            URI (default \"dbname=stendograph\"); the schema is "
           "created\n"
           "                            and upgraded at start\n"
           "  --uploads-per-minute N    uploads taken from one address per minute (default 30)\n"
           "  --help                    this text\n"
           "\n"
           "The server refuses to run as root. Exit status: 0 after a stop by SIGTERM or SIGINT,\n"
           "1 when the database or the address cannot be used, 2 for wrong options or root.\n";
}
