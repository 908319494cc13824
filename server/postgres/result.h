#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

struct pg_result;

namespace vorncom::postgres {

// The rows of one successful statement, in text format. Owns the libpq result.
class Result {
 public:
  explicit Result(pg_result* result) : result_(result) {}
  ~Result();
  Result(Result&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
  Result& operator=(Result&& other) noexcept;
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;

  int Rows() const;
  int Columns() const;
  // Rows an INSERT, UPDATE or DELETE touched; 0 for other statements.
  int64_t AffectedRows() const;
  // The command tag, such as "INSERT 0 1", "COMMIT" or "ROLLBACK".
  std::string CommandTag() const;

  // Cells by row and column (from 0). Reading out of range, a NULL as a value, or a cell that is
  // not of the asked shape throws EPostgresError (22000).
  bool IsNull(int row, int column) const;
  std::string Text(int row, int column) const;
  std::optional<std::string> OptionalText(int row, int column) const;
  int64_t Int64(int row, int column) const;
  std::string Bytes(int row, int column) const;  // a bytea cell in the default hex output, decoded

 private:
  const char* Cell(int row, int column) const;

  pg_result* result_;
};

}  // namespace vorncom::postgres
