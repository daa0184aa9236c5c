#include "server/ReadReplicas.h"

#include "server/ServerLog.h"

#include <algorithm>
#include <optional>
#include <pqxx/pqxx>

namespace {

const TStatement Statements[] = {
    {"wal_position", "SELECT (pg_current_wal_lsn() - '0/0'::pg_lsn)::bigint"},
    {"replay_position",
     "SELECT pg_is_in_recovery(), (pg_last_wal_replay_lsn() - '0/0'::pg_lsn)::bigint"},
};

} // namespace

std::span<const TStatement> WatchStatements() {
    return Statements;
}

std::uint64_t WalPosition(pqxx::connection& connection) {
    pqxx::nontransaction work(connection);
    return work.exec_prepared1("wal_position")[0].as<std::uint64_t>();
}

TReadReplicas::TReadReplicas(TConnectionPool& primary, const std::vector<std::string>& urls,
                             int connections,
                             const std::vector<std::span<const TStatement>>& statements)
    : primary_(primary) {
    for (const std::string& url : urls) {
        TReplica replica;
        replica.Pool = std::make_unique<TConnectionPool>(url, connections, statements);
        replica.LargePool = std::make_unique<TConnectionPool>(url, connections, statements);
        replica.Said = "not sampled yet";
        replicas_.push_back(std::move(replica));
    }
    watcher_ = std::thread([this] { Watch(); });
}

TReadReplicas::~TReadReplicas() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    watcher_.join();
}

void TReadReplicas::Watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        Sample();
        lock.lock();
        wake_.wait_for(lock, SamplePeriod, [this] { return stopping_; });
    }
}

void TReadReplicas::Sample() {
    std::optional<std::uint64_t> position;
    try {
        position = primary_.Run("the primary's WAL position could not be read", WalPosition);
    } catch (const TDatabaseError&) {
        // A primary that cannot be reached, or a primary that is a standby itself.
    }
    struct TSeen {
        bool Answers = false;
        bool Recovering = false;
        std::uint64_t Replayed = 0;
    };
    std::vector<TSeen> seen(replicas_.size());
    for (std::size_t r = 0; r < replicas_.size(); ++r) {
        try {
            replicas_[r].Pool->Run(
                "the replica's position could not be read", [&](pqxx::connection& connection) {
                    pqxx::nontransaction work(connection);
                    const pqxx::row row = work.exec_prepared1("replay_position");
                    seen[r].Recovering = row[0].as<bool>();
                    seen[r].Replayed = row[1].is_null() ? 0 : row[1].as<std::uint64_t>();
                });
            seen[r].Answers = true;
        } catch (const TDatabaseError&) {
        }
    }

    const TClock::time_point now = TClock::now();
    std::lock_guard lock(mutex_);
    sampled_ = true;
    primaryAnswers_ = position.has_value();
    if (position)
        primarySamples_.push_back({now, *position});
    // Every sample of the last MaxLag, and the one before them.
    while (primarySamples_.size() > 1 && primarySamples_[1].At < now - MaxLag)
        primarySamples_.pop_front();
    for (std::size_t r = 0; r < replicas_.size(); ++r) {
        TReplica& replica = replicas_[r];
        replica.Answers = seen[r].Answers;
        replica.Recovering = seen[r].Recovering;
        replica.Replayed = seen[r].Replayed;
        replica.Failed = false;
        // The server's log says when a replica stops or starts being read from, and why; not the
        // moments it spends catching up with this server's own uploads.
        const TReadiness readiness = Readiness(replica, now);
        const std::string why =
            readiness == TReadiness::BehindThisServer ? replica.Said : Why(readiness);
        if (why != replica.Said) {
            ServerLog(
                "read database " + std::to_string(r + 1) + ": " +
                (why.empty() ? std::string("reads go there") : why + "; reads go to the primary"));
            replica.Said = why;
        }
    }
}

TReadReplicas::TReadiness TReadReplicas::Readiness(const TReplica& replica,
                                                   TClock::time_point now) const {
    if (!sampled_)
        return TReadiness::NotSampled;
    if (!replica.Answers || replica.Failed)
        return TReadiness::Unreachable;
    if (!replica.Recovering)
        return TReadiness::NoReplica;
    if (replica.Replayed < written_)
        return TReadiness::BehindThisServer;
    // The primary's position at the start of the last MaxLag: the oldest sample within it.
    for (const TSample& sample : primarySamples_)
        if (sample.At >= now - MaxLag)
            return replica.Replayed >= sample.Position ? TReadiness::Ready
                                                       : TReadiness::BehindPrimary;
    // No sample of the primary for MaxLag: the replica has the newest there is, unless the
    // primary answers (it was not sampled in time; the replica is judged at the next sample).
    return primaryAnswers_ ? TReadiness::PrimaryNotSampled : TReadiness::Ready;
}

std::string TReadReplicas::Why(TReadiness readiness) {
    switch (readiness) {
    case TReadiness::Ready:
        return {};
    case TReadiness::NotSampled:
        return "not sampled yet";
    case TReadiness::Unreachable:
        return "it cannot be reached";
    case TReadiness::NoReplica:
        return "it is no replica (promoted, or a primary of its own)";
    case TReadiness::BehindThisServer:
        return "it has not replayed this server's last upload yet";
    case TReadiness::BehindPrimary:
        return "it is more than " + std::to_string(MaxLag.count()) + " s behind the primary";
    case TReadiness::PrimaryNotSampled:
        return "the primary was not sampled in time";
    }
    return {};
}

TConnectionPool* TReadReplicas::Choose(TReadSize size) {
    const TClock::time_point now = TClock::now();
    std::lock_guard lock(mutex_);
    const std::size_t first = next_++;
    for (std::size_t k = 0; k < replicas_.size(); ++k) {
        TReplica& replica = replicas_[(first + k) % replicas_.size()];
        if (Readiness(replica, now) == TReadiness::Ready)
            return (size == TReadSize::Large ? replica.LargePool : replica.Pool).get();
    }
    return nullptr;
}

void TReadReplicas::Failed(TConnectionPool* pool, const std::string& why) {
    std::lock_guard lock(mutex_);
    for (std::size_t r = 0; r < replicas_.size(); ++r)
        if ((replicas_[r].Pool.get() == pool || replicas_[r].LargePool.get() == pool) &&
            !replicas_[r].Failed) {
            replicas_[r].Failed = true;
            ServerLog("read database " + std::to_string(r + 1) + ": a read failed (" + why +
                      "); reads go to the primary");
            replicas_[r].Said = Why(TReadiness::Unreachable);
        }
}

void TReadReplicas::Wrote(std::uint64_t position) {
    std::lock_guard lock(mutex_);
    written_ = std::max(written_, position);
}
