#include "server/testing/PgDirect.h"

#include <libpq-fe.h>

namespace fm::server::testing {

std::string RunSql(const std::string& url, const std::string& sql) {
  PGconn* conn = PQconnectdb(url.c_str());
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  std::string error;
  if (PQstatus(conn) != CONNECTION_OK) {
    error = PQerrorMessage(conn);
  } else {
    PGresult* result = PQexec(conn, sql.c_str());
    const auto status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      error = PQresultErrorMessage(result);
      if (error.empty()) error = "failed";  // the caller tells success by an empty answer
    }
    PQclear(result);
  }
  PQfinish(conn);
  return error;
}

std::string WithParameter(const std::string& url, const std::string& parameter) {
  return url + (url.find('?') == std::string::npos ? "?" : "&") + parameter;
}

}  // namespace fm::server::testing
