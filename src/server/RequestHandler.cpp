#include "server/RequestHandler.h"

#include "server/ResponseCache.h"
#include "server/ServerChart.h"
#include "server/ServerJson.h"
#include "server/ServerLog.h"
#include "server/ServerPages.h"
#include "server/StoredBytes.h"
#include "state/Publishing.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <random>

namespace {

constexpr const char* JsonType = "application/json; charset=utf-8";
constexpr const char* HtmlType = "text/html; charset=utf-8";

// A bad parameter: the message names it and what it takes.
struct TBadRequest {
    QString Message;
};

THttpResponse Json(int status, const QByteArray& body) {
    return {status, JsonType, body.toStdString(), {}};
}

THttpResponse JsonError(int status, const QString& message) {
    return Json(status, ErrorJson(message));
}

std::optional<std::int64_t> ParseInteger(const std::string& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

const std::string* Parameter(const THttpRequest& request, const std::string& name) {
    const auto it = request.Query.find(name);
    return it == request.Query.end() ? nullptr : &it->second;
}

std::int32_t AccelerationOf(const THttpRequest& request) {
    const std::string* text = Parameter(request, "accel");
    if (text == nullptr || text->empty())
        return 0;
    for (std::int32_t a = 0; a < 4; ++a)
        if (*text == AccelerationFilterName(a))
            return a;
    throw TBadRequest{QStringLiteral("accel: one of any, hw, sw, emulation")};
}

std::int64_t IntegerOf(const THttpRequest& request, const std::string& name, std::int64_t fallback,
                       std::int64_t least, std::int64_t most) {
    const std::string* text = Parameter(request, name);
    if (text == nullptr || text->empty())
        return fallback;
    const auto value = ParseInteger(*text);
    if (!value || *value < least || *value > most)
        throw TBadRequest{QStringLiteral("%1: a whole number from %2 to %3")
                              .arg(QString::fromStdString(name))
                              .arg(least)
                              .arg(most)};
    return *value;
}

// The id of "/prefix/{id}", or nothing when the path is another one.
std::optional<std::int64_t> IdAfter(const std::string& path, const std::string& prefix) {
    if (path.rfind(prefix, 0) != 0)
        return std::nullopt;
    const auto id = ParseInteger(path.substr(prefix.size()));
    if (!id || *id < 1)
        return std::nullopt;
    return id;
}

constexpr const char* TooLargeUpload = "a results file of at most 64 MiB is taken";

bool IsUpload(const std::string& method, const std::string& path) {
    return method == "POST" && path == "/api/results";
}

// The SHA-256 of the 32 bytes of the publisher key of "Authorization: Bearer KEY", KEY in 64
// hexadecimal digits; empty when the header is absent.
QByteArray PublisherHashOf(const std::string& authorization) {
    if (authorization.empty())
        return {};
    const QByteArray header = QByteArray::fromStdString(authorization).trimmed();
    const QByteArray scheme = PublisherKeyScheme;
    const QByteArray digits = header.mid(scheme.size()).trimmed();
    const bool hex = std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c));
    });
    if (!header.startsWith(scheme) || digits.size() != 2 * PublisherKeyBytes || !hex)
        throw TBadRequest{QStringLiteral("Authorization: \"Bearer\" and the %1 hexadecimal "
                                         "digits of a publisher key")
                              .arg(2 * PublisherKeyBytes)};
    const QByteArray key = QByteArray::fromHex(digits);
    return Sha256(key.constData(), static_cast<std::size_t>(key.size()));
}

// Takes the request's body.
THttpResponse Upload(THttpRequest& request, TServerContext& context) {
    if (request.Body.size() > MaxUploadBytes)
        return JsonError(413, QString::fromLatin1(TooLargeUpload));
    const QByteArray publisher = PublisherHashOf(request.Authorization);
    const TUploadOutcome outcome =
        context.Database.Upload(std::move(request.Body), request.RemoteAddress, publisher);
    return Json(outcome.TookNothing() ? 400 : 200, UploadJson(outcome));
}

THttpResponse RankingApi(const THttpRequest& request, TServerContext& context) {
    const std::int32_t accel = AccelerationOf(request);
    const std::int64_t offset = IntegerOf(request, "offset", 0, 0, INT32_MAX);
    const std::int64_t limit = IntegerOf(request, "limit", RankingPageSize, 1, MaxRankingLimit);
    const TRankingPage page = context.Database.Ranking(accel, offset, limit);
    return Json(200, RankingJson(page, accel, offset, limit));
}

THttpResponse ComputerApi(std::int64_t id, TServerContext& context) {
    const auto computer = context.Database.Computer(id);
    if (!computer)
        return JsonError(404, QStringLiteral("there is no computer %1").arg(id));
    return Json(200, ComputerJson(*computer));
}

// rows=FIRST:COUNT, entries numbered from 1 as the command line's --rows has them.
std::pair<std::int64_t, std::int64_t> RowsOf(const THttpRequest& request) {
    const std::string* text = Parameter(request, "rows");
    if (text == nullptr || text->empty())
        return {1, RankingPageSize};
    const auto colon = text->find(':');
    const auto first = ParseInteger(text->substr(0, colon));
    // Without a colon the count is empty, which is no number.
    const auto count =
        ParseInteger(colon == std::string::npos ? std::string() : text->substr(colon + 1));
    if (!first || !count || *first < 1 || *first > INT32_MAX || *count < 1 ||
        *count > MaxRankingLimit)
        throw TBadRequest{QStringLiteral("rows: FIRST:COUNT, entries from 1, at most %1 of them")
                              .arg(MaxRankingLimit)};
    return {*first, *count};
}

THttpResponse Png(const QByteArray& png) {
    if (png.isEmpty())
        return JsonError(500, QStringLiteral("the picture could not be drawn"));
    return {200, "image/png", png.toStdString(), {}};
}

THttpResponse ChartPicture(const THttpRequest& request, TServerContext& context) {
    const std::string* view = Parameter(request, "view");
    if (view == nullptr || view->empty() || *view == "all") {
        const std::int32_t accel = AccelerationOf(request);
        const auto [first, count] = RowsOf(request);
        const TRankingPage page = context.Database.Ranking(accel, first - 1, count);
        if (page.Rows.empty() && page.Total > 0)
            throw TBadRequest{QStringLiteral("rows: the chart has %1 entries; %2:%3 picks none")
                                  .arg(page.Total)
                                  .arg(first)
                                  .arg(count)};
        return Png(ChartPng(RankingChartLayout(page, accel)));
    }
    const auto id = ParseInteger(*view);
    if (!id || *id < 1)
        throw TBadRequest{QStringLiteral("view: all or the number of a computer")};
    if (Parameter(request, "accel") != nullptr || Parameter(request, "rows") != nullptr)
        throw TBadRequest{
            QStringLiteral("accel and rows: only the chart of all computers takes them")};
    const auto computer = context.Database.Computer(*id);
    if (!computer)
        return JsonError(404, QStringLiteral("there is no computer %1").arg(*id));
    return Png(ChartPng(ComputerChartLayout(*computer)));
}

// The file is written to a temporary file as the computers are read, and sent from there.
THttpResponse ResultsFile(const THttpRequest& request, TServerContext& context) {
    const std::int32_t accel = AccelerationOf(request);
    const std::int64_t top = IntegerOf(request, "top", 100, 1, MaxTopComputers);
    static thread_local std::mt19937 tails{std::random_device{}()};
    std::shared_ptr<TResponseFile> file;
    bool stored = true; // every piece went into the file
    const TResultsFileSink sink = [&](const std::uint8_t* bytes, std::size_t size) {
        stored = file->Append(bytes, size);
        return stored;
    };
    std::optional<TResultsFileWriter> writer;
    const bool read = context.Database.TopComputers(
        accel, top,
        [&](std::size_t computers) {
            file = TResponseFile::Create();
            stored = file != nullptr;
            writer.emplace(static_cast<std::int32_t>(computers), tails(), sink);
        },
        [&](const TStoredComputer& computer) {
            return stored && writer->Add(computer.Computer, computer.Devices, computer.Results);
        });
    if (!stored) {
        THttpResponse response = JsonError(
            503,
            QStringLiteral("the server has no room for the results file now; try again later"));
        response.Headers.emplace_back("Retry-After", "10");
        return response;
    }
    if (!read || !writer->Finish())
        return JsonError(500, QStringLiteral("the results file would be too large"));
    return {200,
            "application/octet-stream",
            {},
            {{"Content-Disposition", "attachment; filename=\"Community.bin\""}},
            std::move(file)};
}

THttpResponse RankingPage(const THttpRequest& request, TServerContext& context) {
    const std::int32_t accel = AccelerationOf(request);
    const std::int64_t offset = IntegerOf(request, "offset", 0, 0, INT32_MAX);
    const TRankingPage page = context.Database.Ranking(accel, offset, RankingPageSize);
    return {200, HtmlType, RankingPageHtml(page, accel, offset).toStdString(), {}};
}

THttpResponse ComputerPage(std::int64_t id, TServerContext& context) {
    const auto computer = context.Database.Computer(id);
    if (!computer)
        return {404,
                HtmlType,
                MessagePageHtml(QStringLiteral("Компьютер не найден"),
                                QStringLiteral("Компьютера с номером %1 нет.").arg(id))
                    .toStdString(),
                {}};
    return {200, HtmlType, ComputerPageHtml(*computer).toStdString(), {}};
}

// The ranking's answers (the page, the API and the chart of all computers) are kept for a
// moment; the key is the request as the handler reads it.
bool IsRankingRequest(const THttpRequest& request) {
    if (request.Method != "GET" && request.Method != "HEAD")
        return false;
    if (request.Path == "/" || request.Path == "/api/ranking")
        return true;
    const std::string* view = Parameter(request, "view");
    return request.Path == "/chart.png" && (view == nullptr || view->empty() || *view == "all");
}

std::string CacheKey(const THttpRequest& request) {
    std::string key = request.Path;
    for (const auto& [name, value] : request.Query)
        key += '\n' + name + '=' + value;
    return key;
}

THttpResponse Route(THttpRequest& request, TServerContext& context) {
    const std::string& path = request.Path;
    const bool get = request.Method == "GET" || request.Method == "HEAD";
    if (path == "/api/results")
        return request.Method == "POST"
                   ? Upload(request, context)
                   : JsonError(405, QStringLiteral("POST a results file here"));
    if (!get)
        return JsonError(405, QStringLiteral("only GET is answered here"));
    if (path == "/")
        return RankingPage(request, context);
    if (path == "/api/ranking")
        return RankingApi(request, context);
    if (const auto id = IdAfter(path, "/api/computers/"))
        return ComputerApi(*id, context);
    if (const auto id = IdAfter(path, "/computers/"))
        return ComputerPage(*id, context);
    if (path == "/chart.png")
        return ChartPicture(request, context);
    if (path == "/Results.bin")
        return ResultsFile(request, context);
    return JsonError(404, QStringLiteral("no such address"));
}

} // namespace

std::optional<THttpResponse> ScreenRequest(const THttpRequestHead& head, TServerContext& context) {
    if (!IsUpload(head.Method, head.Path))
        return std::nullopt;
    if (head.ContentLength && *head.ContentLength > MaxUploadBytes)
        return JsonError(413, QString::fromLatin1(TooLargeUpload));
    // A compressed body could inflate to any size; the file is sent as it is.
    if (!head.ContentEncoding.empty() &&
        QString::fromStdString(head.ContentEncoding).compare("identity", Qt::CaseInsensitive) != 0)
        return JsonError(415, QStringLiteral("send the results file as it is, without a "
                                             "Content-Encoding"));
    if (!context.Limiter.Allow(head.RemoteAddress)) {
        THttpResponse response =
            JsonError(429, QStringLiteral("too many uploads from this address; try again later"));
        response.Headers.emplace_back(
            "Retry-After", std::to_string(context.Limiter.SecondsToWait(head.RemoteAddress)));
        return response;
    }
    return std::nullopt;
}

std::size_t BodyLimit(const THttpRequestHead& head) {
    return IsUpload(head.Method, head.Path) ? MaxUploadBytes : MaxOtherBodyBytes;
}

THttpResponse TooLargeResponse(const std::string& path) {
    return JsonError(413, path == "/api/results"
                              ? QString::fromLatin1(TooLargeUpload)
                              : QStringLiteral("no request here sends a body of that size"));
}

THttpResponse JsonErrorResponse(int status, const char* message) {
    return JsonError(status, QString::fromUtf8(message));
}

std::optional<THttpResponse> KeptResponse(const THttpRequest& request, TServerContext& context) {
    if (!IsRankingRequest(request))
        return std::nullopt;
    return context.Cache.Find(CacheKey(request), context.Database.Generation());
}

THttpResponse HandleRequest(THttpRequest request, TServerContext& context) {
    try {
        if (!IsRankingRequest(request))
            return Route(request, context);
        const std::string key = CacheKey(request);
        const std::uint64_t generation = context.Database.Generation();
        if (auto kept = context.Cache.Find(key, generation))
            return *kept;
        THttpResponse response = Route(request, context);
        if (response.Status == 200)
            context.Cache.Put(key, generation, response);
        return response;
    } catch (const TBadRequest& bad) {
        return JsonError(400, bad.Message);
    } catch (const TDatabaseError& error) {
        // What the database said is for the log; the client learns only that it failed.
        ServerLog(request.Method + " " + request.Path + ": " + error.what());
        THttpResponse response = JsonError(
            503, QStringLiteral("the results database cannot be reached now; try again later"));
        response.Headers.emplace_back("Retry-After", "10");
        return response;
    } catch (const std::exception& error) {
        // A fault of the server's own: this request fails, the others go on.
        ServerLog(request.Method + " " + request.Path + ": failed: " + error.what());
        return JsonError(500, QStringLiteral("the server could not answer this request"));
    }
}
