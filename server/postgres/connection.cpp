#include "server/postgres/connection.h"

#include <libpq-fe.h>

#include <memory>
#include <vector>

namespace vorncom::postgres {

namespace {

// libpq's messages end with a line break.
std::string Trimmed(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Notices (such as "already exists, skipping") would otherwise go to standard error.
void IgnoreNotice(void*, const char*) {}

}  // namespace

Connection::Connection(const std::string& url, std::chrono::seconds connect_timeout) {
  // The URL comes after the defaults so that what it sets wins.
  const std::string timeout = std::to_string(connect_timeout.count());
  const char* const keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
  const char* const values[] = {timeout.c_str(), "vorncom-server", url.c_str(), nullptr};
  conn_ = PQconnectdbParams(keys, values, /*expand_dbname=*/1);
  if (conn_ == nullptr)
    throw EPostgresError(std::string(kCannotConnect), "sem memória para a conexão", true);
  if (PQstatus(conn_) != CONNECTION_OK) {
    const std::string why = Trimmed(PQerrorMessage(conn_));
    PQfinish(conn_);
    conn_ = nullptr;
    throw EPostgresError(std::string(kCannotConnect), why, true);
  }
  PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
}

Connection::~Connection() { PQfinish(conn_); }

void Connection::Fail(const pg_result* result) const {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const bool lost = PQstatus(conn_) == CONNECTION_BAD;
  std::string code = state ? state : "";
  if (code.empty() && lost) code = kConnectionFailure;
  throw EPostgresError(std::move(code),
                       Trimmed(result ? PQresultErrorMessage(result) : PQerrorMessage(conn_)),
                       lost);
}

Result Connection::Execute(std::string_view sql, std::span<const Param> params) {
  // libpq takes text parameters as C strings; a NUL inside would cut the value short silently.
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  values.reserve(params.size());
  for (const Param& p : params) {
    if (p.value && !p.binary && p.value->find('\0') != std::string::npos)
      throw EPostgresError(std::string(kInvalidText), "texto com caractere NUL", false);
    values.push_back(p.value ? p.value->c_str() : nullptr);
    lengths.push_back(p.value ? static_cast<int>(p.value->size()) : 0);
    formats.push_back(p.binary ? 1 : 0);
  }
  const std::string statement(sql);
  pg_result* result = PQexecParams(conn_, statement.c_str(), static_cast<int>(params.size()),
                                   /*paramTypes=*/nullptr, values.data(), lengths.data(),
                                   formats.data(), /*resultFormat=*/0);
  return Checked(result);
}

Result Connection::Checked(pg_result* raw) const {
  Result result(raw);  // freed also when the status is a failure
  const ExecStatusType status = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(raw);
  return result;
}

void Connection::RunScript(const std::string& sql) { Checked(PQexec(conn_, sql.c_str())); }

bool Connection::IsLost() const { return PQstatus(conn_) == CONNECTION_BAD; }

void Connection::Reset() {
  PQreset(conn_);
  if (PQstatus(conn_) != CONNECTION_OK)
    throw EPostgresError(std::string(kCannotConnect), Trimmed(PQerrorMessage(conn_)), true);
}

}  // namespace vorncom::postgres
