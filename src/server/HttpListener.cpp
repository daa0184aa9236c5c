#include "server/HttpListener.h"

#include "server/ResponseFile.h"
#include "server/UploadLimiter.h"

#include <QByteArray>
#include <QUrl>
#include <QUrlQuery>
#include <array>
#include <boost/asio/bind_executor.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <limits>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;

// Threads that move bytes; they never wait for the database.
constexpr int EventThreads = 2;
// Threads that answer requests: enough that 32 clients at once each have one while the
// database answers.
constexpr int WorkerThreads = 32;
// Connections open at once from one sender (an IPv4 address or an IPv6 /64), and in all. A
// connection past either is closed as soon as it is accepted.
constexpr int ConnectionsPerSender = 32;
constexpr int MostConnections = 4000;
// From the moment a request is awaited (a kept-alive connection's wait included) to its whole
// header; then its whole body; then the whole answer.
constexpr auto HeaderTime = 10s;
constexpr auto BodyTime = 60s;
constexpr auto AnswerTime = 60s;
// After a refusal the rest of the request is read and dropped for this long, so that a client
// still sending its body can read the answer before the connection closes.
constexpr auto LingerTime = 5s;
constexpr std::uint32_t MostHeaderBytes = 16 * 1024;
// A body is read through the connection's buffer in pieces of its free room (at least 512
// bytes, at most 64 KiB): a large body gets the largest room while it is read, or a 30 MB upload
// takes tens of thousands of reads and most of a second.
constexpr std::size_t BodyReadRoom = 64 * 1024;
// A body from this size on leaves the memory its answer took to the system afterwards.
constexpr std::size_t LargeBody = 1024 * 1024;
// A connection the listener could not take (no descriptor left) is tried again after this.
constexpr auto AcceptPause = 100ms;

// What every answer says to a browser: nothing but the page's own pictures and its inline
// style, no framing, no guessing of content types.
const std::pair<const char*, const char*> SecurityHeaders[] = {
    {"Content-Security-Policy", "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; "
                                "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"X-Frame-Options", "DENY"},
};

// A body read from a TResponseFile as the client takes it: one piece of memory per answer.
struct TFileBody {
    using value_type = std::shared_ptr<const TResponseFile>;
    static std::uint64_t size(const value_type& file) { return file->Size(); }

    class writer {
    public:
        using const_buffers_type = net::const_buffer;
        template <bool isRequest, class Fields>
        writer(const http::header<isRequest, Fields>&, const value_type& file) : file_(*file) {}
        void init(beast::error_code& error) { error = {}; }
        boost::optional<std::pair<const_buffers_type, bool>> get(beast::error_code& error) {
            error = {};
            const std::uint64_t left = file_.Size() - sent_;
            if (left == 0)
                return boost::none;
            const std::size_t size =
                static_cast<std::size_t>(std::min<std::uint64_t>(left, piece_.size()));
            if (!file_.ReadAt(sent_, piece_.data(), size)) {
                error = beast::errc::make_error_code(beast::errc::io_error);
                return boost::none;
            }
            sent_ += size;
            return std::make_pair(net::const_buffer(piece_.data(), size), sent_ < file_.Size());
        }

    private:
        const TResponseFile& file_;
        std::uint64_t sent_ = 0;
        std::array<char, 64 * 1024> piece_;
    };
};

// Connections open, per sender and in all.
class TConnectionCount {
public:
    // A sender of empty name is bound by the total only.
    bool Admit(const std::string& sender) {
        std::lock_guard lock(mutex_);
        int& open = open_[sender];
        if ((open >= ConnectionsPerSender && !sender.empty()) || total_ >= most_) {
            if (open == 0)
                open_.erase(sender);
            return false;
        }
        ++open;
        ++total_;
        return true;
    }
    void Leave(const std::string& sender) {
        std::lock_guard lock(mutex_);
        const auto it = open_.find(sender);
        if (it != open_.end() && --it->second == 0)
            open_.erase(it);
        --total_;
    }
    void SetMost(int most) { most_ = most; }

private:
    std::mutex mutex_;
    std::unordered_map<std::string, int> open_;
    int total_ = 0;
    int most_ = MostConnections;
};

// As many connections as the descriptors allow: the soft limit is raised to the hard one, and
// the bound leaves room for the database's connections and the files of the process.
int ConnectionsTheProcessAllows() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 900;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    const auto usable = static_cast<long long>(limit.rlim_cur) - 100;
    return static_cast<int>(std::clamp<long long>(usable, 16, MostConnections));
}

std::string Text(beast::string_view view) {
    return std::string(view.data(), view.size());
}

// The path and query of a request target, decoded.
void ReadTarget(std::string_view target, THttpRequest& request) {
    const auto question = target.find('?');
    const std::string_view path = target.substr(0, question);
    request.Path =
        QUrl::fromPercentEncoding(QByteArray(path.data(), static_cast<qsizetype>(path.size())))
            .toStdString();
    if (question == std::string_view::npos)
        return;
    const std::string_view text = target.substr(question + 1);
    const QUrlQuery query(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded))
        request.Query.try_emplace(name.toStdString(), value.toStdString());
}

struct TShared {
    TServerContext& Context;
    std::string TrustedProxy;
    TConnectionCount Connections;
};

// The sender of a request that came through the trusted proxy: the last address the proxy
// added to X-Forwarded-For, or the proxy's own when it names none.
std::string ForwardedSender(beast::string_view forwarded, const std::string& proxy) {
    const std::string list = Text(forwarded);
    const auto comma = list.rfind(',');
    const QString last =
        QString::fromStdString(comma == std::string::npos ? list : list.substr(comma + 1))
            .trimmed();
    beast::error_code error;
    const auto address = net::ip::make_address(last.toStdString(), error);
    return error ? proxy : address.to_string();
}

// The client went, or took too long: nothing is answered.
bool ConnectionEnded(const beast::error_code& error) {
    return error == http::error::end_of_stream || error == beast::error::timeout ||
           error == net::error::operation_aborted || error == net::error::connection_reset ||
           error == net::error::eof;
}

class TSession : public std::enable_shared_from_this<TSession> {
public:
    TSession(tcp::socket socket, std::string address, std::string counted, TShared& shared,
             net::thread_pool& workers)
        : stream_(std::move(socket)), address_(std::move(address)), sender_(address_),
          counted_(std::move(counted)), shared_(shared), workers_(workers) {}
    ~TSession() { shared_.Connections.Leave(counted_); }
    TSession(const TSession&) = delete;
    TSession& operator=(const TSession&) = delete;

    void Start() { ReadHeader(); }

private:
    using TParser = http::request_parser<http::string_body>;
    using TAnswer = http::response<http::string_body>;

    void ReadHeader() {
        parser_.emplace();
        parser_->header_limit(MostHeaderBytes);
        // The bound of the body is the route's, set once the header is read. (No bound at all,
        // boost::none, is taken here for a bound below any length.)
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
        stream_.expires_after(HeaderTime);
        http::async_read_header(stream_, buffer_, *parser_,
                                beast::bind_front_handler(&TSession::OnHeader, shared_from_this()));
    }

    void OnHeader(beast::error_code error, std::size_t) {
        if (error == http::error::header_limit)
            return Refuse(JsonErrorResponse(431, "the request's header is too large"));
        if (ConnectionEnded(error))
            return Close();
        if (error)
            return Refuse(JsonErrorResponse(400, "the request could not be read"));

        const auto& message = parser_->get();
        if (address_ == shared_.TrustedProxy)
            sender_ = ForwardedSender(message["X-Forwarded-For"], address_);
        THttpRequestHead head;
        head.Method = Text(message.method_string());
        const auto target = message.target();
        ReadTarget(std::string_view(target.data(), target.size()), request_);
        head.Path = request_.Path;
        head.RemoteAddress = sender_;
        if (const auto length = parser_->content_length())
            head.ContentLength = *length;
        head.ContentEncoding = Text(message[http::field::content_encoding]);
        if (auto refusal = ScreenRequest(head, shared_.Context))
            return Refuse(std::move(*refusal));

        parser_->body_limit(BodyLimit(head));
        // A chunked body grows to its bound at most: room for that much from the start spares
        // the copies of a growing buffer (and the memory they hold at once).
        if (!head.ContentLength && parser_->chunked())
            parser_->get().body().reserve(BodyLimit(head));
        if (!head.ContentLength || *head.ContentLength > BodyReadRoom)
            buffer_.reserve(BodyReadRoom);
        stream_.expires_after(BodyTime);
        if (beast::iequals(message[http::field::expect], "100-continue")) {
            auto going = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                            message.version());
            http::async_write(stream_, *going,
                              [self = shared_from_this(), going](beast::error_code e, std::size_t) {
                                  if (e)
                                      return self->Close();
                                  self->ReadBody();
                              });
            return;
        }
        ReadBody();
    }

    void ReadBody() {
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&TSession::OnBody, shared_from_this()));
    }

    void OnBody(beast::error_code error, std::size_t) {
        // The room stays only while a large body is read: a kept-alive connection waits small.
        buffer_.shrink_to_fit();
        if (error == http::error::body_limit)
            return Refuse(TooLargeResponse(request_.Path));
        if (ConnectionEnded(error))
            return Close();
        if (error)
            return Refuse(JsonErrorResponse(400, "the request could not be read"));

        auto message = parser_->release();
        THttpRequest request = std::move(request_);
        request_ = {};
        request.Method = Text(message.method_string());
        request.RemoteAddress = sender_;
        request.Authorization = Text(message[http::field::authorization]);
        request.Body = std::move(message.body());
        const bool keepAlive = message.keep_alive();
        const bool head = message.method() == http::verb::head;
        const unsigned version = message.version();
        // The first pages of the ranking are answered at once from what the server keeps;
        // anything else goes to a worker, whose time is the server's own: no deadline then.
        if (auto kept = KeptResponse(request, shared_.Context))
            return Answer(std::move(*kept), version, keepAlive, head, false);
        stream_.expires_never();
        net::post(workers_, [self = shared_from_this(), request = std::move(request), keepAlive,
                             head, version]() mutable {
            const bool large = request.Body.size() >= LargeBody;
            THttpResponse answer = HandleRequest(std::move(request), self->shared_.Context);
            if (large) {
                // What a large upload took (its body, the records read from it, the statements'
                // parameters) went back to the allocator's free lists, where it would stay for
                // good: the pages go back to the system.
                malloc_trim(0);
            }
            net::post(self->stream_.get_executor(),
                      [self, keepAlive, head, version, answer = std::move(answer)]() mutable {
                          self->Answer(std::move(answer), version, keepAlive, head, false);
                      });
        });
    }

    // Sends the answer; then waits for the next request, closes, or (after a refusal) drops
    // what the client still sends for a moment before closing.
    void Answer(THttpResponse ours, unsigned version, bool keepAlive, bool head, bool refusal) {
        if (ours.File && !head) {
            auto answer = std::make_shared<http::response<TFileBody>>(
                static_cast<http::status>(ours.Status), version);
            answer->body() = ours.File;
            answer->content_length(ours.File->Size());
            return Send(std::move(answer), ours, keepAlive, refusal);
        }
        auto answer = std::make_shared<TAnswer>(static_cast<http::status>(ours.Status), version);
        const std::uint64_t size = ours.File ? ours.File->Size() : ours.Body.size();
        if (!head)
            answer->body() = std::move(ours.Body);
        answer->content_length(size);
        Send(std::move(answer), ours, keepAlive, refusal);
    }

    template <typename Body>
    void Send(std::shared_ptr<http::response<Body>> answer, const THttpResponse& ours,
              bool keepAlive, bool refusal) {
        answer->set(http::field::content_type, ours.ContentType);
        for (const auto& [name, value] : ours.Headers)
            answer->set(name, value);
        for (const auto& [name, value] : SecurityHeaders)
            answer->set(name, value);
        answer->keep_alive(keepAlive && !refusal);
        stream_.expires_after(AnswerTime);
        http::async_write(
            stream_, *answer,
            [self = shared_from_this(), answer, refusal](beast::error_code error, std::size_t) {
                if (error)
                    return self->Close();
                if (refusal)
                    return self->Linger();
                if (!answer->keep_alive())
                    return self->Close();
                self->ReadHeader();
            });
    }

    void Refuse(THttpResponse refusal) {
        const unsigned version =
            parser_ && parser_->is_header_done() ? parser_->get().version() : 11;
        const bool head =
            parser_ && parser_->is_header_done() && parser_->get().method() == http::verb::head;
        Answer(std::move(refusal), version, false, head, true);
    }

    void Linger() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream_.expires_after(LingerTime);
        Drop();
    }

    void Drop() {
        stream_.async_read_some(net::buffer(dropped_),
                                [self = shared_from_this()](beast::error_code error, std::size_t) {
                                    if (error)
                                        return self->Close();
                                    self->Drop();
                                });
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<TParser> parser_;
    THttpRequest request_;
    std::string address_; // of the peer
    std::string sender_;  // of the request: the peer's, or the one the trusted proxy names
    std::string counted_; // whom the connection counts against
    TShared& shared_;
    net::thread_pool& workers_;
    std::array<char, 16384> dropped_{};
};

} // namespace

struct THttpListener::TState {
    TState(TServerContext& context, std::string trustedProxy)
        : Shared{context, std::move(trustedProxy), {}} {}
    // Declared first, so that it outlives every session.
    TShared Shared;
    net::io_context Events{EventThreads};
    tcp::acceptor Acceptor{net::make_strand(Events)};
    net::steady_timer Pause{Acceptor.get_executor()};
    net::thread_pool Workers{WorkerThreads};
    bool WorkersJoined = false;

    // Requests still being answered end before the sessions and the event loop go.
    void JoinWorkers() {
        if (WorkersJoined)
            return;
        Workers.stop();
        Workers.join();
        WorkersJoined = true;
    }

    void Accept() {
        Acceptor.async_accept(
            net::make_strand(Events), [this](beast::error_code error, tcp::socket socket) {
                if (error == net::error::operation_aborted || !Acceptor.is_open())
                    return;
                if (error) {
                    // Out of descriptors or memory for a moment: the connection waits in the
                    // backlog while the others end.
                    Pause.expires_after(AcceptPause);
                    Pause.async_wait([this](beast::error_code e) {
                        if (!e)
                            Accept();
                    });
                    return;
                }
                beast::error_code ignored;
                const auto peer = socket.remote_endpoint(ignored);
                std::string address = peer.address().to_string();
                // The trusted proxy's connections count towards the total only.
                std::string counted =
                    address == Shared.TrustedProxy ? std::string() : SenderKey(address);
                if (Shared.Connections.Admit(counted)) {
                    socket.set_option(tcp::no_delay(true), ignored);
                    std::make_shared<TSession>(std::move(socket), std::move(address),
                                               std::move(counted), Shared, Workers)
                        ->Start();
                } else {
                    socket.close(ignored);
                }
                Accept();
            });
    }
};

THttpListener::THttpListener(TServerContext& context, std::string trustedProxy)
    : state_(std::make_unique<TState>(context, std::move(trustedProxy))) {
    state_->Shared.Connections.SetMost(ConnectionsTheProcessAllows());
}

THttpListener::~THttpListener() {
    state_->JoinWorkers();
}

int THttpListener::Bind(const std::string& host, int port) {
    beast::error_code error;
    const auto address = net::ip::make_address(host, error);
    if (error)
        return -1;
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    tcp::acceptor& acceptor = state_->Acceptor;
    acceptor.open(endpoint.protocol(), error);
    if (!error)
        acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error)
        acceptor.bind(endpoint, error);
    // The kernel's largest backlog: connections that arrive in a burst wait there for the
    // accepting thread instead of being refused.
    if (!error)
        acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error) {
        acceptor.close(error);
        return -1;
    }
    return acceptor.local_endpoint().port();
}

bool THttpListener::Serve() {
    if (!state_->Acceptor.is_open())
        return false;
    state_->Accept();
    std::vector<std::thread> threads;
    for (int i = 1; i < EventThreads; ++i)
        threads.emplace_back([this] { state_->Events.run(); });
    state_->Events.run();
    for (std::thread& thread : threads)
        thread.join();
    state_->JoinWorkers();
    return true;
}

void THttpListener::Stop() {
    net::post(state_->Acceptor.get_executor(), [this] {
        beast::error_code ignored;
        state_->Acceptor.close(ignored);
        state_->Events.stop();
    });
}
