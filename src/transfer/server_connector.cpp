#include "transfer/server_connector.h"

#include <sys/stat.h>

#include "common/environment.h"
#include "common/messages.h"
#include "rpc/http_proxy.h"
#include "rpc/reception_server_proxy.h"

namespace vorncom::transfer {

ServerFactory RemoteServerFactory() {
  return [](rpc::Connection& connection) -> std::unique_ptr<rpc::ReceptionServer> {
    return std::make_unique<rpc::ReceptionServerProxy>(connection);
  };
}

ServerConnector::ServerConnector(const TransferSettings& settings, TransferResults& results,
                                 TransferView& view, ServerFactory factory)
    : settings_(settings),
      results_(results),
      view_(view),
      factory_(std::move(factory)),
      local_address_(env::GetLocalIPAddress()) {}

ServerConnector::~ServerConnector() = default;

void ServerConnector::Status(const std::string& text) {
  view_.SetStatus(text);
  view_.ProcessMessages();
}

rpc::ReceptionServer& ServerConnector::Server() {
  if (!connection_) throw rpc::EConnectionError("Not connected");
  if (!server_) server_ = factory_(*connection_);
  return *server_;
}

ConnectOutcome ServerConnector::Connect(const ConnectRequest& request) {
  if (Connected()) return ConnectOutcome::kAvailable;
  // Each server given up is disabled and the next one tried, in a loop rather than a call per
  // server: a list may be long. A list of servers that never answer would hold the window for
  // ten seconds each, so falling back stops once the budget is spent, as if the list had run out.
  const auto deadline = std::chrono::steady_clock::now() + fall_back_budget_;
  secure_failure_.clear();
  proxy_failure_.clear();
  bool fell_back = false;
  for (;;) {
    bool try_next = false;
    const ConnectOutcome outcome = ConnectOnce(request, try_next);
    if (!try_next) return fell_back ? recorded_ : outcome;
    DisableChosenServer();
    fell_back = true;
    if (std::chrono::steady_clock::now() >= deadline) return GiveUp();
  }
}

ConnectOutcome ServerConnector::GiveUp() {
  if (recorded_ == ConnectOutcome::kAvailable) recorded_ = ConnectOutcome::kNoConnection;
  Status(msg::Format(msg::kConnectError, {settings_.institution_name}));
  // A refusal a server gave before the list ran out is the answer; there is no connection left
  // to call "available" on.
  return recorded_;
}

bool ServerConnector::ChooseEndpoints() {
  try {
    if (!settings_.fixed_server) {
      try {
        config_manager_.LoadServerList(settings_.config_file);
      } catch (const std::exception&) {
        // A missing or unreadable file means "no list": the defined server is used instead.
      }
      if (!config_manager_.server_data().IsNull()) {
        broker_.LoadServerData(config_manager_.server_data().AsBytes().bytes);
        listed_servers_ = broker_.Servers();
        listed_ = true;
        return true;
      }
    }
    rpc::SetConnectionEndpoint(*connection_, settings_.server_name, settings_.server_port);
    connection_->SetBroker(nullptr);
    listed_ = false;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

ConnectOutcome ServerConnector::ConnectOnce(const ConnectRequest& request, bool& try_next) {
  if (!connection_) {
    connection_ = std::make_unique<rpc::Connection>(rpc::kServerGUID, rpc::kServerName, Options());
    connection_->SetBroker(&broker_);
    server_.reset();
  }
  Status(msg::Format(msg::kConnecting, {settings_.institution_name}));

  if (first_connect_) {
    recorded_ = ConnectOutcome::kAvailable;
    std::string os;
    const uint8_t os_kind = env::GetOSDescription(os, 255);
    if (os_kind != 2 && os_kind != 3 && env::GetWinsockVersion() < "2.0") {
      return ConnectOutcome::kNoSockets;
    }
    broker_.Clear();
    if (!ChooseEndpoints()) return ConnectOutcome::kSettingsNotLoadable;
  }

  bool opened = false;
  try {
    connection_->Open();
    opened = true;
    return CheckServer(request, try_next);
  } catch (const std::exception& e) {
    // Why the channel could not be secured, or why the proxy gave none, is what the user needs to
    // hear; the last one heard.
    if (dynamic_cast<const rpc::ESecureConnectionError*>(&e) != nullptr) {
      secure_failure_ = e.what();
      proxy_failure_.clear();
    } else if (dynamic_cast<const rpc::EProxyError*>(&e) != nullptr) {
      proxy_failure_ = e.what();
      secure_failure_.clear();
    }
    // A listed server that cannot be reached at all is skipped like a refusing one; only when
    // no enabled server is left does the connection fail.
    if (!opened && connection_->GetBroker() != nullptr && broker_.Count() > 1 &&
        !(connection_->Address().empty() && connection_->Host().empty())) {
      try_next = true;
      return recorded_;
    }
    return GiveUp();
  }
}

ConnectOutcome ServerConnector::CheckServer(const ConnectRequest& request, bool& try_next) {
  results_.last_host.clear();
  results_.last_port = 0;
  bool control_sent = false;
  Variant busy_flag(false);
  const bool accepting = Server().AcceptingConnections(busy_flag);
  const bool busy = busy_flag.ToBoolean();
  if (accepting && !busy) {
    try {
      const Variant packet =
          rpc::BuildControlPacket(request.form_type, request.form_version, request.file_name,
                                  request.file_size, request.operation, local_address_);
      Server().SendControlPacket(packet);
      control_sent = true;
    } catch (const std::exception&) {
      // Without the control packet the server cannot judge the request: no connection.
    }
    if (control_sent) {
      Status(msg::Format(msg::kCheckingAvailability, {msg::kOfServices}));
      const int32_t status = Server().CheckServerStatus(results_.packet_size);
      recorded_ = OutcomeOfServerStatus(status, recorded_);
      if (rpc::IsAvailableStatus(status)) {
        if (request.operation != rpc::Operation::kStatusQuery) CheckPacketSize();
        results_.last_host =
            !connection_->Address().empty() ? connection_->Address() : connection_->Host();
        results_.last_port = connection_->Port();
        available_host_ = results_.last_host;
        available_port_ = results_.last_port;
        return ConnectOutcome::kAvailable;
      }
      Status("");
    }
  }
  if (connection_->GetBroker() != nullptr && broker_.Count() > 1) {
    try_next = true;
    return recorded_;
  }
  if (busy) return ConnectOutcome::kCongested;
  if (!accepting) return ConnectOutcome::kNotAccepting;
  if (!control_sent) return ConnectOutcome::kNoConnection;
  return recorded_;
}

void ServerConnector::CheckPacketSize() {
  int64_t size = 0;
  std::string text;
  try {
    text = results_.packet_size.ToString();
    size = results_.packet_size.ToInteger();
  } catch (const std::exception&) {
    size = 0;
  }
  const auto limit = static_cast<int64_t>(connection_->MaxPacketSize());
  if (size >= 1 && size <= limit) return;
  connection_->Close();
  throw rpc::EConnectionError(msg::Format(msg::kInvalidPacketSize, {text, std::to_string(limit)}));
}

int32_t ServerConnector::PacketSize() const {
  try {
    return results_.packet_size.ToInteger();
  } catch (const std::exception&) {
    return 0;
  }
}

void ServerConnector::DisableChosenServer() {
  const std::string address = connection_->Address();
  const std::string host = connection_->Host();
  const int32_t port = connection_->Port();
  if (!address.empty()) broker_.DisableServer(address, port);
  if (!host.empty()) broker_.DisableServer(host, port);
  server_.reset();
  connection_.reset();
  first_connect_ = false;
}

rpc::ConnectionOptions ServerConnector::Options() const {
  rpc::ConnectionOptions options;
  options.transport = rpc::LoadTransportPolicy();
  return options;
}

void ServerConnector::Drop() {
  server_.reset();
  connection_.reset();
}

ConnectOutcome ServerConnector::Reconnect(const ConnectRequest& request) {
  Drop();
  secure_failure_.clear();
  proxy_failure_.clear();
  ConnectOutcome outcome = ConnectOutcome::kNoConnection;
  const std::string host = available_host_;
  const int32_t port = available_port_;
  if (!host.empty()) {
    Status(msg::Format(msg::kConnecting, {settings_.institution_name}));
    try {
      connection_ =
          std::make_unique<rpc::Connection>(rpc::kServerGUID, rpc::kServerName, Options());
      rpc::SetConnectionEndpoint(*connection_, host, port);
      connection_->SetBroker(nullptr);
      connection_->Open();
      bool try_next = false;
      outcome = CheckServer(request, try_next);
      if (outcome == ConnectOutcome::kAvailable) return outcome;
    } catch (const std::exception&) {
      outcome = ConnectOutcome::kNoConnection;
    }
    Drop();
    if (!listed_) return outcome;
  }
  if (!listed_) return outcome;
  // Every other server of the list, those given up by an earlier attempt too: a pause has passed
  // since, and a server that was down (or had lost its database) may be back.
  broker_.SetServers(listed_servers_);
  if (!host.empty()) broker_.DisableServer(host, port);
  first_connect_ = false;
  recorded_ = ConnectOutcome::kAvailable;
  return Connect(request);
}

bool ServerConnector::Disconnect() {
  if (!connection_) return false;
  server_.reset();
  connection_.reset();
  view_.EnableClose(true);
  return true;
}

void ServerConnector::ReplicateConfiguration() {
  Status(std::string(msg::kUpdatingConfiguration));
  Variant list;
  if (!Server().ReplicateClientCfgFile(list)) return;
  view_.SetStepMaximum(2);
  // A list that cannot be read or is larger than any agency needs is refused; the old one stays,
  // in the broker and in the file.
  broker_.LoadReplicatedServerData(list.AsBytes().bytes);
  listed_servers_ = broker_.Servers();
  view_.SetStepPosition(1);
  try {
    const std::string& file = settings_.config_file;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) ::chmod(file.c_str(), (st.st_mode & 07777) | S_IWUSR);
    ByteArray data;
    data.lower_bound = 1;
    data.bytes = broker_.ServerData();
    config_manager_.SaveServerList(file, Variant(std::move(data)));
  } catch (const std::exception&) {
    // The new list is in use for this call; the file keeps the old one.
  }
  view_.SetStepPosition(2);
  view_.SetStatus("");
  view_.SetStepPosition(0);
  view_.ProcessMessages();
}

}  // namespace vorncom::transfer
