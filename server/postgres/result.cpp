#include "server/postgres/result.h"

#include <libpq-fe.h>

#include <charconv>

#include "server/postgres/connection.h"

namespace vorncom::postgres {

namespace {

constexpr std::string_view kDataException = "22000";

[[noreturn]] void FailCell(int row, int column, const std::string& why) {
  throw EPostgresError(std::string(kDataException),
                       "célula " + std::to_string(row) + "," + std::to_string(column) + ": " + why,
                       false);
}

}  // namespace

Result::~Result() { PQclear(result_); }

Result& Result::operator=(Result&& other) noexcept {
  if (this != &other) {
    PQclear(result_);
    result_ = std::exchange(other.result_, nullptr);
  }
  return *this;
}

int Result::Rows() const { return PQntuples(result_); }
int Result::Columns() const { return PQnfields(result_); }

int64_t Result::AffectedRows() const {
  const std::string_view text = PQcmdTuples(result_);
  int64_t n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

std::string Result::CommandTag() const { return PQcmdStatus(result_); }

const char* Result::Cell(int row, int column) const {
  if (row < 0 || row >= Rows() || column < 0 || column >= Columns())
    FailCell(row, column, "fora do resultado");
  if (PQgetisnull(result_, row, column)) return nullptr;
  return PQgetvalue(result_, row, column);
}

bool Result::IsNull(int row, int column) const { return Cell(row, column) == nullptr; }

std::optional<std::string> Result::OptionalText(int row, int column) const {
  const char* cell = Cell(row, column);
  if (cell == nullptr) return std::nullopt;
  return std::string(cell, static_cast<size_t>(PQgetlength(result_, row, column)));
}

std::string Result::Text(int row, int column) const {
  auto text = OptionalText(row, column);
  if (!text) FailCell(row, column, "NULL");
  return std::move(*text);
}

int64_t Result::Int64(int row, int column) const {
  const std::string text = Text(row, column);
  int64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size())
    FailCell(row, column, "não é um inteiro: " + text);
  return n;
}

std::string Result::Bytes(int row, int column) const {
  const std::string text = Text(row, column);
  if (text.size() < 2 || text[0] != '\\' || text[1] != 'x')
    FailCell(row, column, "não é bytea em hexadecimal");
  size_t length = 0;
  unsigned char* bytes =
      PQunescapeBytea(reinterpret_cast<const unsigned char*>(text.c_str()), &length);
  if (bytes == nullptr) FailCell(row, column, "sem memória para decodificar bytea");
  std::string out(reinterpret_cast<const char*>(bytes), length);
  PQfreemem(bytes);
  return out;
}

}  // namespace vorncom::postgres
