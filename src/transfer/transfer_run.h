#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/variant.h"
#include "transfer/connect_outcome.h"
#include "transfer/server_connector.h"
#include "transfer/transfer_context.h"
#include "transfer/transfer_journal.h"
#include "transfer/transfer_view.h"

namespace vorncom::transfer {

// What the send, receive and status flows of one transfer window share: the request, the way to
// the server, the progress counters, and the window they report to. The window's events (cancel,
// timer) reach the flows through it between packets.
class TransferRun {
 public:
  TransferRun(TransferView& view, TransferContext& context, ServerFactory factory);

  TransferView& view;
  TransferContext& context;
  ServerConnector connector;

  // The request, as the flows fill it in: a receive learns the local name from the server, a
  // send its form from the package header.
  TransferRequest::Operation operation = TransferRequest::Operation::kSend;
  std::string file_name;
  bool close_after_send = false;
  Variant client_info;
  std::string form_type, form_version, form_name, requester_name, requester_id;

  ResultCode result_code = ResultCode::kSuccess;
  // The server's or the link's words on the last failure, for the attempt log.
  std::string failure_detail;
  // The journal of this transfer's send and connections; the flows open it.
  std::unique_ptr<TransferJournal> journal;
  int32_t file_size = 0;
  int32_t bytes_done = 0, bytes_total = 0, bytes_at_last_tick = 0;
  bool transferring = false;
  bool cancel_requested = false;
  // When the data began to move, and whether the display already shows the transfer's end (the
  // timer then leaves it alone).
  std::chrono::steady_clock::time_point moving_since;
  bool progress_ended = false;
  std::chrono::steady_clock::time_point events_let_in{};

  // Status panel 0, then lets the window's events in.
  void Status(const std::string& text);
  void Warning(const std::string& text);
  void Error(const std::string& text);
  // The protocolation and validation failures show their cause in the details.
  void ErrorWithDetails(const std::string& text, const std::string& details);
  const std::string& Institution() const { return context.settings.institution_name; }
  // "name (version)" of the form.
  std::string FormLabel() const { return form_name + " (" + form_version + ")"; }

  // The control packet's description of this request.
  ConnectRequest MakeConnectRequest(rpc::Operation operation) const;
  // Applies the rule for a connect that did not find the server available: the notice, the
  // disconnect and the close the table gives; returns the flow's result code.
  ResultCode Refuse(ConnectOutcome outcome, Flow flow, const std::string& form_label);
  // Connects for `flow`. An available server has the client configuration replicated and then
  // `move` run with the Cancel button enabled; any other outcome gets its rule. Returns the
  // flow's result code.
  ResultCode ConnectAndMove(Flow flow, const std::function<ResultCode()>& move);
  // "host:port" of the server connected to last.
  std::string ServerText() const;
  // The journal's row of the connection now in use begins, or ends with the run's code.
  void ConnectionOpened();
  void ConnectionEnded();
  // Drops the connection; the window may then be closed.
  void Disconnect() { connector.Disconnect(); }
  // Disconnects, ends the transfer and asks the window to close.
  void Abandon();

  void StartProgress(int32_t total);
  // The counters move on every call; the window's events are let in at most every
  // kEventInterval, and when the transfer is complete.
  void ShowProgress(int32_t done);
  static constexpr std::chrono::milliseconds kEventInterval{50};
  // A complete transfer: no time left, and the rate of the whole transfer instead of its last
  // second. Stops the timer so no later tick overwrites it.
  void EndProgress();
  std::chrono::steady_clock::time_point Now() const;
  // Element 14 of the client information: erase the server's copy once received.
  bool EraseRequested() const;
  // Where a received file goes: the host folder.
  std::string LocalFilePath() const;
};

// A packet buffer of the server's size with lower bound 1; throws std::bad_alloc for a size no
// buffer can have.
Variant AllocatePacket(int32_t size);

// The file name without its folder.
std::string FileNamePart(const std::string& path);

}  // namespace vorncom::transfer
