// store.cpp -- choosing the backend from the --db value.
#include "store.h"

namespace scores {

bool IsPostgresUrl(const std::string& where) {
  return where.starts_with("postgresql://") || where.starts_with("postgres://");
}

std::unique_ptr<ScoreStore> OpenStore(const std::string& where) {
  return IsPostgresUrl(where) ? OpenPgStore(where) : OpenSqliteStore(where);
}

}  // namespace scores
