// Where the reads of the ranking, the pages, the computers and the results file go: to a
// streaming replica of the primary that has caught up, else to the primary.
//
// A watcher samples, every SamplePeriod, the primary's WAL position (pg_current_wal_lsn) and
// each replica's replayed one (pg_last_wal_replay_lsn). A replica is read from while it answers,
// is still a replica (in recovery), has replayed everything this server wrote (so that an upload
// reads back at once from the server that took it) and everything the primary had written
// MaxLag before. WAL positions rather than the replay's time (pg_last_xact_replay_timestamp):
// the replica of an idle primary replayed its last transaction long ago and yet lacks nothing,
// and positions compare exactly what each one holds. When the primary cannot be reached for
// longer than MaxLag, a replica still answers with what it has: nothing newer can be written
// meanwhile. A read that fails on a replica runs again on the primary, and that replica is
// left alone until it answers the watcher again.
#pragma once

#include "server/ConnectionPool.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

// The statements of the watcher, prepared on the primary's connections and the replicas'.
std::span<const TStatement> WatchStatements();

// The WAL position the primary has written up to, read on a connection to it.
std::uint64_t WalPosition(pqxx::connection& connection);

// A read of a page or a computer, or of many computers at once (a results file): each has
// connections of its own, so that the long reads never hold those the pages wait for.
enum class TReadSize { Small, Large };

class TReadReplicas {
public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds SamplePeriod{200};
    static constexpr std::chrono::seconds MaxLag{2};

    // urls: the libpq connection strings of the replicas; each has a pool of at most connections
    // for each size of read, with the statements prepared.
    TReadReplicas(TConnectionPool& primary, const std::vector<std::string>& urls, int connections,
                  const std::vector<std::span<const TStatement>>& statements);
    ~TReadReplicas();
    TReadReplicas(const TReadReplicas&) = delete;
    TReadReplicas& operator=(const TReadReplicas&) = delete;

    // The connections of a replica to read from now; nullptr: read from the primary.
    TConnectionPool* Choose(TReadSize size);
    // A read on that replica's connections failed.
    void Failed(TConnectionPool* replica, const std::string& why);
    // This server has written up to that WAL position; what is read next must hold it.
    void Wrote(std::uint64_t position);

private:
    struct TReplica {
        std::unique_ptr<TConnectionPool> Pool;      // small reads
        std::unique_ptr<TConnectionPool> LargePool; // large reads
        bool Answers = false;                       // at the last sample
        bool Recovering = false;                    // still a replica
        bool Failed = false;                        // a read failed since the last sample
        std::uint64_t Replayed = 0;
        std::string Said; // why it is not read from, as last logged; empty: it is read from
    };
    // Whether a replica may be read from now, or why not.
    enum class TReadiness {
        Ready,
        NotSampled,
        Unreachable,
        NoReplica,
        BehindThisServer,
        BehindPrimary,
        PrimaryNotSampled,
    };
    static std::string Why(TReadiness readiness);
    struct TSample {
        TClock::time_point At;
        std::uint64_t Position;
    };

    void Watch();
    void Sample();
    // Called with mutex_ held.
    TReadiness Readiness(const TReplica& replica, TClock::time_point now) const;

    TConnectionPool& primary_;
    std::vector<TReplica> replicas_;
    std::mutex mutex_;
    std::deque<TSample> primarySamples_; // the last MaxLag and one more, oldest first
    bool primaryAnswers_ = false;
    bool sampled_ = false;
    std::uint64_t written_ = 0;
    std::atomic<std::size_t> next_ = 0;
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread watcher_;
};
