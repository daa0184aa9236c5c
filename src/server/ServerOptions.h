// The options of stendograph-server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The administrator's review of held ranking entries, instead of serving.
enum class TReviewAction { None, List, Accept, Reject };

struct TServerOptions {
    std::string ListenHost = "127.0.0.1";
    int ListenPort = 8080; // 0: any free port, printed at start
    std::string Database = "dbname=stendograph";
    std::vector<std::string> ReadDatabases; // --read-database, each a streaming replica
    int DatabaseConnections = 0;            // to each database, per kind of work; 0: one per core
    int UploadsPerMinute = 30;
    std::string TrustedProxy; // --trusted-proxy: the reverse proxy's address, or empty
    TReviewAction Review = TReviewAction::None;
    std::int64_t ReviewComputer = 0; // --accept and --reject: the entry's computer
    std::int32_t ReviewKind = 0;     // and kind, 0 hw, 1 sw, 2 emulation
    bool Help = false;
};

// The options of the arguments (without the program name); nothing with a message in *error
// when they are wrong.
std::optional<TServerOptions> ParseServerOptions(const std::vector<std::string>& arguments,
                                                 std::string* error);

// The text of --help.
std::string ServerUsage();
