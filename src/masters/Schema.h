#ifndef KAVELO_MASTERS_SCHEMA_H
#define KAVELO_MASTERS_SCHEMA_H

#include "platform/Database.h"
#include "platform/Status.h"

namespace kavelo::masters {

// Creates the six master tables and their indexes where they are missing; existing tables and rows are never
// touched. Every column is TEXT: "端末ID" first, then the master's columns in their order.
// Keys compare with trailing blanks ignored (the RTRIM collation), so the indexes are declared with it:
// (端末ID, key) for the per-terminal update and (key) for the import's delete.
platform::Status ensureSchema(platform::Database& database);

} // namespace kavelo::masters

#endif
