// The server's routes: a request in, a response out, with no socket in between, so that every
// route is tested as a plain function call.
#pragma once

#include "server/ResultsDatabase.h"
#include "server/UploadLimiter.h"

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

// The largest results file taken; a larger body is answered 413 before it is read.
inline constexpr std::size_t MaxUploadBytes = 64 * 1024 * 1024;
// At most this many computers in one /Results.bin, and entries in one API page or picture.
inline constexpr std::int64_t MaxTopComputers = 10000;
inline constexpr std::int64_t MaxRankingLimit = 100;

struct THttpRequest {
    std::string Method;
    std::string Path;
    std::map<std::string, std::string> Query; // the first value of each name
    std::string Body;
    std::string RemoteAddress;
};

struct THttpResponse {
    int Status = 200;
    std::string ContentType;
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
};

class TResponseCache;
struct TServerContext {
    TResultsDatabase& Database;
    TUploadLimiter& Limiter;
    TResponseCache& Cache;
};

THttpResponse HandleRequest(const THttpRequest& request, TServerContext& context);
