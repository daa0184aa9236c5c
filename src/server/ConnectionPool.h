// The server's connections to PostgreSQL: made as needed up to a bound, each with every
// statement of the server prepared, handed to one request at a time, in the order the
// requests asked for one (so that none waits while later ones are served). A connection found
// broken (the database restarted, a network cut) is dropped with every idle one, as they broke
// with it, and the work runs once more on a new connection, so that a restart of the database
// costs no request.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <pqxx/pqxx>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

// The database could not be reached or refused a statement; the message says which, for the
// server's log (the client is told less).
class TDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A statement prepared on every connection under its name.
struct TStatement {
    const char* Name;
    const char* Text;
};

class TConnectionPool {
public:
    // Throws TDatabaseError when the first connection cannot be made.
    TConnectionPool(std::string connectionString, int connections,
                    std::vector<std::span<const TStatement>> statements);
    ~TConnectionPool();
    TConnectionPool(const TConnectionPool&) = delete;
    TConnectionPool& operator=(const TConnectionPool&) = delete;

    // Runs work with a connection; once more on a new connection when the first one was found
    // broken. A failure of the database becomes a TDatabaseError that names what (for example
    // "the ranking could not be read").
    template <typename Work> auto Run(const char* what, Work&& work) {
        for (int attempt = 1;; ++attempt) {
            TLease lease(*this);
            try {
                return work(lease.Connection());
            } catch (const pqxx::broken_connection& error) {
                lease.DropAll();
                if (attempt == 2)
                    throw TDatabaseError(std::string("the database connection broke: ") +
                                         error.what());
            } catch (const pqxx::failure& error) {
                throw TDatabaseError(std::string(what) + ": " + error.what());
            }
        }
    }

    // A connection of its own, outside the pool, for work at start (the schema).
    std::unique_ptr<pqxx::connection> ConnectAlone();

private:
    class TLease {
    public:
        explicit TLease(TConnectionPool& pool) : pool_(pool), connection_(pool.Acquire()) {}
        ~TLease() { pool_.Release(std::move(connection_)); }
        TLease(const TLease&) = delete;
        TLease& operator=(const TLease&) = delete;
        pqxx::connection& Connection() { return *connection_; }
        // This connection and the idle ones are dropped rather than handed on.
        void DropAll() {
            connection_.reset();
            pool_.DropIdle();
        }

    private:
        TConnectionPool& pool_;
        std::unique_ptr<pqxx::connection> connection_;
    };

    // A request waiting for a connection: served with an idle one, or with leave to make one
    // (counted as made already).
    struct TWaiter {
        std::condition_variable Turn;
        bool Served = false;
        std::unique_ptr<pqxx::connection> Connection;
    };

    std::unique_ptr<pqxx::connection> Connect();
    // Connect for a connection already counted as made; uncounts it when that fails.
    std::unique_ptr<pqxx::connection> ConnectCounted();
    std::unique_ptr<pqxx::connection> Acquire();
    void Release(std::unique_ptr<pqxx::connection> connection);
    void DropIdle();
    // Hands idle connections, or leave to make them, to the longest waiting first. Under mutex_.
    void ServeWaiting();

    std::string connectionString_;
    std::vector<TStatement> statements_;
    int connectionLimit_;
    int connectionsMade_ = 0;
    std::mutex mutex_;
    std::deque<TWaiter*> waiting_;
    std::vector<std::unique_ptr<pqxx::connection>> idle_;
};
