#include "server/ConnectionPool.h"

#include <algorithm>

TConnectionPool::TConnectionPool(std::string connectionString, int connections,
                                 std::vector<std::span<const TStatement>> statements)
    : connectionString_(std::move(connectionString)), connectionLimit_(std::max(1, connections)) {
    for (const auto& list : statements)
        statements_.insert(statements_.end(), list.begin(), list.end());
}

TConnectionPool::~TConnectionPool() = default;

std::unique_ptr<pqxx::connection> TConnectionPool::ConnectAlone() {
    try {
        return std::make_unique<pqxx::connection>(connectionString_);
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("cannot connect to the database: ") + error.what());
    }
}

std::unique_ptr<pqxx::connection> TConnectionPool::Connect() {
    auto connection = ConnectAlone();
    try {
        // The statements are short or work through arrays whose size the planner cannot know;
        // compiling them to machine code costs more (75 ms for an upload's) than it saves.
        connection->set_variable("jit", "off");
        for (const TStatement& statement : statements_)
            connection->prepare(statement.Name, statement.Text);
    } catch (const pqxx::failure& error) {
        throw TDatabaseError(std::string("the statements could not be prepared: ") + error.what());
    }
    return connection;
}

std::unique_ptr<pqxx::connection> TConnectionPool::ConnectCounted() {
    try {
        return Connect();
    } catch (...) {
        std::lock_guard lock(mutex_);
        --connectionsMade_;
        ServeWaiting();
        throw;
    }
}

std::unique_ptr<pqxx::connection> TConnectionPool::Acquire() {
    std::unique_lock lock(mutex_);
    if (waiting_.empty() && !idle_.empty()) {
        auto connection = std::move(idle_.back());
        idle_.pop_back();
        return connection;
    }
    if (waiting_.empty() && connectionsMade_ < connectionLimit_) {
        ++connectionsMade_;
        lock.unlock();
        return ConnectCounted();
    }
    TWaiter self;
    waiting_.push_back(&self);
    self.Turn.wait(lock, [&self] { return self.Served; });
    if (self.Connection)
        return std::move(self.Connection);
    lock.unlock();
    return ConnectCounted();
}

void TConnectionPool::Release(std::unique_ptr<pqxx::connection> connection) {
    std::lock_guard lock(mutex_);
    if (connection && connection->is_open())
        idle_.push_back(std::move(connection));
    else
        --connectionsMade_;
    ServeWaiting();
}

void TConnectionPool::DropIdle() {
    std::lock_guard lock(mutex_);
    connectionsMade_ -= static_cast<int>(idle_.size());
    idle_.clear();
    ServeWaiting();
}

void TConnectionPool::ServeWaiting() {
    while (!waiting_.empty() && (!idle_.empty() || connectionsMade_ < connectionLimit_)) {
        TWaiter& next = *waiting_.front();
        waiting_.pop_front();
        if (!idle_.empty()) {
            next.Connection = std::move(idle_.back());
            idle_.pop_back();
        } else {
            ++connectionsMade_;
        }
        next.Served = true;
        // Under the mutex, so the waiter cannot have left (and taken its TWaiter) yet.
        next.Turn.notify_one();
    }
}
