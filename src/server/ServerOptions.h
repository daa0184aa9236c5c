// The options of stendograph-server.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct TServerOptions {
    std::string ListenHost = "127.0.0.1";
    int ListenPort = 8080; // 0: any free port, printed at start
    std::string Database = "dbname=stendograph";
    int UploadsPerMinute = 30;
    bool Help = false;
};

// The options of the arguments (without the program name); nothing with a message in *error
// when they are wrong.
std::optional<TServerOptions> ParseServerOptions(const std::vector<std::string>& arguments,
                                                 std::string* error);

// The text of --help.
std::string ServerUsage();
