#include "server/session_handler.h"

#include <utility>

#include "common/messages.h"
#include "rpc/wire.h"

namespace vorncom::server {

SessionHandler::SessionHandler(ServerContext& context, uint64_t id, std::string local_address,
                               std::string peer_address)
    : session_(context, id, std::move(local_address), std::move(peer_address)) {}

SessionHandler::~SessionHandler() = default;

bool SessionHandler::AcceptingConnections(Variant& busy) {
  const unsigned sessions = session_.context.sessions.load();
  busy = sessions > session_.context.config.busy_limit;
  return session_.context.config.accepting;
}

void SessionHandler::SendControlPacket(const Variant& packet) {
  if (!packet.IsArray() || packet.AsArray().items.size() < 6)
    throw ESessionError(std::string(msg::kSrvControlInvalid));
  ControlData& control = session_.control;
  const int32_t lb = packet.LowerBound();
  try {
    control.form_type = packet.At(lb).ToString();
    control.form_version = packet.At(lb + 1).ToString();
    control.file_name = packet.At(lb + 2).ToString();
    control.size = packet.At(lb + 3).ToDouble();
    control.operation = packet.At(lb + 4).ToInteger();
    control.client_address = packet.At(lb + 5).ToString();
  } catch (const EVariantError&) {
    control.received = false;
    throw ESessionError(std::string(msg::kSrvControlInvalid));
  }
  control.received = true;
  session_.Log("controle: operação " + std::to_string(control.operation) + ", formulário " +
               control.form_type + "/" + control.form_version + ", arquivo " + control.file_name +
               " (" + FormatDouble(control.size) + " bytes), cliente " + control.client_address);
}

int32_t SessionHandler::CheckServerStatus(Variant& packet_size) {
  session_.RequireControl();
  const ServerConfig& config = session_.context.config;
  packet_size = config.packet_size;
  if (const FormRule* rule = session_.Rule(); rule && rule->server_status)
    return *rule->server_status;
  switch (session_.control.operation) {
    case 1:
      return config.status_send;
    case 0:
      return config.status_receive;
    case 5:
      return config.status_query;
    default:
      return 0;
  }
}

bool SessionHandler::ReplicateClientCfgFile(Variant& server_list) {
  const ServerConfig& config = session_.context.config;
  if (config.servers.empty()) return false;
  server_list = ByteArray{1, rpc::EncodeServerList(config.servers)};
  return true;
}

int32_t SessionHandler::CheckFormStatus() {
  if (const FormRule* rule = session_.Rule(); rule && rule->form_status) return *rule->form_status;
  return session_.context.config.form_status;
}

void SessionHandler::SendFile(const Variant& file_name) {
  session_.RequireControl();
  upload_.Start(BareFileName(file_name));
}

std::string SessionHandler::StartUpload(const std::string& file_name, double size,
                                        const std::string& sha256) {
  return upload_.StartResumable(file_name, size, sha256);
}

double SessionHandler::ResumeUpload(const std::string& upload_id) {
  return upload_.Resume(upload_id);
}

void SessionHandler::SendDataPacket(Variant& packet, Variant& byte_count) {
  upload_.AcceptPacket(packet, byte_count);
}

bool SessionHandler::ValidFile(const Variant&) { return upload_.Validate(); }

std::optional<Variant> SessionHandler::FindRegistration(const std::string& upload_id,
                                                        const std::string& sha256, double size,
                                                        const std::string& file_name) {
  const ServerConfig& config = session_.context.config;
  const auto bytes = WholeBytes(size, INT64_MAX / 2);
  const int64_t since =
      config.dedup_days == 0 || !bytes ? 0 : NowSeconds() - int64_t{86400} * config.dedup_days;
  const auto found = session_.context.registry.FindRegistration(
      upload_id, sha256, bytes.value_or(-1), file_name, since);
  if (!found) return std::nullopt;
  try {
    return rpc::wire::DecodeVariant(found->protocol_data);
  } catch (const std::exception&) {
    throw ESessionError(std::string(msg::kSrvRegistrationUnreadable));
  }
}

void SessionHandler::Protocolate(Variant& data) {
  upload_.WritePending();
  upload_.ReportWriteFailure();
  if (upload_.Valid()) {
    upload_.Protocolate(data);
  } else if (download_.Started()) {
    download_.Protocolate(data);
  } else {
    throw ESessionError(std::string(msg::kSrvNothingToProtocolate));
  }
}

int32_t SessionHandler::GetFile(Variant& file_name, Variant& client_info) {
  return download_.Open(BareFileName(file_name), client_info);
}

int32_t SessionHandler::GetDataPacket(Variant& packet) { return download_.NextPacket(packet); }

void SessionHandler::EraseFile(Variant& file_name) { download_.Erase(BareFileName(file_name)); }

void SessionHandler::ResumeDownload(double offset) { download_.Resume(offset); }

}  // namespace vorncom::server
