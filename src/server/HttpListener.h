// The HTTP listener and its sessions (cpp-httplib): a pool of worker threads, a bound on the
// body, timeouts for clients that stall; every request goes to HandleRequest.
#pragma once

#include "server/RequestHandler.h"

#include <memory>
#include <string>

namespace httplib {
class Server;
}

class THttpListener {
public:
    explicit THttpListener(TServerContext& context);
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
    std::unique_ptr<httplib::Server> server_;
};
