// The numbered migrations of the results database, applied in order at start.
#pragma once

#include <pqxx/connection>

// Applies every migration above the database's version in one transaction, recording each
// in the version table; another server starting at the same moment waits for it. Throws
// TDatabaseError for a database of a later version than this program knows.
void MigrateResultsSchema(pqxx::connection& connection);
