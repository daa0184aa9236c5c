// The numbered migrations of the results database, applied in order at start.
#pragma once

#include <climits>
#include <pqxx/connection>

// Applies every migration above the database's version (up to upTo, which the tests lower to
// make a database as an older server left it) in one transaction, recording each in the
// version table; another server starting at the same moment waits for it. Throws
// TDatabaseError for a database of a later version than this program knows.
void MigrateResultsSchema(pqxx::connection& connection, int upTo = INT_MAX);
