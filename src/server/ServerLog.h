// The server's log: lines on standard error, each with the time it was written.
#pragma once

#include <string>

void ServerLog(const std::string& line);
