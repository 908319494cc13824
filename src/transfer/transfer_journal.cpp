#include "transfer/transfer_journal.h"

#include <algorithm>
#include <atomic>
#include <iostream>

namespace vorncom::transfer {
namespace {

// Once per process: a host sending many packages hears it once.
void SayJournalUnusable(const std::exception& why) {
  static std::atomic<bool> said{false};
  if (said.exchange(true)) return;
  std::cerr << "vorncom: o diário de envios não pode ser usado (" << why.what()
            << "); os envios seguem sem ele.\n";
}

}  // namespace

TransferJournal::TransferJournal(std::string operation, std::string file_name)
    : operation_(std::move(operation)), file_name_(std::move(file_name)) {
  try {
    journal_ = std::make_unique<journal::SendJournal>(journal::SendJournal::DefaultPath());
  } catch (const std::exception& e) {
    SayJournalUnusable(e);
  }
}

TransferJournal::~TransferJournal() {
  try {
    if (open_) ConnectionEnded(bytes_at_open_, ResultCode::kUnexpectedFailure, "");
  } catch (...) {
    // A destructor says nothing more.
  }
}

template <typename Write>
void TransferJournal::Guarded(Write write) {
  if (!journal_) return;
  try {
    write(*journal_);
  } catch (const journal::EJournalError& e) {
    SayJournalUnusable(e);
    journal_.reset();
  }
}

void TransferJournal::SetPackage(const std::string& sha256, int64_t size, const std::string& path) {
  sha256_ = sha256;
  size_ = size;
  path_ = path;
}

std::optional<journal::SendRecord> TransferJournal::FindOpen() {
  std::optional<journal::SendRecord> found;
  Guarded([&](journal::SendJournal& j) { found = j.FindOpen(sha256_, size_, file_name_); });
  return found;
}

void TransferJournal::Move(journal::SendState state, const std::string& server,
                           const std::string& upload_id, const std::string& protocol_number) {
  Guarded([&](journal::SendJournal& j) {
    if (send_id_ == 0) {
      journal::SendRecord record;
      record.sha256 = sha256_;
      record.size = size_;
      record.file_name = file_name_;
      record.package_path = path_;
      record.server = server;
      record.upload_id = upload_id;
      record.state = state;
      record.protocol_number = protocol_number;
      send_id_ = j.Begin(record);
    } else {
      j.Update(send_id_, state, server, upload_id, protocol_number);
    }
  });
}

void TransferJournal::ConnectionOpened(const std::string& server, const std::string& tls_version,
                                       int64_t bytes_done) {
  if (open_) ConnectionEnded(bytes_done, ResultCode::kUnexpectedFailure, "");
  open_ = true;
  bytes_at_open_ = bytes_done;
  opened_at_ = std::chrono::steady_clock::now();
  attempt_ = journal::Attempt{};
  attempt_.time = journal::JournalTime(std::chrono::system_clock::now());
  attempt_.operation = operation_;
  attempt_.file_name = file_name_;
  attempt_.sha256 = sha256_;
  attempt_.server = server;
  attempt_.tls_version = tls_version;
}

void TransferJournal::ConnectionEnded(int64_t bytes_done, ResultCode code,
                                      const std::string& message) {
  if (!open_) return;
  open_ = false;
  // A resumed upload may start before the progress shown: the server held less.
  attempt_.bytes_moved = std::max<int64_t>(bytes_done - bytes_at_open_, 0);
  attempt_.duration_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - opened_at_)
                             .count();
  attempt_.result_code = static_cast<int>(code);
  attempt_.server_message = message;
  Guarded([&](journal::SendJournal& j) { j.Append(attempt_); });
}

}  // namespace vorncom::transfer
