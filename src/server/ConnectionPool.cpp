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

std::unique_ptr<pqxx::connection> TConnectionPool::Acquire() {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return !idle_.empty() || connectionsMade_ < connectionLimit_; });
    if (!idle_.empty()) {
        auto connection = std::move(idle_.back());
        idle_.pop_back();
        return connection;
    }
    ++connectionsMade_;
    lock.unlock();
    try {
        return Connect();
    } catch (...) {
        lock.lock();
        --connectionsMade_;
        released_.notify_one();
        throw;
    }
}

void TConnectionPool::Release(std::unique_ptr<pqxx::connection> connection) {
    {
        std::lock_guard lock(mutex_);
        if (connection && connection->is_open())
            idle_.push_back(std::move(connection));
        else
            --connectionsMade_;
    }
    released_.notify_one();
}

void TConnectionPool::DropIdle() {
    {
        std::lock_guard lock(mutex_);
        connectionsMade_ -= static_cast<int>(idle_.size());
        idle_.clear();
    }
    released_.notify_all();
}
