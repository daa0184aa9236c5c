#include "server/ServerOptions.h"

#include <arpa/inet.h>
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

// COMPUTER:KIND, KIND one of hw, sw, emulation.
bool ParseEntry(const std::string& text, TServerOptions& options) {
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    const std::string id = text.substr(0, colon);
    const auto [end, error] =
        std::from_chars(id.data(), id.data() + id.size(), options.ReviewComputer);
    if (error != std::errc() || end != id.data() + id.size() || options.ReviewComputer < 1)
        return false;
    const char* const kinds[] = {"hw", "sw", "emulation"};
    for (std::int32_t k = 0; k < 3; ++k)
        if (text.substr(colon + 1) == kinds[k]) {
            options.ReviewKind = k;
            return true;
        }
    return false;
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
        const bool review = name == "--review" || name == "--accept" || name == "--reject";
        if (review && options.Review != TReviewAction::None) {
            *error = "--review, --accept and --reject exclude each other";
            return std::nullopt;
        }
        if (name == "--review") {
            options.Review = TReviewAction::List;
            continue;
        }
        if (name != "--listen" && name != "--database" && name != "--read-database" &&
            name != "--database-connections" && name != "--uploads-per-minute" &&
            name != "--trusted-proxy" && !review) {
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
        if (name == "--read-database")
            options.ReadDatabases.push_back(value);
        if (name == "--trusted-proxy") {
            in6_addr address{};
            if (inet_pton(AF_INET, value.c_str(), &address) != 1 &&
                inet_pton(AF_INET6, value.c_str(), &address) != 1) {
                *error = "--trusted-proxy: an IPv4 or IPv6 address, for example 127.0.0.1";
                return std::nullopt;
            }
            options.TrustedProxy = value;
        }
        if (review && !ParseEntry(value, options)) {
            *error = name + ": COMPUTER:KIND, for example 12:hw (KIND hw, sw or emulation)";
            return std::nullopt;
        }
        if (review)
            options.Review = name == "--accept" ? TReviewAction::Accept : TReviewAction::Reject;
        if (name == "--database-connections" &&
            !ParseNumber(value, 1, 64, options.DatabaseConnections)) {
            *error = "--database-connections: a whole number from 1 to 64";
            return std::nullopt;
        }
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
           "With --review, --accept or --reject it lists or decides on the ranking entries\n"
           "held for review instead, and ends.\n"
           "\n"
           "Options:\n"
           "  --listen ADDRESS:PORT     where to listen (default 127.0.0.1:8080; port 0 takes\n"
           "                            any free port)\n"
           "  --database CONNECTION     the PostgreSQL database, as a libpq connection string or\n"
           "                            URI (default \"dbname=stendograph\"); the schema is "
           "created\n"
           "                            and upgraded at start; uploads go there\n"
           "  --read-database CONNECTION\n"
           "                            a streaming replica of that database (again for more\n"
           "                            of them): the ranking, the pages, the computers and\n"
           "                            the results file are read there while it is no more\n"
           "                            than 2 s behind, else from the database\n"
           "  --database-connections N  connections to each database for each of pages and\n"
           "                            computers, results files and uploads (default one per\n"
           "                            core of this machine; with PostgreSQL on a machine of\n"
           "                            its own, that machine's cores)\n"
           "  --uploads-per-minute N    uploads taken from one address per minute (default 30)\n"
           "  --trusted-proxy ADDRESS   the reverse proxy in front: its connections are not\n"
           "                            bound per address, and X-Forwarded-For names the\n"
           "                            sender of its requests\n"
           "  --review                  lists the ranking entries held for review, far above\n"
           "                            what their adapter scores on other computers\n"
           "  --accept COMPUTER:KIND    ranks the held entry of that computer and kind (hw, sw\n"
           "                            or emulation)\n"
           "  --reject COMPUTER:KIND    keeps that entry out of the ranking, held or ranked\n"
           "  --help                    this text\n"
           "\n"
           "The server refuses to run as root. Exit status: 0 after a stop by SIGTERM or SIGINT\n"
           "or a review done, 1 when the database or the address cannot be used or there is no\n"
           "such entry, 2 for wrong options or root.\n";
}
