#include "server/upload_receiver.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <utility>

#include "common/atomic_file.h"
#include "common/messages.h"
#include "rpc/wire.h"
#include "server/upload_digest.h"
#include "server/upload_store.h"

namespace vorncom::server {

namespace fs = std::filesystem;

namespace {

constexpr char kStoredSuffix[] = ".pkg";

}  // namespace

void UploadReceiver::Discard() {
  pending_.clear();
  pending_count_ = 0;
  file_.reset();
  if (!path_.empty()) {
    std::error_code ignored;
    fs::remove(path_, ignored);
    path_.clear();
  }
  valid_ = false;
  if (lease_.held()) {
    // A registry call, which may wait on a database across the network: never on an event loop.
    // The bytes are gone already, so a resume meanwhile finds nothing to go on with.
    session_.off_loop([&context = context_, id = lease_.id(), session = session_.id] {
      try {
        context.registry.ExpireUpload(id);
      } catch (const std::exception& e) {
        context.log.Write(session, e.what());
      }
    });
    lease_.Release();
  }
}

void UploadReceiver::Leave() {
  if (!lease_.held() || path_.empty()) return Discard();
  // Never throws: it runs when the session ends, however that happens.
  try {
    WritePending();
    if (file_) Sync();
  } catch (const std::exception& e) {
    session_.Log(e.what());
  }
  if (!lease_.held()) return;  // the flush failed and discarded it
  file_.reset();
  path_.clear();
  valid_ = false;
  session_.Log("envio " + lease_.id() + " interrompido com " + std::to_string(synced_) + " bytes");
  lease_.Release();
}

bool UploadReceiver::SyncDue() const {
  return lease_.held() && file_ && size_ - synced_ >= context_.config.resume_sync_bytes;
}

void UploadReceiver::Sync() {
  if (std::fflush(file_.get()) != 0 || ::fdatasync(::fileno(file_.get())) != 0) {
    session_.Log("erro ao gravar " + name_ + "; envio descartado");
    Discard();
    throw ESessionError(std::string(msg::kSrvUploadWriteFailed));
  }
  context_.registry.RecordHeld(lease_.id(), size_, NowSeconds());
  synced_ = size_;
}

void UploadReceiver::OpenFile(const std::string& path, int flags, int64_t held) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | flags, 0600);
  if (fd < 0) throw ESessionError(std::string(msg::kSrvUploadNotCreated));
  // Bytes after the count recorded may be torn or belong to no packet the client was told of.
  if (::ftruncate(fd, held) != 0 || ::lseek(fd, held, SEEK_SET) != held) {
    ::close(fd);
    throw ESessionError(std::string(msg::kSrvUploadNotCreated));
  }
  file_.reset(::fdopen(fd, "wb"));
  if (!file_) {
    ::close(fd);
    throw ESessionError(std::string(msg::kSrvUploadNotCreated));
  }
  // Packets arrive whole: unbuffered, each one is a single write with no copy into a buffer.
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  path_ = path;
}

void UploadReceiver::WritePending() {
  if (pending_count_ == 0) return;
  const size_t count = std::exchange(pending_count_, 0);
  const bool written = file_ && std::fwrite(pending_.data(), 1, count, file_.get()) == count;
  std::vector<uint8_t>().swap(pending_);  // an idle session holds no packet
  if (written) return;
  session_.Log("erro ao gravar " + name_ + "; envio descartado");
  Discard();
  write_failed_ = true;
}

void UploadReceiver::ReportWriteFailure() {
  if (!std::exchange(write_failed_, false)) return;
  throw ESessionError(std::string(msg::kSrvUploadWriteFailed));
}

void UploadReceiver::Start(const std::string& name) {
  Leave();
  write_failed_ = false;  // it belonged to the upload this one replaces
  // The name is the server's own: a client name never becomes a path before it is validated.
  OpenFile(context_.incoming_folder + "/upload-" + context_.instance + "-" +
               std::to_string(session_.id) + ".part",
           O_CREAT | O_EXCL, 0);
  name_ = name;
  size_ = 0;
  expected_sha_.clear();
  packets_ = 0;
  started_ = Now();
  context_.metrics.uploads_started.Add();
  session_.Log("recebendo " + name);
}

std::string UploadReceiver::StartResumable(const std::string& file_name, double size,
                                           const std::string& sha256) {
  session_.RequireControl();
  RequireBareFileName(file_name);
  if (!IsSha256Text(sha256)) throw ESessionError(std::string(msg::kSrvUploadDigestInvalid));
  const auto bytes = WholeBytes(size, context_.config.max_upload);
  if (!bytes) throw ESessionError(std::string(msg::kSrvUploadSizeInvalid));
  const ControlData& control = session_.control;
  if (file_name != control.file_name || size != control.size)
    throw ESessionError(std::string(msg::kSrvUploadNotAsControl));
  Leave();
  write_failed_ = false;
  context_.ExpireUploads();

  UploadRecord upload;
  upload.id = NewUploadId();
  upload.file_name = file_name;
  upload.size = *bytes;
  upload.sha256 = sha256;
  upload.form_type = control.form_type;
  upload.form_version = control.form_version;
  upload.client_address = session_.ClientAddress();
  started_ = Now();
  upload.started = FormatDateTime(started_);
  upload.moved = NowSeconds();
  if (!lease_.Take(upload.id, context_.ResumablePath(upload.id), let_go_))
    throw std::runtime_error("upload id reused");
  try {
    OpenFile(context_.ResumablePath(upload.id), O_CREAT | O_EXCL, 0);
    if (!lease_.LockFile()) throw std::runtime_error("upload id reused");
    context_.registry.CreateUpload(upload);
  } catch (...) {
    Discard();
    throw;
  }
  name_ = file_name;
  size_ = 0;
  synced_ = 0;
  expected_sha_ = sha256;
  packets_ = 0;
  context_.metrics.uploads_started.Add();
  session_.Log("recebendo " + file_name + " (envio " + upload.id + ")");
  return upload.id;
}

double UploadReceiver::Resume(const std::string& upload_id) {
  session_.RequireControl();
  if (!IsUploadIdText(upload_id))
    throw ESessionError(msg::Format(msg::kSrvUploadUnknown, {upload_id}));
  Leave();
  write_failed_ = false;
  const ControlData& control = session_.control;
  const int64_t cutoff = NowSeconds() - std::chrono::seconds(context_.config.resume_hours).count();
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
    } else if (upload->file_name != control.file_name ||
               static_cast<double>(upload->size) != control.size) {
      refusal = msg::kSrvUploadNotAsControl;
    }
    if (!refusal.empty()) throw ESessionError(msg::Format(refusal, {upload_id}));
    return *upload;
  };
  context_.ExpireUploads();
  checked(false);
  if (!lease_.Take(upload_id, context_.ResumablePath(upload_id), let_go_))
    throw ESessionError(msg::Format(msg::kSrvUploadInUse, {upload_id}));
  std::optional<UploadRecord> upload;
  try {
    upload = checked(true);
  } catch (...) {
    lease_.Release();
    throw;
  }
  auto refuse = [&](std::string_view message) {
    lease_.Release();
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
    OpenFile(path, 0, held);
    context_.registry.RecordHeld(upload_id, held, NowSeconds());
  } catch (...) {
    file_.reset();
    path_.clear();
    lease_.Release();
    throw;
  }
  name_ = upload->file_name;
  size_ = held;
  synced_ = held;
  expected_sha_ = upload->sha256;
  packets_ = 0;
  started_ = ParseDateTime(upload->started).value_or(Now());
  context_.metrics.resumed_transfers.Add();
  session_.Log("retomando " + name_ + " (envio " + upload_id + ") de " + std::to_string(held));
  return static_cast<double>(held);
}

void UploadReceiver::AcceptPacket(Variant& packet, Variant& byte_count) {
  WritePending();
  ReportWriteFailure();
  if (!file_) throw ESessionError(std::string(msg::kSrvNoUpload));
  const unsigned drop_after = context_.config.fault_drop_after_packets;
  if (drop_after != 0 && packets_ >= drop_after) throw SessionFault{SessionFault::kDrop};
  // A refused packet leaves a hole in the upload, so the upload goes with it: packets pipelined
  // after it must not land where it should have been.
  auto refuse = [&](std::string_view message) {
    Discard();
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
  if (SyncDue()) Sync();
  if (size_ + count > context_.config.max_upload) refuse(msg::kSrvUploadTooLarge);
  // The packet is the request's own and never goes back to the client, so it is taken, not copied.
  pending_ = std::move(bytes);
  pending_count_ = static_cast<size_t>(count);
  size_ += count;
  ++packets_;
}

bool UploadReceiver::Validate() {
  WritePending();
  ReportWriteFailure();
  if (!file_) throw ESessionError(std::string(msg::kSrvNoUpload));
  bool flushed = std::fflush(file_.get()) == 0;
  file_.reset();
  try {
    if (flushed) FlushFile(path_);
  } catch (const EFileReplaceError&) {
    flushed = false;
  }
  std::string reason;
  if (flushed && lease_.held()) {
    // Flushed: all of it is held, so that a session after a lost answer can go straight on.
    context_.registry.RecordHeld(lease_.id(), size_, NowSeconds());
    synced_ = size_;
  }
  const double announced = session_.control.size;
  std::optional<std::string> digest;
  if (!flushed) {
    reason = "erro ao gravar o arquivo";
  } else if (static_cast<double>(size_) != announced) {
    reason = "recebidos " + std::to_string(size_) + " bytes, esperados " + FormatDouble(announced);
  } else if (!(digest = Sha256OfFile(path_))) {
    reason = "erro ao ler o arquivo";
  } else if (!expected_sha_.empty() && *digest != expected_sha_) {
    reason = "SHA-256 " + *digest + ", esperado " + expected_sha_;
  } else {
    sha_ = *digest;
    std::this_thread::sleep_for(context_.config.fault_check_delay);
    valid_ = InspectPackage(path_, context_.config.MaxExpandedBytes(), header_, reason);
  }
  if (!valid_) {
    context_.metrics.uploads_failed.Add();
    session_.Log("arquivo " + name_ + " inválido: " + reason);
    Discard();
    return false;
  }
  session_.Log("arquivo " + name_ + " válido (" + std::to_string(size_) + " bytes)");
  return true;
}

Variant UploadReceiver::ProtocolData(const std::string& number, OleDate finished) const {
  const FormRule* rule = session_.Rule();
  Variant filled = Variant::Array(1, 14);
  filled.At(1) = name_;
  filled.At(2) = session_.ServerAddress();
  filled.At(3) = number;
  filled.At(4) = finished;
  filled.At(5) = header_.request_name;
  filled.At(6) = header_.request_version;
  filled.At(7) = header_.requester_id;
  filled.At(8) = header_.requester_name;
  filled.At(9) = static_cast<int32_t>(size_);
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

void UploadReceiver::Protocolate(Variant& data) {
  const OleDate finished = Now();
  Registration entry;
  entry.operation = 1;
  entry.file_name = name_;
  entry.size = size_;
  entry.form_type = header_.request_type;
  entry.form_name = header_.request_name;
  entry.form_version = header_.request_version;
  entry.requester_id = header_.requester_id;
  entry.requester_name = header_.requester_name;
  entry.agency_id = header_.agency_id;
  entry.client_address = session_.ClientAddress();
  entry.started = FormatDateTime(started_);
  entry.finished = FormatDateTime(finished);
  entry.sha256 = sha_;
  entry.upload_id = lease_.id();

  const int64_t dedup_since = context_.config.dedup_days == 0
                                  ? 0
                                  : NowSeconds() - int64_t{86400} * context_.config.dedup_days;
  Variant filled;
  std::string stored, number;
  bool copied = false;
  const std::optional<EarlierRegistration> earlier = context_.registry.RecordUpload(
      entry, dedup_since, number,
      [&](const std::string& new_number, const std::string& serial) {
        filled = ProtocolData(new_number, finished);
        entry.protocol_data = rpc::wire::EncodeVariant(filled);
        // Named by the serial alone: the client's name (kept in the registry) may be as long as
        // a file name can be, and the prefix may hold anything.
        entry.stored_name = serial + kStoredSuffix;
        stored = context_.store_folder + "/" + entry.stored_name;
        entry.stored_path = stored;
        try {
          MoveIntoStore(path_, stored, copied);
        } catch (const EFileReplaceError& e) {
          // Not recorded, so not stored: a file put in place but not made durable is taken back.
          if (e.step() == EFileReplaceError::Step::kFlushFolder)
            TakeOutOfStore(path_, stored, copied);
          throw ESessionError(std::string(msg::kSrvUploadStoreFailed));
        }
      },
      [&] { TakeOutOfStore(path_, stored, copied); });
  if (copied) {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  if (earlier) {
    // The same bytes are stored under that registration already: this copy goes.
    std::error_code ignored;
    fs::remove(path_, ignored);
    try {
      filled = rpc::wire::DecodeVariant(earlier->protocol_data);
    } catch (const std::exception&) {
      path_.clear();
      valid_ = false;
      lease_.Release();
      throw ESessionError(std::string(msg::kSrvRegistrationUnreadable));
    }
  }
  path_.clear();
  valid_ = false;
  lease_.Release();
  data = std::move(filled);
  context_.metrics.uploads_completed.Add();
  context_.metrics.protocolations.Add();
  if (earlier) context_.metrics.deduplicated_sends.Add();
  session_.Log("protocolo " + number + " para " + name_ + (earlier ? " (já registrado)" : ""));
}

}  // namespace vorncom::server
