// The HTTP listener (Boost.Beast over Asio). A few event threads serve every connection, so a
// client that sends or reads slowly holds a socket and a small buffer but no thread; the
// requests themselves run on a pool of worker threads. A request has a deadline for its whole
// header and one for its whole body, whatever the pace of single reads; an address has at
// most a few dozen connections open and the listener a few thousand; a request that will be
// refused (too large, compressed, past the upload limit) is refused from its header, before
// any of its body is read. Every request goes to HandleRequest.
#pragma once

#include "server/RequestHandler.h"

#include <memory>
#include <string>

class THttpListener {
public:
    // trustedProxy: the address of a reverse proxy in front, or empty. Its connections count
    // only towards the listener's bound, and the sender of each of its requests is the last
    // address of X-Forwarded-For, which the proxy appends.
    explicit THttpListener(TServerContext& context, std::string trustedProxy = {});
    ~THttpListener();
    THttpListener(const THttpListener&) = delete;
    THttpListener& operator=(const THttpListener&) = delete;

    // Binds the address; port 0 takes a free one. The port bound, or -1 when it cannot be used.
    int Bind(const std::string& host, int port);
    // Serves until Stop; false when serving failed.
    bool Serve();
    // From any thread.
    void Stop();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};
