#include "journal_command.h"

#include <algorithm>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "common/messages.h"
#include "journal/send_journal.h"

namespace vorncom::tool {
namespace {

using Row = std::vector<std::string>;

// What the journal holds may come from anywhere: control characters (terminal escapes, line
// breaks) are shown as blanks.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return text;
}

size_t Width(std::string_view utf8) {
  return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
  }));
}

// Columns padded to their widest cell; the last one is left as it is.
void PrintTable(std::ostream& out, std::span<const std::string_view> headings,
                const std::vector<Row>& rows) {
  std::vector<size_t> widths;
  for (const auto heading : headings) widths.push_back(Width(heading));
  for (const Row& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
  }
  auto line = [&](auto cells) {
    std::string text;
    for (size_t c = 0; c < cells.size(); ++c) {
      text += cells[c];
      if (c + 1 < cells.size()) text += std::string(widths[c] - Width(cells[c]) + 2, ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << '\n';
  };
  line(headings);
  for (const Row& row : rows) line(row);
}

Row SendCells(const journal::SendRecord& s) {
  return {std::string(journal::StateName(s.state)),
          Printable(s.file_name),
          std::to_string(s.size),
          Printable(s.server),
          Printable(s.upload_id),
          Printable(s.protocol_number),
          Printable(s.updated)};
}

Row AttemptCells(const journal::AttemptRow& row) {
  const journal::Attempt& a = row.attempt;
  return {Printable(a.time),
          Printable(a.operation),
          Printable(a.file_name),
          Printable(a.server),
          Printable(a.tls_version),
          std::to_string(a.bytes_moved),
          std::to_string(a.duration_ms),
          std::to_string(a.result_code),
          Printable(a.server_message)};
}

}  // namespace

int PrintJournal(const std::string& path, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    out << msg::Format(msg::kJournalMissing, {path}) << '\n';
    return 0;
  }
  try {
    journal::SendJournal journal(path);
    std::vector<Row> sends, attempts;
    for (const auto& send : journal.Sends()) sends.push_back(SendCells(send));
    for (const auto& attempt : journal.Attempts()) attempts.push_back(AttemptCells(attempt));
    const auto broken = journal.FirstBrokenRow();

    out << msg::Format(msg::kJournalListingOf, {path}) << "\n\n" << msg::kJournalSends << '\n';
    if (sends.empty()) {
      out << msg::kJournalNoSends << '\n';
    } else {
      PrintTable(out, msg::kJournalSendHeadings, sends);
    }
    out << '\n' << msg::kJournalAttempts << '\n';
    if (attempts.empty()) {
      out << msg::kJournalNoAttempts << '\n';
    } else {
      PrintTable(out, msg::kJournalAttemptHeadings, attempts);
    }
    out << '\n';
    if (broken) {
      out << msg::Format(msg::kJournalChainBroken, {std::to_string(*broken)}) << '\n';
      return 1;
    }
    out << msg::kJournalChainIntact << '\n';
    return 0;
  } catch (const journal::EJournalError& e) {
    err << "vorncom: " << e.what() << '\n';
    return 125;
  }
}

}  // namespace vorncom::tool
