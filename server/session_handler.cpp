#include "server/session_handler.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <thread>
#include <utility>

#include "common/atomic_file.h"
#include "common/exception.h"
#include "common/file_names.h"
#include "common/messages.h"
#include "rpc/wire.h"
#include "server/upload_digest.h"

namespace vorncom::server {

namespace fs = std::filesystem;

namespace {

VORNCOM_EXCEPTION(ESessionError);

constexpr char kStoredSuffix[] = ".pkg";

int64_t Seconds() { return static_cast<int64_t>(std::time(nullptr)); }

// A byte count given as a double: whole, not negative, within `limit`.
std::optional<int64_t> WholeBytes(double value, int64_t limit) {
  if (!(value >= 0) || value > static_cast<double>(limit) || std::floor(value) != value)
    return std::nullopt;
  return static_cast<int64_t>(value);
}

std::string TextOf(const Variant& v) {
  try {
    return v.ToString();
  } catch (const EVariantError&) {
    throw ESessionError(std::string(msg::kSrvControlValueInvalid));
  }
}

}  // namespace

SessionHandler::SessionHandler(ServerContext& context, uint64_t id, std::string local_address,
                               std::string peer_address)
    : context_(context),
      id_(id),
      local_address_(std::move(local_address)),
      peer_address_(std::move(peer_address)) {}

SessionHandler::~SessionHandler() { LeaveUpload(); }

void SessionHandler::Log(const std::string& text) const { context_.log.Write(id_, text); }

void SessionHandler::DiscardUpload() {
  pending_.clear();
  pending_count_ = 0;
  upload_.reset();
  if (!upload_path_.empty()) {
    std::error_code ignored;
    fs::remove(upload_path_, ignored);
    upload_path_.clear();
  }
  upload_valid_ = false;
  if (!upload_id_.empty()) {
    try {
      context_.registry.ExpireUpload(upload_id_);
    } catch (const std::exception& e) {
      Log(e.what());
    }
    ReleaseLease();
  }
}

void SessionHandler::ReleaseLease() {
  if (upload_id_.empty()) return;
  if (upload_lock_ >= 0) ::close(std::exchange(upload_lock_, -1));
  context_.leases.Give(upload_id_);
  upload_id_.clear();
}

bool SessionHandler::TakeLease(const std::string& id) {
  if (!context_.leases.Take(id, let_go_)) return false;
  upload_id_ = id;
  if (LockUploadFile()) return true;
  ReleaseLease();
  return false;
}

bool SessionHandler::LockUploadFile() {
  // The lock is on the file itself, so it goes with it into the store; a server that opens the
  // path afterwards finds another file or none. A file not there yet is locked once created.
  const int fd = ::open(context_.ResumablePath(upload_id_).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  if (upload_lock_ >= 0) ::close(upload_lock_);
  upload_lock_ = fd;
  return true;
}

void SessionHandler::LeaveUpload() {
  if (upload_id_.empty() || upload_path_.empty()) return DiscardUpload();
  // Never throws: it runs when the session ends, however that happens.
  try {
    WritePending();
    if (upload_) SyncUpload();
  } catch (const std::exception& e) {
    Log(e.what());
  }
  if (upload_id_.empty()) return;  // the flush failed and discarded it
  upload_.reset();
  upload_path_.clear();
  upload_valid_ = false;
  Log("envio " + upload_id_ + " interrompido com " + std::to_string(synced_) + " bytes");
  ReleaseLease();
}

bool SessionHandler::SyncDue() const {
  return !upload_id_.empty() && upload_ &&
         upload_size_ - synced_ >= context_.config.resume_sync_bytes;
}

void SessionHandler::SyncUpload() {
  if (std::fflush(upload_.get()) != 0 || ::fdatasync(::fileno(upload_.get())) != 0) {
    Log("erro ao gravar " + upload_name_ + "; envio descartado");
    DiscardUpload();
    throw ESessionError(std::string(msg::kSrvUploadWriteFailed));
  }
  context_.registry.RecordHeld(upload_id_, upload_size_, Seconds());
  synced_ = upload_size_;
}

void SessionHandler::OpenUploadFile(const std::string& path, int flags, int64_t held) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0600);
  if (fd < 0) throw ESessionError(std::string(msg::kSrvUploadNotCreated));
  // Bytes after the count recorded may be torn or belong to no packet the client was told of.
  if (::ftruncate(fd, held) != 0 || ::lseek(fd, held, SEEK_SET) != held) {
    ::close(fd);
    throw ESessionError(std::string(msg::kSrvUploadNotCreated));
  }
  upload_.reset(::fdopen(fd, "wb"));
  if (!upload_) {
    ::close(fd);
    throw ESessionError(std::string(msg::kSrvUploadNotCreated));
  }
  // Packets arrive whole: unbuffered, each one is a single write with no copy into a buffer.
  std::setvbuf(upload_.get(), nullptr, _IONBF, 0);
  upload_path_ = path;
}

void SessionHandler::WritePending() {
  if (pending_count_ == 0) return;
  const size_t count = std::exchange(pending_count_, 0);
  const bool written = upload_ && std::fwrite(pending_.data(), 1, count, upload_.get()) == count;
  std::vector<uint8_t>().swap(pending_);  // an idle session holds no packet
  if (written) return;
  Log("erro ao gravar " + upload_name_ + "; envio descartado");
  DiscardUpload();
  write_failed_ = true;
}

void SessionHandler::ReportWriteFailure() {
  if (!std::exchange(write_failed_, false)) return;
  throw ESessionError(std::string(msg::kSrvUploadWriteFailed));
}

const FormRule* SessionHandler::Rule() const {
  const auto it = context_.config.forms.find({form_type_, form_version_});
  return it == context_.config.forms.end() ? nullptr : &it->second;
}

std::string SessionHandler::ServerAddress() const {
  return context_.config.server_address.empty() ? local_address_ : context_.config.server_address;
}

bool SessionHandler::AcceptingConnections(Variant& busy) {
  const unsigned sessions = context_.sessions.load();
  busy = sessions > context_.config.busy_limit;
  return context_.config.accepting;
}

void SessionHandler::SendControlPacket(const Variant& packet) {
  if (!packet.IsArray() || packet.AsArray().items.size() < 6)
    throw ESessionError(std::string(msg::kSrvControlInvalid));
  const int32_t lb = packet.LowerBound();
  try {
    form_type_ = packet.At(lb).ToString();
    form_version_ = packet.At(lb + 1).ToString();
    control_file_name_ = packet.At(lb + 2).ToString();
    control_size_ = packet.At(lb + 3).ToDouble();
    operation_ = packet.At(lb + 4).ToInteger();
    client_address_ = packet.At(lb + 5).ToString();
  } catch (const EVariantError&) {
    has_control_ = false;
    throw ESessionError(std::string(msg::kSrvControlInvalid));
  }
  has_control_ = true;
  Log("controle: operação " + std::to_string(operation_) + ", formulário " + form_type_ + "/" +
      form_version_ + ", arquivo " + control_file_name_ + " (" + FormatDouble(control_size_) +
      " bytes), cliente " + client_address_);
}

int32_t SessionHandler::CheckServerStatus(Variant& packet_size) {
  if (!has_control_) throw ESessionError(std::string(msg::kSrvNoControl));
  packet_size = context_.config.packet_size;
  if (const FormRule* rule = Rule(); rule && rule->server_status) return *rule->server_status;
  switch (operation_) {
    case 1:
      return context_.config.status_send;
    case 0:
      return context_.config.status_receive;
    case 5:
      return context_.config.status_query;
    default:
      return 0;
  }
}

bool SessionHandler::ReplicateClientCfgFile(Variant& server_list) {
  if (context_.config.servers.empty()) return false;
  server_list = ByteArray{1, rpc::EncodeServerList(context_.config.servers)};
  return true;
}

void SessionHandler::SendFile(const Variant& file_name) {
  if (!has_control_) throw ESessionError(std::string(msg::kSrvNoControl));
  const std::string name = TextOf(file_name);
  if (!IsBareFileName(name)) throw ESessionError(msg::Format(msg::kSrvFileNameInvalid, {name}));
  LeaveUpload();
  write_failed_ = false;  // it belonged to the upload this one replaces
  // The name is the server's own: a client name never becomes a path before it is validated.
  OpenUploadFile(context_.incoming_folder + "/upload-" + context_.instance + "-" +
                     std::to_string(id_) + ".part",
                 O_CREAT | O_EXCL, 0);
  upload_name_ = name;
  upload_size_ = 0;
  expected_sha_.clear();
  packets_ = 0;
  started_ = Now();
  context_.metrics.uploads_started.Add();
  Log("recebendo " + name);
}

std::string SessionHandler::StartUpload(const std::string& file_name, double size,
                                        const std::string& sha256) {
  if (!has_control_) throw ESessionError(std::string(msg::kSrvNoControl));
  if (!IsBareFileName(file_name))
    throw ESessionError(msg::Format(msg::kSrvFileNameInvalid, {file_name}));
  if (!IsSha256Text(sha256)) throw ESessionError(std::string(msg::kSrvUploadDigestInvalid));
  const auto bytes = WholeBytes(size, context_.config.max_upload);
  if (!bytes) throw ESessionError(std::string(msg::kSrvUploadSizeInvalid));
  if (file_name != control_file_name_ || size != control_size_)
    throw ESessionError(std::string(msg::kSrvUploadNotAsControl));
  LeaveUpload();
  write_failed_ = false;
  context_.ExpireUploads();

  UploadRecord upload;
  upload.id = NewUploadId();
  upload.file_name = file_name;
  upload.size = *bytes;
  upload.sha256 = sha256;
  upload.form_type = form_type_;
  upload.form_version = form_version_;
  upload.client_address = client_address_.empty() ? peer_address_ : client_address_;
  started_ = Now();
  upload.started = FormatDateTime(started_);
  upload.moved = Seconds();
  if (!TakeLease(upload.id)) throw std::runtime_error("upload id reused");
  try {
    OpenUploadFile(context_.ResumablePath(upload.id), O_CREAT | O_EXCL, 0);
    if (!LockUploadFile()) throw std::runtime_error("upload id reused");
    context_.registry.CreateUpload(upload);
  } catch (...) {
    DiscardUpload();
    throw;
  }
  upload_name_ = file_name;
  upload_size_ = 0;
  synced_ = 0;
  expected_sha_ = sha256;
  packets_ = 0;
  context_.metrics.uploads_started.Add();
  Log("recebendo " + file_name + " (envio " + upload.id + ")");
  return upload.id;
}

double SessionHandler::ResumeUpload(const std::string& upload_id) {
  if (!has_control_) throw ESessionError(std::string(msg::kSrvNoControl));
  if (!IsUploadIdText(upload_id))
    throw ESessionError(msg::Format(msg::kSrvUploadUnknown, {upload_id}));
  LeaveUpload();
  write_failed_ = false;
  const int64_t cutoff = Seconds() - std::chrono::seconds(context_.config.resume_hours).count();
  // The refusals that need no lease come first, so that a wrong call closes no other session.
  // With the lease taken, the record is read again: what it says can no longer change.
  auto checked = [&](bool leased) {
    std::optional<UploadRecord> upload = context_.registry.FindUpload(upload_id);
    std::string_view refusal;
    if (!upload) {
      refusal = msg::kSrvUploadUnknown;
    } else if (upload->state == UploadRecord::State::kRegistered) {
      refusal = msg::kSrvUploadRegistered;
    } else if (upload->state == UploadRecord::State::kExpired || upload->moved < cutoff) {
      if (leased && upload->state == UploadRecord::State::kOpen) {
        std::error_code ignored;
        fs::remove(context_.ResumablePath(upload_id), ignored);
        context_.registry.ExpireUpload(upload_id);
      }
      refusal = msg::kSrvUploadExpired;
    } else if (upload->file_name != control_file_name_ ||
               static_cast<double>(upload->size) != control_size_) {
      refusal = msg::kSrvUploadNotAsControl;
    }
    if (!refusal.empty()) throw ESessionError(msg::Format(refusal, {upload_id}));
    return *upload;
  };
  context_.ExpireUploads();
  checked(false);
  if (!TakeLease(upload_id)) throw ESessionError(msg::Format(msg::kSrvUploadInUse, {upload_id}));
  std::optional<UploadRecord> upload;
  try {
    upload = checked(true);
  } catch (...) {
    ReleaseLease();
    throw;
  }
  auto refuse = [&](std::string_view message) {
    ReleaseLease();
    throw ESessionError(msg::Format(message, {upload_id}));
  };
  const std::string path = context_.ResumablePath(upload_id);
  std::error_code ec;
  const auto on_disk = static_cast<int64_t>(fs::file_size(path, ec));
  if (ec) {
    // In a shared registry the bytes may be in another server's incoming folder.
    if (!context_.registry.Shared()) context_.registry.ExpireUpload(upload_id);
    refuse(msg::kSrvUploadExpired);
  }
  const int64_t held = std::min(upload->held, on_disk);
  try {
    OpenUploadFile(path, 0, held);
    context_.registry.RecordHeld(upload_id, held, Seconds());
  } catch (...) {
    upload_.reset();
    upload_path_.clear();
    ReleaseLease();
    throw;
  }
  upload_name_ = upload->file_name;
  upload_size_ = held;
  synced_ = held;
  expected_sha_ = upload->sha256;
  packets_ = 0;
  started_ = ParseDateTime(upload->started).value_or(Now());
  context_.metrics.resumed_transfers.Add();
  Log("retomando " + upload_name_ + " (envio " + upload_id + ") de " + std::to_string(held));
  return static_cast<double>(held);
}

std::optional<Variant> SessionHandler::FindRegistration(const std::string& upload_id,
                                                        const std::string& sha256, double size,
                                                        const std::string& file_name) {
  const auto bytes = WholeBytes(size, INT64_MAX / 2);
  const int64_t since = context_.config.dedup_days == 0 || !bytes
                            ? 0
                            : Seconds() - int64_t{86400} * context_.config.dedup_days;
  const auto found =
      context_.registry.FindRegistration(upload_id, sha256, bytes.value_or(-1), file_name, since);
  if (!found) return std::nullopt;
  try {
    return rpc::wire::DecodeVariant(found->protocol_data);
  } catch (const std::exception&) {
    throw ESessionError(std::string(msg::kSrvRegistrationUnreadable));
  }
}

void SessionHandler::SendDataPacket(Variant& packet, Variant& byte_count) {
  WritePending();
  ReportWriteFailure();
  if (!upload_) throw ESessionError(std::string(msg::kSrvNoUpload));
  const unsigned drop_after = context_.config.fault_drop_after_packets;
  if (drop_after != 0 && packets_ >= drop_after) throw SessionFault{SessionFault::kDrop};
  // A refused packet leaves a hole in the upload, so the upload goes with it: packets pipelined
  // after it must not land where it should have been.
  auto refuse = [&](std::string_view message) {
    DiscardUpload();
    throw ESessionError(std::string(message));
  };
  if (!packet.IsBytes()) refuse(msg::kSrvDataPacketInvalid);
  int32_t count = 0;
  try {
    count = byte_count.ToInteger();
  } catch (const EVariantError&) {
    refuse(msg::kSrvByteCountInvalid);
  }
  std::vector<uint8_t>& bytes = packet.AsBytes().bytes;
  if (count < 0 || static_cast<size_t>(count) > bytes.size()) refuse(msg::kSrvByteCountInvalid);
  if (SyncDue()) SyncUpload();
  if (upload_size_ + count > context_.config.max_upload) {
    DiscardUpload();
    throw ESessionError(std::string(msg::kSrvUploadTooLarge));
  }
  // The packet is the request's own and never goes back to the client, so it is taken, not copied.
  pending_ = std::move(bytes);
  pending_count_ = static_cast<size_t>(count);
  upload_size_ += count;
  ++packets_;
}

bool SessionHandler::ValidFile(const Variant&) {
  WritePending();
  ReportWriteFailure();
  if (!upload_) throw ESessionError(std::string(msg::kSrvNoUpload));
  bool flushed = std::fflush(upload_.get()) == 0;
  upload_.reset();
  try {
    if (flushed) FlushFile(upload_path_);
  } catch (const EFileReplaceError&) {
    flushed = false;
  }
  std::string reason;
  if (flushed && !upload_id_.empty()) {
    // Flushed: all of it is held, so that a session after a lost answer can go straight on.
    context_.registry.RecordHeld(upload_id_, upload_size_, Seconds());
    synced_ = upload_size_;
  }
  std::optional<std::string> digest;
  if (!flushed) {
    reason = "erro ao gravar o arquivo";
  } else if (static_cast<double>(upload_size_) != control_size_) {
    reason = "recebidos " + std::to_string(upload_size_) + " bytes, esperados " +
             FormatDouble(control_size_);
  } else if (!(digest = Sha256OfFile(upload_path_))) {
    reason = "erro ao ler o arquivo";
  } else if (!expected_sha_.empty() && *digest != expected_sha_) {
    reason = "SHA-256 " + *digest + ", esperado " + expected_sha_;
  } else {
    upload_sha_ = *digest;
    std::this_thread::sleep_for(context_.config.fault_check_delay);
    upload_valid_ =
        InspectPackage(upload_path_, context_.config.MaxExpandedBytes(), header_, reason);
  }
  if (!upload_valid_) {
    context_.metrics.uploads_failed.Add();
    Log("arquivo " + upload_name_ + " inválido: " + reason);
    DiscardUpload();
    return false;
  }
  Log("arquivo " + upload_name_ + " válido (" + std::to_string(upload_size_) + " bytes)");
  return true;
}

void SessionHandler::Protocolate(Variant& data) {
  WritePending();
  ReportWriteFailure();
  if (upload_valid_) {
    ProtocolateUpload(data);
  } else if (download_started_) {
    ProtocolateDownload(data);
  } else {
    throw ESessionError(std::string(msg::kSrvNothingToProtocolate));
  }
}

Variant SessionHandler::UploadProtocolData(const std::string& number, OleDate finished) const {
  const FormRule* rule = Rule();
  Variant filled = Variant::Array(1, 14);
  filled.At(1) = upload_name_;
  filled.At(2) = ServerAddress();
  filled.At(3) = number;
  filled.At(4) = finished;
  filled.At(5) = header_.request_name;
  filled.At(6) = header_.request_version;
  filled.At(7) = header_.requester_id;
  filled.At(8) = header_.requester_name;
  filled.At(9) = static_cast<int32_t>(upload_size_);
  if (const auto date = ParseDateTime(header_.update_date)) {
    filled.At(10) = *date;
  } else {
    filled.At(10) = header_.update_date;
  }
  filled.At(11) = started_;
  filled.At(12) = header_.request_type;
  filled.At(13) = header_.agency_id;
  filled.At(14) = rule && rule->message ? *rule->message : context_.config.default_message;
  return filled;
}

void SessionHandler::StoreUpload(const std::string& stored, bool& copied) {
  try {
    MoveFileIntoPlace(upload_path_, stored);
    return;
  } catch (const EFileReplaceError& e) {
    if (e.step() != EFileReplaceError::Step::kRename || e.error() != EXDEV) throw;
  }
  // A store on another file system: a copy under a temporary name beside it, flushed, renamed.
  // A crash leaves at most the temporary file, which has no record and is cleared at start-up.
  const std::string temporary = CreateUniqueFileBeside(stored);
  std::error_code ec;
  fs::copy_file(upload_path_, temporary, fs::copy_options::overwrite_existing, ec);
  if (ec) {
    fs::remove(temporary, ec);
    throw EFileReplaceError(EFileReplaceError::Step::kWrite, EIO, "Cannot copy to " + temporary);
  }
  try {
    MoveFileIntoPlace(temporary, stored);
  } catch (const EFileReplaceError& e) {
    if (e.step() != EFileReplaceError::Step::kFlushFolder) fs::remove(temporary, ec);
    copied = e.step() == EFileReplaceError::Step::kFlushFolder;
    throw;
  }
  copied = true;
}

void SessionHandler::UnstoreUpload(const std::string& stored, bool copied) {
  if (copied) {
    std::error_code ignored;
    fs::remove(stored, ignored);  // the upload is still in the incoming folder
  } else {
    std::rename(stored.c_str(), upload_path_.c_str());
  }
}

void SessionHandler::ProtocolateUpload(Variant& data) {
  const OleDate finished = Now();
  Registration entry;
  entry.operation = 1;
  entry.file_name = upload_name_;
  entry.size = upload_size_;
  entry.form_type = header_.request_type;
  entry.form_name = header_.request_name;
  entry.form_version = header_.request_version;
  entry.requester_id = header_.requester_id;
  entry.requester_name = header_.requester_name;
  entry.agency_id = header_.agency_id;
  entry.client_address = client_address_.empty() ? peer_address_ : client_address_;
  entry.started = FormatDateTime(started_);
  entry.finished = FormatDateTime(finished);
  entry.sha256 = upload_sha_;
  entry.upload_id = upload_id_;

  const int64_t dedup_since =
      context_.config.dedup_days == 0 ? 0 : Seconds() - int64_t{86400} * context_.config.dedup_days;
  Variant filled;
  std::string stored, number;
  bool copied = false;
  const std::optional<EarlierRegistration> earlier = context_.registry.RecordUpload(
      entry, dedup_since, number,
      [&](const std::string& new_number, const std::string& serial) {
        filled = UploadProtocolData(new_number, finished);
        entry.protocol_data = rpc::wire::EncodeVariant(filled);
        // Named by the serial alone: the client's name (kept in the registry) may be as long as
        // a file name can be, and the prefix may hold anything.
        entry.stored_name = serial + kStoredSuffix;
        stored = context_.store_folder + "/" + entry.stored_name;
        entry.stored_path = stored;
        try {
          StoreUpload(stored, copied);
        } catch (const EFileReplaceError& e) {
          // Not recorded, so not stored: a file put in place but not made durable is taken back.
          if (e.step() == EFileReplaceError::Step::kFlushFolder) UnstoreUpload(stored, copied);
          throw ESessionError(std::string(msg::kSrvUploadStoreFailed));
        }
      },
      [&] { UnstoreUpload(stored, copied); });
  if (copied) {
    std::error_code ignored;
    fs::remove(upload_path_, ignored);
  }
  if (earlier) {
    // The same bytes are stored under that registration already: this copy goes.
    std::error_code ignored;
    fs::remove(upload_path_, ignored);
    try {
      filled = rpc::wire::DecodeVariant(earlier->protocol_data);
    } catch (const std::exception&) {
      upload_path_.clear();
      upload_valid_ = false;
      ReleaseLease();
      throw ESessionError(std::string(msg::kSrvRegistrationUnreadable));
    }
  }
  upload_path_.clear();
  upload_valid_ = false;
  ReleaseLease();
  data = std::move(filled);
  context_.metrics.uploads_completed.Add();
  context_.metrics.protocolations.Add();
  if (earlier) context_.metrics.deduplicated_sends.Add();
  Log("protocolo " + number + " para " + upload_name_ + (earlier ? " (já registrado)" : ""));
}

void SessionHandler::ProtocolateDownload(Variant& data) {
  const OleDate finished = Now();
  Registration entry;
  entry.operation = 0;
  entry.file_name = download_name_;
  entry.size = download_size_;
  const bool info = client_info_.IsArray();
  auto element = [&](int32_t i) {
    if (!info || i < client_info_.LowerBound() || i > client_info_.UpperBound())
      return std::string();
    try {
      return client_info_.At(i).ToString();
    } catch (const EVariantError&) {
      return std::string();
    }
  };
  entry.form_type = element(5);
  entry.form_name = element(6);
  entry.form_version = element(7);
  entry.requester_id = element(9);
  entry.requester_name = element(11);
  entry.client_address = client_address_.empty() ? peer_address_ : client_address_;
  entry.started = FormatDateTime(started_);
  entry.finished = FormatDateTime(finished);
  const std::string number = context_.registry.Record(
      entry, [](const std::string&, const std::string&) {}, [] {});
  download_started_ = false;

  // The array is the client information the library reads afterwards (elements 5, 6, 7, 9, 11
  // and the erase flag 14): only the four protocol elements are filled in.
  if (!data.IsArray() || data.LowerBound() != 1 || data.UpperBound() < 4) {
    Variant fresh = Variant::Array(1, 14);
    if (data.IsArray())
      for (int32_t i = 1; i <= 14; ++i)
        if (i >= data.LowerBound() && i <= data.UpperBound()) fresh.At(i) = data.At(i);
    data = std::move(fresh);
  }
  data.At(1) = download_name_;
  data.At(2) = ServerAddress();
  data.At(3) = number;
  data.At(4) = finished;
  context_.metrics.protocolations.Add();
  Log("protocolo " + number + " para o download de " + download_name_);
}

int32_t SessionHandler::GetFile(Variant& file_name, Variant& client_info) {
  const std::string name = TextOf(file_name);
  if (!IsBareFileName(name)) throw ESessionError(msg::Format(msg::kSrvFileNameInvalid, {name}));
  download_.reset();
  download_started_ = false;
  const std::string path = context_.download_folder + "/" + name;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    Log("download de " + name + ": não encontrado");
    return 0;
  }
  const auto size = fs::file_size(path, ec);
  if (ec || size > static_cast<uintmax_t>(INT32_MAX))
    throw ESessionError(msg::Format(msg::kSrvDownloadRefused, {name}));
  download_.reset(std::fopen(path.c_str(), "rb"));
  if (!download_) throw ESessionError(msg::Format(msg::kSrvDownloadNotOpened, {name}));
  download_name_ = name;
  download_size_ = static_cast<int64_t>(size);
  client_info_ = client_info;
  started_ = Now();
  download_started_ = size > 0;
  download_read_ = false;
  Log("download de " + name + " (" + std::to_string(size) + " bytes)");
  return static_cast<int32_t>(size);
}

int32_t SessionHandler::GetDataPacket(Variant& packet) {
  if (!download_) throw ESessionError(std::string(msg::kSrvNoDownload));
  download_read_ = true;
  ByteArray buffer = packet.IsBytes() ? std::move(packet.AsBytes()) : ByteArray{1, {}};
  const size_t limit = static_cast<size_t>(context_.config.packet_size);
  if (buffer.bytes.size() < limit) buffer.bytes.resize(limit);
  const size_t n = std::fread(buffer.bytes.data(), 1, limit, download_.get());
  if (n < limit) {
    if (std::ferror(download_.get())) throw ESessionError(std::string(msg::kSrvDownloadReadFailed));
    download_.reset();
  }
  packet = std::move(buffer);
  return static_cast<int32_t>(n);
}

void SessionHandler::EraseFile(Variant& file_name) {
  const std::string name = TextOf(file_name);
  if (!IsBareFileName(name)) throw ESessionError(msg::Format(msg::kSrvFileNameInvalid, {name}));
  if (name == download_name_) download_.reset();
  std::error_code ec;
  if (!fs::remove(context_.download_folder + "/" + name, ec))
    throw ESessionError(msg::Format(msg::kSrvEraseFailed, {name}));
  Log("apagado " + name);
}

void SessionHandler::ResumeDownload(double offset) {
  if (!download_) throw ESessionError(std::string(msg::kSrvNoDownload));
  if (download_read_) throw ESessionError(std::string(msg::kSrvDownloadAlreadyRead));
  const auto start = WholeBytes(offset, download_size_);
  if (!start || ::fseeko(download_.get(), static_cast<off_t>(*start), SEEK_SET) != 0)
    throw ESessionError(std::string(msg::kSrvDownloadOffsetInvalid));
  context_.metrics.resumed_transfers.Add();
  Log("download de " + download_name_ + " retomado de " + std::to_string(*start));
}

int32_t SessionHandler::CheckFormStatus() {
  if (const FormRule* rule = Rule(); rule && rule->form_status) return *rule->form_status;
  return context_.config.form_status;
}

}  // namespace vorncom::server
