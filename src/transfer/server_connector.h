#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "package/configuration_manager.h"
#include "rpc/broker.h"
#include "rpc/connection.h"
#include "rpc/reception_server.h"
#include "transfer/connect_outcome.h"
#include "transfer/transfer_context.h"
#include "transfer/transfer_view.h"

namespace vorncom::transfer {

// Makes the reception server whose calls go over `connection`, an open connection that outlives
// it. Tests wrap the real one to fail, stall or drop at a chosen call.
using ServerFactory =
    std::function<std::unique_ptr<rpc::ReceptionServer>(rpc::Connection& connection)>;

// The factory of the real remote server.
ServerFactory RemoteServerFactory();

// How long one connect may go on falling back to the next listed server by default.
inline constexpr std::chrono::milliseconds kFallBackBudget{120'000};

// What the control packet tells the server about the request.
struct ConnectRequest {
  rpc::Operation operation = rpc::Operation::kSend;
  std::string form_type;
  std::string form_version;
  std::string file_name;  // without folder
  int32_t file_size = 0;
};

// One transfer's way to a reception server: the fixed server or the server list, falling back
// through the list, the control packet and status check, and the list the server replicates.
// Writes the last endpoint and the packet size into `results` as connecting goes.
class ServerConnector {
 public:
  ServerConnector(const TransferSettings& settings, TransferResults& results, TransferView& view,
                  ServerFactory factory);
  ~ServerConnector();
  ServerConnector(const ServerConnector&) = delete;
  ServerConnector& operator=(const ServerConnector&) = delete;

  // Once a connect has spent this long falling back, it stops as if the list had run out.
  void SetFallBackBudget(std::chrono::milliseconds budget) { fall_back_budget_ = budget; }

  // Connects unless connected. Each server given up is disabled and the next listed one tried;
  // once one was given up, the outcome is the first status recorded.
  ConnectOutcome Connect(const ConnectRequest& request);
  bool Connected() const { return connection_ && connection_->Connected(); }
  // Drops the connection; false when there was none.
  bool Disconnect();
  // Drops a broken connection while the transfer goes on (the window's close box stays as it is).
  void Drop();
  // After the link broke: connects again for `request`, the server of the last available connect
  // first, then (with a server list) the others, those given up earlier in the transfer too. The
  // control packet and status check are made as by Connect.
  ConnectOutcome Reconnect(const ConnectRequest& request);
  // The TLS version of the open connection; empty for plain TCP or none.
  std::string SecureProtocol() const { return connection_ ? connection_->SecureProtocol() : ""; }

  // The server of the connection Connect made; only while one exists.
  rpc::ReceptionServer& Server();

  // Asks the server for a newer server list, uses it for this transfer and saves it over the
  // client configuration (a file that cannot be written keeps the old list). Throws when the
  // call fails or the list cannot be read.
  void ReplicateConfiguration();

  // Why the last connect could not secure its channel (certificate, TLS refused); empty when
  // that was not the reason it failed.
  const std::string& SecureFailure() const { return secure_failure_; }

  // The packet size the server named at connect, 0 when it named no integer. Connect has already
  // refused, for a send or receive, a size outside 1 to what a frame carries.
  int32_t PacketSize() const;

  // Why the proxy gave the last connect no tunnel; empty when that was not the reason it failed.
  const std::string& ProxyFailure() const { return proxy_failure_; }

 private:
  // One server: sets `try_next` when it is given up and the next listed one is to be tried.
  ConnectOutcome ConnectOnce(const ConnectRequest& request, bool& try_next);
  // Chooses the fixed server or loads the list; false when neither can be used.
  bool ChooseEndpoints();
  ConnectOutcome CheckServer(const ConnectRequest& request, bool& try_next);
  rpc::ConnectionOptions Options() const;
  void DisableChosenServer();
  // The outcome when no server of the list could be reached: the first status recorded, or no
  // connection.
  ConnectOutcome GiveUp();
  // Closes the connection and throws EConnectionError unless the server's packet size is an
  // integer from 1 to what a frame carries, so that no transfer loop allocates beyond it.
  void CheckPacketSize();
  void Status(const std::string& text);

  const TransferSettings& settings_;
  TransferResults& results_;
  TransferView& view_;
  ServerFactory factory_;
  std::string local_address_;
  rpc::Broker broker_;
  package::TConfigurationManager config_manager_;
  std::unique_ptr<rpc::Connection> connection_;
  std::unique_ptr<rpc::ReceptionServer> server_;
  bool first_connect_ = true;
  bool listed_ = false;  // the endpoints come from a server list
  // The list as loaded or replicated, before any server was given up in this transfer.
  std::vector<rpc::ServerItem> listed_servers_;
  // The server of the last connect that found one available.
  std::string available_host_;
  int32_t available_port_ = 0;
  std::string secure_failure_;
  ConnectOutcome recorded_ = ConnectOutcome::kAvailable;  // the first status recorded
  std::string proxy_failure_;
  std::chrono::milliseconds fall_back_budget_ = kFallBackBudget;
};

}  // namespace vorncom::transfer
