#include "server/HttpListener.h"

#include <httplib.h>

namespace {

// Worker threads: enough that 32 clients at once each have one while the database answers.
constexpr std::size_t WorkerThreads = 48;
// A client that sends or takes nothing for this long is dropped.
constexpr int StallSeconds = 10;

THttpRequest RequestFrom(const httplib::Request& request) {
    THttpRequest ours;
    ours.Method = request.method;
    ours.Path = request.path;
    for (const auto& [name, value] : request.params)
        ours.Query.try_emplace(name, value);
    ours.Body = request.body;
    ours.RemoteAddress = request.remote_addr;
    return ours;
}

} // namespace

THttpListener::THttpListener(TServerContext& context)
    : server_(std::make_unique<httplib::Server>()) {
    httplib::Server& server = *server_;
    server.new_task_queue = [] { return new httplib::ThreadPool(WorkerThreads); };
    server.set_payload_max_length(MaxUploadBytes);
    // Headers and body go out in separate writes; without this the body of a kept-alive
    // connection waits for the client's delayed acknowledgement of the headers.
    server.set_tcp_nodelay(true);
    server.set_read_timeout(StallSeconds, 0);
    server.set_write_timeout(StallSeconds, 0);
    server.set_keep_alive_timeout(5);
    server.set_keep_alive_max_count(1000);

    const auto serve = [&context](const httplib::Request& request, httplib::Response& response) {
        const THttpResponse ours = HandleRequest(RequestFrom(request), context);
        response.status = ours.Status;
        for (const auto& [name, value] : ours.Headers)
            response.set_header(name, value);
        response.set_content(ours.Body, ours.ContentType);
    };
    server.Get(".*", serve);
    server.Post(".*", serve);
    server.Put(".*", serve);
    server.Delete(".*", serve);
    server.Patch(".*", serve);
    server.Options(".*", serve);
    // A body past the bound is refused by the library before it is read; say why.
    server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (response.status == 413)
            response.set_content("{\"error\":\"a results file of at most 64 MiB is taken\"}",
                                 "application/json; charset=utf-8");
    });
}

THttpListener::~THttpListener() = default;

int THttpListener::Bind(const std::string& host, int port) {
    if (port == 0)
        return server_->bind_to_any_port(host);
    return server_->bind_to_port(host, port) ? port : -1;
}

bool THttpListener::Serve() {
    return server_->listen_after_bind();
}

void THttpListener::Stop() {
    server_->stop();
}
