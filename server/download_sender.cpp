#include "server/download_sender.h"

#include <filesystem>
#include <utility>

#include "common/messages.h"

namespace vorncom::server {

namespace fs = std::filesystem;

int32_t DownloadSender::Open(const std::string& name, const Variant& client_info) {
  file_.reset();
  started_ = false;
  const std::string path = context_.download_folder + "/" + name;
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) {
    session_.Log("download de " + name + ": não encontrado");
    return 0;
  }
  const auto size = fs::file_size(path, ec);
  if (ec || size > static_cast<uintmax_t>(INT32_MAX))
    throw ESessionError(msg::Format(msg::kSrvDownloadRefused, {name}));
  file_.reset(std::fopen(path.c_str(), "rb"));
  if (!file_) throw ESessionError(msg::Format(msg::kSrvDownloadNotOpened, {name}));
  name_ = name;
  size_ = static_cast<int64_t>(size);
  client_info_ = client_info;
  opened_ = Now();
  started_ = size > 0;
  read_ = false;
  session_.Log("download de " + name + " (" + std::to_string(size) + " bytes)");
  return static_cast<int32_t>(size);
}

int32_t DownloadSender::NextPacket(Variant& packet) {
  if (!file_) throw ESessionError(std::string(msg::kSrvNoDownload));
  read_ = true;
  ByteArray buffer = packet.IsBytes() ? std::move(packet.AsBytes()) : ByteArray{1, {}};
  const size_t limit = static_cast<size_t>(context_.config.packet_size);
  if (buffer.bytes.size() < limit) buffer.bytes.resize(limit);
  const size_t n = std::fread(buffer.bytes.data(), 1, limit, file_.get());
  if (n < limit) {
    if (std::ferror(file_.get())) throw ESessionError(std::string(msg::kSrvDownloadReadFailed));
    file_.reset();
  }
  packet = std::move(buffer);
  return static_cast<int32_t>(n);
}

void DownloadSender::Resume(double offset) {
  if (!file_) throw ESessionError(std::string(msg::kSrvNoDownload));
  if (read_) throw ESessionError(std::string(msg::kSrvDownloadAlreadyRead));
  const auto start = WholeBytes(offset, size_);
  if (!start || ::fseeko(file_.get(), static_cast<off_t>(*start), SEEK_SET) != 0)
    throw ESessionError(std::string(msg::kSrvDownloadOffsetInvalid));
  context_.metrics.resumed_transfers.Add();
  session_.Log("download de " + name_ + " retomado de " + std::to_string(*start));
}

void DownloadSender::Erase(const std::string& name) {
  if (name == name_) file_.reset();
  std::error_code ec;
  if (!fs::remove(context_.download_folder + "/" + name, ec))
    throw ESessionError(msg::Format(msg::kSrvEraseFailed, {name}));
  session_.Log("apagado " + name);
}

void DownloadSender::Protocolate(Variant& data) {
  const OleDate finished = Now();
  Registration entry;
  entry.operation = 0;
  entry.file_name = name_;
  entry.size = size_;
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
  entry.client_address = session_.ClientAddress();
  entry.started = FormatDateTime(opened_);
  entry.finished = FormatDateTime(finished);
  const std::string number = context_.registry.Record(
      entry, [](const std::string&, const std::string&) {}, [] {});
  started_ = false;

  // The array is the client information the library reads afterwards (elements 5, 6, 7, 9, 11
  // and the erase flag 14): only the four protocol elements are filled in.
  if (!data.IsArray() || data.LowerBound() != 1 || data.UpperBound() < 4) {
    Variant fresh = Variant::Array(1, 14);
    if (data.IsArray())
      for (int32_t i = 1; i <= 14; ++i)
        if (i >= data.LowerBound() && i <= data.UpperBound()) fresh.At(i) = data.At(i);
    data = std::move(fresh);
  }
  data.At(1) = name_;
  data.At(2) = session_.ServerAddress();
  data.At(3) = number;
  data.At(4) = finished;
  context_.metrics.protocolations.Add();
  session_.Log("protocolo " + number + " para o download de " + name_);
}

}  // namespace vorncom::server
