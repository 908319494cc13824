#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "transfer/server_connector.h"
#include "transfer/transfer_context.h"
#include "transfer/transfer_run.h"
#include "transfer/transfer_view.h"

namespace vorncom::transfer {

// The work of one transfer window: runs the request's flow and answers the window's events.
// Everything runs on the calling thread; the view's ProcessMessages lets the window's events in
// between packets and status texts. Failures of the flows' own steps become result codes; what
// escapes them is turned into code 25 by Start.
class TransferSession {
 public:
  // `context` must outlive the session; `factory` makes the server of each connection.
  TransferSession(TransferView& view, TransferContext& context,
                  ServerFactory factory = RemoteServerFactory());
  TransferSession(const TransferSession&) = delete;
  TransferSession& operator=(const TransferSession&) = delete;

  // The operation and its inputs, as the export gives them.
  void SetRequest(const TransferRequest& request);
  void SetFallBackBudget(std::chrono::milliseconds budget) {
    run_.connector.SetFallBackBudget(budget);
  }
  TransferRequest::Operation operation() const { return run_.operation; }

  // Runs the send or receive flow (what the posted start message does) and turns a failure that
  // escapes it into code 25 with its message.
  void Start();
  // The status query; the window is never shown. Writes `status` only where the query defines
  // a status byte.
  ResultCode RunStatusQuery(uint8_t* status);

  // Window events.
  void CancelClick();   // btnCancelar
  void ReceiptClick();  // btnRecibo: the receipt of the protocol data now held
  void TimerTick();     // timVelocidade
  void ShowProgress(int32_t done) { run_.ShowProgress(done); }

  ResultCode result_code() const { return run_.result_code; }
  bool transferring() const { return run_.transferring; }
  bool cancel_requested() const { return run_.cancel_requested; }
  const std::string& file_name() const { return run_.file_name; }

 private:
  void AppException(ResultCode code, const std::string& message);

  TransferRun run_;
};

}  // namespace vorncom::transfer
