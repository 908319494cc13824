#include "transfer/transfer_session.h"

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <new>
#include <vector>

#include "common/atomic_file.h"
#include "common/environment.h"
#include "common/exception.h"
#include "common/file_names.h"
#include "common/message_dialog.h"
#include "common/messages.h"
#include "interface/library_state.h"
#include "interface/operations.h"
#include "interface/text_argument.h"
#include "package/control_files.h"
#include "package/protocol_manager.h"
#include "package/validation_manager.h"
#include "rpc/reception_server_proxy.h"
#include "transfer/progress_text.h"

namespace vorncom::transfer {
namespace {

using Op = iface::TransferRequest::Operation;
namespace cc = connect_code;

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Blanks and control characters only, as a trim would leave nothing.
bool IsBlank(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) > ' ') return false;
  }
  return true;
}

int32_t PacketSize() {
  try {
    return iface::State().packet_size.ToInteger();
  } catch (const std::exception&) {
    return 0;
  }
}

// A packet buffer of the server's size with lower bound 1; throws std::bad_alloc for a size no
// buffer can have.
Variant AllocatePacket(int32_t size) {
  if (size <= 0) throw std::bad_alloc();
  ByteArray buffer;
  buffer.lower_bound = 1;
  buffer.bytes.resize(static_cast<size_t>(size));
  return Variant(std::move(buffer));
}

}  // namespace

TransferSession::TransferSession(TransferView& view) : view_(view) {
  local_address_ = env::GetLocalIPAddress();
}

TransferSession::~TransferSession() = default;

void TransferSession::SetRequest(const iface::TransferRequest& request) {
  operation_ = request.operation;
  file_name_ = request.file_name;
  close_after_send_ = request.close_after_send;
  client_info_ = request.client_info;
  if (request.operation == Op::kStatus) {
    form_type_ = request.form_type;
    form_version_ = request.form_version;
  }
}

std::string TransferSession::Institution() const { return iface::State().institution_name; }

std::string TransferSession::FormLabel() const { return form_name_ + " (" + form_version_ + ")"; }

void TransferSession::Status(const std::string& text) {
  view_.SetStatus(text);
  view_.ProcessMessages();
}

void TransferSession::Warning(const std::string& text) {
  MostrarMensagem(text, MessageKind::kWarning, buttons::kOk);
}

void TransferSession::WarningWithStatus(const std::string& text) {
  Status(text);
  Warning(text);
}

void TransferSession::Error(const std::string& text) {
  MostrarMensagem(text, MessageKind::kError, buttons::kOk);
}

rpc::ReceptionServer& TransferSession::Server() {
  if (!server_) server_ = std::make_unique<rpc::ReceptionServerProxy>(*connection_);
  return *server_;
}

bool TransferSession::EraseRequested() const {
  try {
    const Variant& flag = client_info_.At(14);
    return flag.type() == Variant::Type::kBoolean && flag.ToBoolean();
  } catch (const std::exception&) {
    return false;
  }
}

std::string TransferSession::LocalFilePath() const { return env::BaseFolder() + file_name_; }

// ---------------------------------------------------------------------------------------------
// Connecting

void TransferSession::ReadClientConfiguration() {
  server_list_loaded_ = false;
  try {
    config_manager_.LoadServerList(iface::State().config_file);
  } catch (const std::exception&) {
    // A missing or unreadable file means "no list": the defined server is used instead.
  }
  server_list_loaded_ = !config_manager_.server_data().IsNull();
}

uint8_t TransferSession::Connect(rpc::Operation operation) {
  if (connection_ && connection_->Connected()) return cc::kAvailable;
  // Each server given up is disabled and the next one tried, in a loop rather than a call per
  // server: a list may be long. Once one was given up, the outcome is the first status recorded.
  // A list of servers that never answer would otherwise hold the window for ten seconds each,
  // so falling back stops once the budget is spent, as if the list had run out.
  const auto deadline = std::chrono::steady_clock::now() + fall_back_budget_;
  bool fell_back = false;
  for (;;) {
    bool try_next = false;
    const uint8_t code = ConnectOnce(operation, try_next);
    if (!try_next) return fell_back ? connect_status_ : code;
    DisableChosenServer();
    fell_back = true;
    if (std::chrono::steady_clock::now() >= deadline) return GiveUpConnecting();
  }
}

uint8_t TransferSession::GiveUpConnecting() {
  if (connect_status_ == 0) connect_status_ = cc::kNoConnection;
  Status(msg::Format(msg::kConnectError, {Institution()}));
  return connect_status_ == cc::kNoConnection ? cc::kNoConnection : cc::kAvailable;
}

uint8_t TransferSession::ConnectOnce(rpc::Operation operation, bool& try_next) {
  if (!connection_) {
    connection_ = std::make_unique<rpc::Connection>(rpc::kServerGUID, rpc::kServerName);
    connection_->SetBroker(&broker_);
    server_.reset();
  }
  const iface::LibraryState& state = iface::State();
  Status(msg::Format(msg::kConnecting, {Institution()}));

  if (first_connect_) {
    connect_status_ = 0;
    std::string os;
    const uint8_t os_kind = env::GetOSDescription(os, 255);
    if (os_kind != 2 && os_kind != 3 && env::GetWinsockVersion() < "2.0") return cc::kNoWinsock2;
    broker_.Clear();
    try {
      if (state.fixed_server) {
        rpc::SetConnectionEndpoint(*connection_, state.server_name, state.server_port);
        connection_->SetBroker(nullptr);
      } else {
        ReadClientConfiguration();
        if (server_list_loaded_) {
          broker_.LoadServerData(config_manager_.server_data().AsBytes().bytes);
        } else {
          rpc::SetConnectionEndpoint(*connection_, state.server_name, state.server_port);
          connection_->SetBroker(nullptr);
        }
      }
    } catch (const std::exception&) {
      return cc::kSettingsNotLoadable;
    }
  }

  bool opened = false;
  try {
    connection_->Open();
    opened = true;
    bool control_sent = false;
    iface::LibraryState& s = iface::State();
    s.last_host.clear();
    s.last_port = 0;
    Variant busy_flag(false);
    const bool accepting = Server().AcceptingConnections(busy_flag);
    const bool busy = busy_flag.ToBoolean();
    if (accepting && !busy) {
      try {
        const Variant packet =
            rpc::BuildControlPacket(form_type_, form_version_, FileNamePart(file_name_), file_size_,
                                    operation, local_address_);
        Server().SendControlPacket(packet);
        control_sent = true;
      } catch (const std::exception&) {
        // Without the control packet the server cannot judge the request: reported below as 8.
      }
      if (control_sent) {
        Status(msg::Format(msg::kCheckingAvailability, {msg::kOfServices}));
        const int32_t server_status = Server().CheckServerStatus(s.packet_size);
        connect_status_ = rpc::MapServerStatus(server_status, connect_status_);
        if (rpc::IsAvailableStatus(server_status)) {
          if (operation != rpc::Operation::kStatusQuery) CheckPacketSize(s.packet_size);
          connect_status_ = cc::kAvailable;
          s.last_host =
              !connection_->Address().empty() ? connection_->Address() : connection_->Host();
          s.last_port = connection_->Port();
          return cc::kAvailable;
        }
        Status("");
      }
    }
    if (connection_->GetBroker() != nullptr && broker_.Count() > 1) {
      try_next = true;
      return connect_status_;
    }
    if (busy) return cc::kCongested;
    if (!accepting) return cc::kNotAccepting;
    if (!control_sent) return cc::kNoConnection;
    return connect_status_;
  } catch (const std::exception&) {
    // A listed server that cannot be reached at all is skipped like a refusing one; only when
    // no enabled server is left does the connection fail.
    if (!opened && connection_ && connection_->GetBroker() != nullptr && broker_.Count() > 1 &&
        !(connection_->Address().empty() && connection_->Host().empty())) {
      try_next = true;
      return connect_status_;
    }
    return GiveUpConnecting();
  }
}

void TransferSession::CheckPacketSize(const Variant& packet_size) {
  int64_t size = 0;
  std::string text;
  try {
    text = packet_size.ToString();
    size = packet_size.ToInteger();
  } catch (const std::exception&) {
    size = 0;
  }
  const auto limit = static_cast<int64_t>(connection_->MaxPacketSize());
  if (size >= 1 && size <= limit) return;
  connection_->Close();
  throw rpc::EConnectionError("O servidor definiu um tamanho de pacote inválido (" + text +
                              "); o limite é de " + std::to_string(limit) + " bytes.");
}

void TransferSession::DisableChosenServer() {
  const std::string address = connection_->Address();
  const std::string host = connection_->Host();
  const int32_t port = connection_->Port();
  if (!address.empty()) broker_.DisableServer(address, port);
  if (!host.empty()) broker_.DisableServer(host, port);
  server_.reset();
  connection_.reset();
  first_connect_ = false;
}

void TransferSession::Disconnect() {
  if (!connection_) return;
  server_.reset();
  connection_.reset();
  view_.EnableClose(true);
}

void TransferSession::ReplicateConfiguration() {
  Status(std::string(msg::kUpdatingConfiguration));
  Variant list;
  if (!Server().ReplicateClientCfgFile(list)) return;
  view_.SetStepMaximum(2);
  // A list that cannot be read or is larger than any agency needs is refused; the old one stays,
  // in the broker and in the file.
  broker_.LoadReplicatedServerData(list.AsBytes().bytes);
  view_.SetStepPosition(1);
  try {
    const std::string& file = iface::State().config_file;
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

// ---------------------------------------------------------------------------------------------
// Progress

void TransferSession::ShowProgress(int32_t done) {
  view_.SetProgress(done, bytes_total_, ProgressPercent(done, bytes_total_));
  bytes_done_ = done;
  view_.ProcessMessages();
}

void TransferSession::TimerTick() {
  const int32_t delta = bytes_done_ - bytes_at_last_tick_;
  if (delta == 0) {
    view_.SetRemainingTime("??:??:??");
    view_.ProcessMessages();
    return;
  }
  view_.SetRemainingTime(FormatRemainingTime(SecondsLeft(bytes_total_, bytes_done_, delta)));
  view_.ProcessMessages();
  view_.SetRate(FormatRate(delta));
  view_.ProcessMessages();
  bytes_at_last_tick_ = bytes_done_;
}

// ---------------------------------------------------------------------------------------------
// Window events

void TransferSession::Start() {
  try {
    if (operation_ == Op::kSend) {
      StartSend();
    } else if (operation_ == Op::kReceive) {
      StartReceive();
    }
  } catch (const std::exception& e) {
    AppException(e.what());
  } catch (...) {
    AppException("Erro desconhecido");
  }
  view_.SetTimerEnabled(false);
}

void TransferSession::AppException(const std::string& message) {
  // A failure that escapes a flow is never reported as success, also when the flow had not
  // set a code yet.
  result_code_ = 25;
  if (operation_ == Op::kSend || operation_ == Op::kReceive) {
    const std::string institution = Institution();
    MostrarMensagemDetalhes(
        msg::Format(
            msg::kCommunicationFailed,
            {institution, operation_ == Op::kSend ? msg::kSendAborted : msg::kReceiveAborted}),
        MessageKind::kError, buttons::kOk, 0,
        msg::Format(msg::kCommunicationFailedDetails,
                    {institution, institution, institution, message}));
  }
  transferring_ = false;
  view_.CloseWindow();
}

void TransferSession::CancelClick() {
  cancel_requested_ = true;
  if (operation_ == Op::kReceive) {
    view_.SetStatus(std::string(msg::kReceiveCancelled));
    if (EraseRequested() && connection_ && connection_->Connected()) {
      try {
        Variant name(file_name_);
        Server().EraseFile(name);
      } catch (const std::exception&) {
      }
    }
  }
  transferring_ = false;
  view_.CloseWindow();
}

void TransferSession::ReceiptClick() { iface::PrintComReceiptOperation(""); }

// ---------------------------------------------------------------------------------------------
// Sending

void TransferSession::StartSend() {
  result_code_ = iface::FileSentOperation(iface::CutText(file_name_, iface::kMaxTextLength));
  if (result_code_ == 3) {
    if (MostrarMensagem(std::string(msg::kAlreadySentViewReceipt), MessageKind::kConfirmation,
                        buttons::kYes | buttons::kNo) == results::kYes) {
      view_.EnableReceipt(true);
      ReceiptClick();
    } else {
      view_.CloseWindow();
    }
    return;
  }
  if (result_code_ == 16 || result_code_ == 19 || result_code_ == 20 || result_code_ == 21) {
    view_.CloseWindow();
    return;
  }
  {
    package::TValidationManager validation;
    validation.set_package_file_name(FileNamePart(file_name_));
    validation.set_package_path(file_name_);
    try {
      validation.ExtractHeader();
    } catch (const package::ECreateDirectoryError&) {
      result_code_ = 16;
      Error(msg::Format(msg::kErrorDoing, {msg::kCreateTempFolder}));
      view_.CloseWindow();
      return;
    } catch (const package::EExpandFileError&) {
      result_code_ = 17;
      Error(msg::Format(msg::kErrorDoing, {msg::kExtractHeader}));
      view_.CloseWindow();
      return;
    } catch (const package::ERenameFileError&) {
      result_code_ = 18;
      Error(msg::Format(msg::kErrorDoing, {msg::kProcessHeader}));
      view_.CloseWindow();
      return;
    }
    if (!validation.ValidateHeader(1)) {
      result_code_ = 10;
      view_.CloseWindow();
      return;
    }
    const package::HeaderValues& header = validation.header();
    requester_name_ = header.requester_name;
    requester_id_ = header.requester_id;
    form_name_ = header.request_name;
    form_type_ = header.request_type;
    form_version_ = header.request_version;
    view_.SetRequester(requester_name_, requester_id_, form_name_ + " - " + form_version_);
  }
  view_.SetTimerEnabled(true);
  result_code_ = SendPackage();
  view_.SetTimerEnabled(false);
  switch (result_code_) {
    case 0:
      FinishSend();
      break;
    case 1:
    case 6:
    case 8:
    case 9:
    case 15:
    case 22:
    case 26:
      Disconnect();
      view_.CloseWindow();
      break;
    default:
      break;  // the window stays open until the user closes it
  }
}

void TransferSession::FinishSend() {
  const std::string institution = Institution();
  view_.SetStepMaximum(3);
  Status(msg::Format(msg::kValidatingFile, {msg::kEnviado}));
  bool valid = false;
  try {
    valid = Server().ValidFile(Variant(int32_t{0}));
  } catch (const std::exception& e) {
    result_code_ = 1;
    Status(msg::Format(msg::kErrorDoing, {msg::kSendTheFile}));
    Disconnect();
    transferring_ = false;
    MostrarMensagemDetalhes(msg::Format(msg::kSendFailed, {institution, msg::kSendProblems}),
                            MessageKind::kError, buttons::kOk, 0,
                            msg::Format(msg::kProtocolateFailedDetails, {e.what()}));
    return;
  }
  if (!valid) {
    result_code_ = 11;
    Status(msg::Format(msg::kValidatingFile, {msg::kEnviado}));
    Disconnect();
    transferring_ = false;
    Error(msg::Format(msg::kValidationFailed, {msg::kEnviado, institution}));
    view_.CloseWindow();
    return;
  }
  view_.SetStepPosition(1);

  iface::LibraryState& state = iface::State();
  const Variant before = state.protocol_data;
  try {
    Status(msg::Format(msg::kProtocolating, {msg::kRemotamente, msg::kEnvio}));
    Server().Protocolate(state.protocol_data);
    CheckProtocolData(state.protocol_data, before);
    view_.SetStepPosition(2);
  } catch (const std::exception& e) {
    // The package is stamped only with a protocol the server really gave.
    if (!(state.protocol_data == before)) state.protocol_data = before;
    result_code_ = 12;
    const std::string text = msg::Format(msg::kProtocolateFailed, {msg::kRemotamente, msg::kEnvio});
    Status(text);
    Disconnect();
    transferring_ = false;
    MostrarMensagemDetalhes(text, MessageKind::kError, buttons::kOk, 0,
                            msg::Format(msg::kProtocolateFailedDetails, {e.what()}));
    return;
  }

  Status(msg::Format(msg::kProtocolating, {msg::kLocalmente, msg::kEnvio}));
  package::TVornComProtocolManager protocol_manager;
  protocol_manager.set_protocol_data(state.protocol_data);
  protocol_manager.set_package_path(file_name_);
  try {
    protocol_manager.RecordProtocol(1, 1);
  } catch (const package::EProtocolError& e) {
    result_code_ = 13;
    const std::string text = msg::Format(msg::kProtocolateFailed, {msg::kLocalmente, msg::kEnvio});
    Disconnect();
    transferring_ = false;
    Status(text);
    MostrarMensagemDetalhes(text, MessageKind::kError, buttons::kOk, 0,
                            msg::Format(msg::kProtocolateFailedDetails, {e.what()}));
    return;
  }
  view_.SetStepPosition(3);
  Status(std::string(msg::kFileSentOk));
  view_.SetStepPosition(0);
  view_.EnableReceipt(true);
  Disconnect();
  if (close_after_send_) {
    view_.CloseWindow();
  } else {
    ReceiptClick();
  }
}

void TransferSession::CheckProtocolData(const Variant& data, const Variant& before) {
  bool numbered = false;
  try {
    numbered = data.IsArray() && data.LowerBound() == 1 &&
               data.UpperBound() == package::pd::kCount &&
               !IsBlank(data.At(package::pd::kProtocolNumber).ToString());
  } catch (const std::exception&) {
    numbered = false;
  }
  // Data left as it was is no protocol either, whatever it held before.
  if (!numbered || data == before)
    throw Exception("O servidor não devolveu o número de protocolo da transmissão");
}

uint8_t TransferSession::SendPackage() {
  cancel_requested_ = false;
  bytes_done_ = 0;
  bytes_at_last_tick_ = 0;
  file_size_ = env::GetFileSize(file_name_);
  bytes_total_ = file_size_;
  view_.SetProgress(0, bytes_total_, 0);
  return MoveData(Connect(rpc::Operation::kSend), /*sending=*/true);
}

uint8_t TransferSession::MoveData(uint8_t connect, bool sending) {
  const std::string institution = Institution();
  const std::string_view failed = sending ? msg::kSendFailed : msg::kReceiveFailed;
  switch (connect) {
    case cc::kAvailable: {
      transferring_ = true;
      try {
        ReplicateConfiguration();
      } catch (const std::exception&) {
        view_.SetStatus("");
        Error(msg::Format(failed, {institution, msg::kConfigUpdateFailed}));
        transferring_ = false;
        view_.CloseWindow();
        return 23;
      }
      view_.EnableCancel(true);
      const uint8_t code = sending ? SendPackets() : ReceivePackets();
      view_.EnableCancel(false);
      return code;
    }
    case cc::kNotAccepting:
      Disconnect();
      Status(std::string(msg::kNotAccepting));
      MostrarMensagemDetalhes(std::string(msg::kNotAccepting), MessageKind::kWarning, buttons::kOk,
                              0, msg::Format(msg::kNotAcceptingDetails, {institution}));
      return 9;
    case cc::kNotReceiving:
    case cc::kNotSending:
      // The server refuses this direction; the other direction's refusal means nothing to move.
      if ((connect == cc::kNotReceiving) != sending) return 0;
      Disconnect();
      WarningWithStatus(
          msg::Format(msg::kServerNotServing,
                      {institution, sending ? msg::kRecebendo : msg::kEnviando, msg::kArquivos}));
      return sending ? 6 : 5;
    case cc::kFormNotServed:
    case cc::kStatus11:
      Disconnect();
      WarningWithStatus(
          msg::Format(msg::kFormNotServed,
                      {FormLabel(), sending ? msg::kRecebido : msg::kEnviado, institution}));
      return connect == cc::kStatus11 ? 31 : 15;
    case cc::kSettingsNotLoadable:
      Status(std::string(msg::kLoadServerSettingsFailed));
      Error(std::string(msg::kLoadServerSettingsFailed));
      return 22;
    case cc::kNoConnection:
      MostrarMensagemDetalhes(
          msg::Format(msg::kConnectionFailed, {institution}), MessageKind::kError, buttons::kOk, 0,
          msg::Format(msg::kConnectionFailedDetails, {institution, institution, institution}));
      return 8;
    case cc::kNoWinsock2:
      MostrarMensagemDetalhes(std::string(msg::kNoWinsock2), MessageKind::kError, buttons::kOk, 0,
                              msg::Format(msg::kNoWinsock2Details, {institution}));
      return 26;
    case cc::kCongested:
      Disconnect();
      WarningWithStatus(std::string(msg::kServerCongested));
      return 30;
    case cc::kStatus12:
      Disconnect();
      WarningWithStatus(msg::Format(msg::kAvailabilityUnknown, {FormLabel()}));
      return 33;
    case cc::kStatus10:
    default:
      return 0;  // nothing to move: the finishing steps ask the server or compare the sizes
  }
}

uint8_t TransferSession::SendPackets() {
  const std::string institution = Institution();
  Status(std::string(msg::kStartingTransmission));
  try {
    Server().SendFile(Variant(FileNamePart(file_name_)));
  } catch (const std::exception&) {
    Error(msg::Format(msg::kSendFailed, {institution, msg::kStartProblems}));
    transferring_ = false;
    return 1;
  }
  std::ifstream file(file_name_, std::ios::binary);
  if (!file) throw Exception("Não foi possível abrir o arquivo \"" + file_name_ + "\".");
  const int32_t packet_size = PacketSize();
  Variant packet;
  try {
    packet = AllocatePacket(packet_size);
  } catch (const std::bad_alloc&) {
    Error(msg::Format(msg::kSendFailed, {institution, msg::kNoMemoryToSend}));
    transferring_ = false;
    return 1;
  }
  Status(std::string(msg::kSendingData));
  uint8_t code = 0;
  bool short_packet = false;
  while (!short_packet && !cancel_requested_) {
    std::vector<uint8_t>& bytes = packet.AsBytes().bytes;
    bytes.resize(static_cast<size_t>(packet_size));
    file.read(reinterpret_cast<char*>(bytes.data()), packet_size);
    const auto n = static_cast<int32_t>(file.gcount());
    if (n < 1) break;
    try {
      Variant count(n);
      Server().SendDataPacket(packet, count);
      ShowProgress(bytes_done_ + n);
    } catch (const std::exception&) {
      view_.SetStatus("");
      Error(msg::Format(msg::kSendFailed, {institution, msg::kSendProblems}));
      transferring_ = false;
      return 1;
    }
    short_packet = n < packet_size;
  }
  if (cancel_requested_) code = 2;
  transferring_ = false;
  return code;
}

// ---------------------------------------------------------------------------------------------
// Receiving

void TransferSession::StartReceive() {
  auto element = [this](int32_t i) {
    try {
      return client_info_.At(i).ToString();
    } catch (const std::exception&) {
      return std::string();
    }
  };
  requester_name_ = element(11);
  requester_id_ = element(9);
  form_name_ = element(6);
  form_type_ = element(5);
  form_version_ = element(7);
  view_.SetRequester(requester_name_, requester_id_, form_name_);
  view_.SetTimerEnabled(true);
  result_code_ = ReceiveFile();
  view_.SetTimerEnabled(false);
  switch (result_code_) {
    case 0:
      FinishReceive();
      break;
    case 1:
    case 5:
    case 7:
    case 8:
    case 9:
    case 15:
    case 22:
    case 26:
      Disconnect();
      view_.CloseWindow();
      break;
    default:
      break;
  }
}

void TransferSession::FinishReceive() {
  const std::string institution = Institution();
  view_.SetStepMaximum(2);
  Status(msg::Format(msg::kValidatingFile, {msg::kRecebido}));
  if (env::GetFileSize(LocalFilePath()) != file_size_) {
    result_code_ = 11;
    Status(msg::Format(msg::kValidatingFile, {msg::kRecebido}));
    Disconnect();
    transferring_ = false;
    Error(msg::Format(msg::kValidationFailed, {msg::kRecebido, institution}));
    view_.CloseWindow();
    return;
  }
  view_.SetStepPosition(1);
  try {
    Status(msg::Format(msg::kProtocolating, {msg::kRemotamente, msg::kDownload}));
    Server().Protocolate(client_info_);
    view_.SetStepPosition(2);
  } catch (const std::exception& e) {
    result_code_ = 12;
    const std::string text =
        msg::Format(msg::kProtocolateFailed, {msg::kRemotamente, msg::kDownload});
    Status(text);
    Disconnect();
    transferring_ = false;
    MostrarMensagemDetalhes(text, MessageKind::kError, buttons::kOk, 0,
                            msg::Format(msg::kProtocolateFailedDetails, {e.what()}));
    return;
  }
  try {
    if (EraseRequested()) {
      Variant name(file_name_);
      Server().EraseFile(name);
    }
  } catch (const std::exception&) {
  }
  Disconnect();
  view_.CloseWindow();
}

uint8_t TransferSession::ReceiveFile() {
  cancel_requested_ = false;
  return MoveData(Connect(rpc::Operation::kReceive), /*sending=*/false);
}

uint8_t TransferSession::ReceivePackets() {
  const std::string institution = Institution();
  Status(std::string(msg::kStartingTransmission));
  try {
    Variant name(file_name_);
    file_size_ = Server().GetFile(name, client_info_);
    file_name_ = name.ToString();
  } catch (const std::exception&) {
    Error(msg::Format(msg::kReceiveFailed, {institution, msg::kStartProblems}));
    transferring_ = false;
    return 1;
  }
  if (file_size_ == 0) {
    transferring_ = false;
    return 7;
  }
  if (file_size_ < 0) {
    // No size a file can have: the download cannot begin.
    Error(msg::Format(msg::kReceiveFailed, {institution, msg::kStartProblems}));
    transferring_ = false;
    return 1;
  }
  bytes_done_ = 0;
  bytes_at_last_tick_ = 0;
  bytes_total_ = file_size_;
  view_.SetProgress(0, bytes_total_, 0);

  // The server names the local file; a name that would leave the base folder is refused.
  if (!IsBareFileName(file_name_)) {
    Error(msg::Format(msg::kReceiveFailed, {institution, msg::kSaveProblems}));
    transferring_ = false;
    return 1;
  }
  // The download goes to a file beside the target and replaces it only once complete, so a
  // failed or cancelled download leaves an earlier file of that name as it was.
  std::unique_ptr<AtomicFile> target;
  std::ofstream out;
  try {
    target = std::make_unique<AtomicFile>(LocalFilePath());
    out.open(target->temp_path(), std::ios::binary | std::ios::trunc);
    if (!out) throw Exception("cannot create");
  } catch (const std::exception&) {
    transferring_ = false;
    return 1;
  }
  uint8_t code = 0;
  const int32_t packet_size = PacketSize();
  Variant packet;
  bool allocated = true;
  try {
    packet = AllocatePacket(packet_size);
  } catch (const std::bad_alloc&) {
    code = 1;
    Error(msg::Format(msg::kReceiveFailed, {institution, msg::kNoMemoryToReceive}));
    allocated = false;
  }
  if (allocated) {
    Status(std::string(msg::kReceivingData));
    bool short_packet = false;
    while (!short_packet && !cancel_requested_) {
      int32_t n = 0;
      try {
        n = Server().GetDataPacket(packet);
      } catch (const std::exception&) {
        code = 1;
        Error(msg::Format(msg::kReceiveFailed, {institution, msg::kReceiveProblems}));
        break;
      }
      if (n < 1) break;
      if (int64_t{bytes_done_} + n > int64_t{file_size_}) {
        // More than the server announced is no short read but a broken or hostile server: the
        // download stops here and nothing of it is kept.
        code = 11;
        break;
      }
      try {
        const std::vector<uint8_t>& bytes = packet.AsBytes().bytes;
        if (static_cast<size_t>(n) > bytes.size()) throw Exception("short packet");
        out.write(reinterpret_cast<const char*>(bytes.data()), n);
        if (!out) throw Exception("write failed");
        ShowProgress(bytes_done_ + n);
      } catch (const std::exception&) {
        code = 1;
        Error(msg::Format(msg::kReceiveFailed, {institution, msg::kSaveProblems}));
        break;
      }
      short_packet = n < packet_size;
    }
  }
  if (cancel_requested_) code = 2;
  out.close();
  transferring_ = false;
  if (code == 11) {
    Status(msg::Format(msg::kValidatingFile, {msg::kRecebido}));
    Disconnect();
    Error(msg::Format(msg::kValidationFailed, {msg::kRecebido, institution}));
    view_.CloseWindow();
  }
  if (code == 0) {
    try {
      if (out.fail()) throw Exception("close failed");
      target->Commit();
    } catch (const std::exception&) {
      Error(msg::Format(msg::kReceiveFailed, {institution, msg::kSaveProblems}));
      code = 1;
    }
  }
  return code;
}

// ---------------------------------------------------------------------------------------------
// Status query

uint8_t TransferSession::RunStatusQuery(uint8_t* status) {
  operation_ = Op::kStatus;
  result_code_ = 0;
  const std::string institution = Institution();
  const std::string label = form_type_ + " (" + form_version_ + ")";
  try {
    switch (Connect(rpc::Operation::kStatusQuery)) {
      case cc::kAvailable:
        try {
          const int32_t form_status = Server().CheckFormStatus();
          if (status) *status = static_cast<uint8_t>(form_status & 0xFF);
        } catch (const std::exception&) {
          result_code_ = 32;
          Warning(msg::Format(msg::kAvailabilityUnknown, {label}));
        }
        Disconnect();
        break;
      case cc::kNotAccepting:
        Disconnect();
        result_code_ = 9;
        MostrarMensagemDetalhes(std::string(msg::kNotAccepting), MessageKind::kWarning,
                                buttons::kOk, 0,
                                msg::Format(msg::kNotAcceptingDetails, {institution}));
        break;
      case cc::kSettingsNotLoadable:
        result_code_ = 22;
        Error(std::string(msg::kLoadServerSettingsFailed));
        break;
      case cc::kNoConnection:
        result_code_ = 8;
        MostrarMensagemDetalhes(
            msg::Format(msg::kConnectionFailed, {institution}), MessageKind::kError, buttons::kOk,
            0, msg::Format(msg::kConnectionFailedDetails, {institution, institution, institution}));
        break;
      case cc::kNoWinsock2:
        result_code_ = 26;
        MostrarMensagemDetalhes(std::string(msg::kNoWinsock2), MessageKind::kError, buttons::kOk, 0,
                                msg::Format(msg::kNoWinsock2Details, {institution}));
        break;
      case cc::kCongested:
        Disconnect();
        result_code_ = 30;
        Warning(std::string(msg::kServerCongested));
        break;
      case cc::kStatus10:
        Disconnect();
        if (status) *status = 4;
        break;
      case cc::kStatus12:
        Disconnect();
        result_code_ = 32;
        Warning(msg::Format(msg::kAvailabilityUnknown, {label}));
        break;
      default:
        break;  // 3, 4, 6, 14: no status byte
    }
  } catch (const std::exception&) {
    // The query has no window to report on; an unexpected failure means the status is unknown.
    result_code_ = 32;
    Warning(msg::Format(msg::kAvailabilityUnknown, {label}));
  }
  Disconnect();
  return result_code_;
}

}  // namespace vorncom::transfer
