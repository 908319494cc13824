#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "common/result_code.h"
#include "common/variant.h"

namespace vorncom::transfer {

// What an export asks of one transfer.
struct TransferRequest {
  enum class Operation : uint8_t { kReceive = 0, kSend = 1, kStatus = 5 };
  Operation operation = Operation::kSend;
  std::string file_name;  // send: package path; receive: name on the server
  bool close_after_send = false;
  Variant client_info;        // receive: the 14-element client information
  std::string form_type;      // status query
  std::string form_version;   // status query
  uint8_t* status = nullptr;  // status query: receives the form's status when one is defined
};

// The library's settings as they stood when the export was called.
struct TransferSettings {
  std::string server_name;
  int32_t server_port = 0;
  bool fixed_server = false;
  std::string config_file;  // the server list; a list the server replicates is saved here
  std::string institution_name;
  std::string help_file;
};

// What a transfer hands back to the library. Each value starts as the library held it, because a
// transfer changes only what its steps reach: a connect that fails before opening keeps the last
// endpoint, a server that names no packet size keeps the one before.
struct TransferResults {
  // The server of the last connect that found one available; cleared by every connection opened.
  std::string last_host;
  int32_t last_port = 0;
  Variant packet_size;
  // The protocol record of the package: what FileSent found, then what the server gave.
  Variant protocol_data;
};

// Everything one transfer gets from the library, passed in by the interface layer for one call.
struct TransferContext {
  TransferSettings settings;
  TransferResults results;
  // FileSent's check of the package about to be sent, with the protocol record held now; returns
  // its result code and leaves in `protocol_data` the record the check left.
  std::function<ResultCode(const std::string& package_path, Variant& protocol_data)> file_sent;
  // Shows the receipt of `protocol_data` (the Receipt button, and a send that keeps its window).
  std::function<void(const Variant& protocol_data)> show_receipt;
  // The clock a finished transfer's average rate is measured with; empty means the steady clock.
  std::function<std::chrono::steady_clock::time_point()> clock;
};

}  // namespace vorncom::transfer
