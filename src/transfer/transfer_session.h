#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "common/variant.h"
#include "interface/transfer_gateway.h"
#include "package/configuration_manager.h"
#include "rpc/broker.h"
#include "rpc/connection.h"
#include "rpc/reception_server.h"
#include "transfer/transfer_view.h"

namespace vorncom::transfer {

// Internal connect codes: the outcome of Connect, mapped to result codes by each flow.
namespace connect_code {
inline constexpr uint8_t kAvailable = 0;
inline constexpr uint8_t kNotAccepting = 1;
inline constexpr uint8_t kNotSending = 3;
inline constexpr uint8_t kNotReceiving = 4;
inline constexpr uint8_t kFormNotServed = 6;
inline constexpr uint8_t kSettingsNotLoadable = 7;
inline constexpr uint8_t kNoConnection = 8;
inline constexpr uint8_t kNoWinsock2 = 10;
inline constexpr uint8_t kCongested = 12;
inline constexpr uint8_t kStatus10 = 13;
inline constexpr uint8_t kStatus11 = 14;
inline constexpr uint8_t kStatus12 = 15;
}  // namespace connect_code

// How long one connect may go on falling back to the next listed server by default.
inline constexpr std::chrono::milliseconds kFallBackBudget{120'000};

// The work of one transfer window: connecting through the broker, the send, receive and status
// flows, progress, cancellation. Everything runs on the calling thread; the view's
// ProcessMessages lets the window's events in between packets and status texts. Failures of the
// flows' own steps become result codes; what escapes them is turned into code 25 by Start.
class TransferSession {
 public:
  explicit TransferSession(TransferView& view);
  ~TransferSession();
  TransferSession(const TransferSession&) = delete;
  TransferSession& operator=(const TransferSession&) = delete;

  // The operation and its inputs, as the export gives them.
  void SetRequest(const iface::TransferRequest& request);
  // Once a connect has spent this long falling back, it stops as if the list had run out.
  void SetFallBackBudget(std::chrono::milliseconds budget) { fall_back_budget_ = budget; }
  iface::TransferRequest::Operation operation() const { return operation_; }

  // Runs the send or receive flow (what the posted start message does) and turns a failure that
  // escapes it into code 25 with its message.
  void Start();
  // The status query; the window is never shown. Writes `status` only where the query defines
  // a status byte.
  uint8_t RunStatusQuery(uint8_t* status);

  // Window events.
  void CancelClick();   // btnCancelar
  void ReceiptClick();  // btnRecibo: the receipt of the protocol data now held
  void TimerTick();     // timVelocidade
  void ShowProgress(int32_t done);

  uint8_t result_code() const { return result_code_; }
  bool transferring() const { return transferring_; }
  bool cancel_requested() const { return cancel_requested_; }
  const std::string& file_name() const { return file_name_; }
  int32_t file_size() const { return file_size_; }

  // Connecting and the server list (the window's own operations).
  uint8_t Connect(rpc::Operation operation);
  void Disconnect();
  void ReadClientConfiguration();
  // Throws when the remote call fails or hands back a list that cannot be read.
  void ReplicateConfiguration();

 private:
  void StartSend();
  void StartReceive();
  void FinishSend();
  void FinishReceive();
  // Throws unless `data`, as Protocolate left it, is a new protocol record: a 14-element array
  // with a protocol number, other than `before`.
  static void CheckProtocolData(const Variant& data, const Variant& before);
  uint8_t SendPackage();
  uint8_t SendPackets();
  uint8_t ReceiveFile();
  // What a send (`sending`) or receive does with the outcome of Connect: move the data when the
  // server is available, else report the refusal; returns the flow's code.
  uint8_t MoveData(uint8_t connect, bool sending);
  uint8_t ReceivePackets();
  // One server: sets `try_next` when this one is given up and the next listed one is to be
  // tried, else returns the connect code.
  uint8_t ConnectOnce(rpc::Operation operation, bool& try_next);
  // Disables the server the connection used and drops the connection.
  void DisableChosenServer();
  // The outcome when no server of the list could be reached: the first status recorded, or no
  // connection.
  uint8_t GiveUpConnecting();
  // Closes the connection and throws EConnectionError unless `packet_size` is an integer from 1
  // to what a frame carries, so that no transfer loop allocates what a server names beyond it.
  void CheckPacketSize(const Variant& packet_size);
  void AppException(const std::string& message);

  void Status(const std::string& text);
  void Warning(const std::string& text);
  void WarningWithStatus(const std::string& text);
  void Error(const std::string& text);
  std::string FormLabel() const;  // name (version)
  std::string Institution() const;
  rpc::ReceptionServer& Server();
  bool EraseRequested() const;
  std::string LocalFilePath() const;

  TransferView& view_;
  iface::TransferRequest::Operation operation_ = iface::TransferRequest::Operation::kSend;
  std::string file_name_;
  bool close_after_send_ = false;
  Variant client_info_;
  uint8_t result_code_ = 0;

  rpc::Broker broker_;
  std::unique_ptr<rpc::Connection> connection_;
  std::unique_ptr<rpc::ReceptionServer> server_;
  bool first_connect_ = true;
  uint8_t connect_status_ = 0;
  std::chrono::milliseconds fall_back_budget_ = kFallBackBudget;
  bool server_list_loaded_ = false;
  package::TConfigurationManager config_manager_;
  std::string local_address_;

  std::string form_type_, form_version_, form_name_, requester_name_, requester_id_;
  int32_t file_size_ = 0;
  int32_t bytes_done_ = 0, bytes_total_ = 0, bytes_at_last_tick_ = 0;
  bool transferring_ = false;
  bool cancel_requested_ = false;
};

}  // namespace vorncom::transfer
