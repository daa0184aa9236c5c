// The server's routes: a request in, a response out, with no socket in between, so that every
// route is tested as a plain function call.
#pragma once

#include "server/ResponseFile.h"
#include "server/ResultsDatabase.h"
#include "server/UploadLimiter.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The largest results file taken; a larger body is answered 413 without being read further.
inline constexpr std::size_t MaxUploadBytes = 64 * 1024 * 1024;
// The largest body of any other request (they take none).
inline constexpr std::size_t MaxOtherBodyBytes = 64 * 1024;
// At most this many computers in one /Results.bin, and entries in one API page or picture.
inline constexpr std::int64_t MaxTopComputers = 10000;
inline constexpr std::int64_t MaxRankingLimit = 100;

struct THttpRequest {
    std::string Method;
    std::string Path;
    std::map<std::string, std::string> Query; // the first value of each name
    std::string Body;
    std::string RemoteAddress;
    std::string Authorization = {}; // the header as sent; empty when there is none
};

// What a request says before its body: enough to refuse it without reading the body.
struct THttpRequestHead {
    std::string Method;
    std::string Path;
    std::string RemoteAddress;
    std::optional<std::uint64_t> ContentLength; // nothing when the body is chunked or absent
    std::string ContentEncoding;                // empty when none was sent
};

struct THttpResponse {
    int Status = 200;
    std::string ContentType;
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
    // When set, the body is this file's bytes instead (Body is empty).
    std::shared_ptr<const TResponseFile> File = {};
};

class TResponseCache;
struct TServerContext {
    TResultsDatabase& Database;
    TUploadLimiter& Limiter;
    TResponseCache& Cache;
};

// The answer to request. An upload's body goes to the database, which lets it go once read.
THttpResponse HandleRequest(THttpRequest request, TServerContext& context);

// The answer HandleRequest would give from the answers it keeps, or nothing when it would have
// to ask the database: quick enough for the threads that read the requests.
std::optional<THttpResponse> KeptResponse(const THttpRequest& request, TServerContext& context);

// The answer that refuses a request from its header alone, or nothing when it may go on: an
// upload larger than MaxUploadBytes (413), compressed (415) or past its sender's upload limit
// (429 with Retry-After). An upload that may go on has used one of its sender's uploads.
std::optional<THttpResponse> ScreenRequest(const THttpRequestHead& head, TServerContext& context);

// The most body bytes the request may send.
std::size_t BodyLimit(const THttpRequestHead& head);

// The answer to a body past BodyLimit.
THttpResponse TooLargeResponse(const std::string& path);

// An answer {"error": message} with that status.
THttpResponse JsonErrorResponse(int status, const char* message);
