#include "rpc/reception_server.h"

#include "common/messages.h"
#include "rpc/errors.h"

namespace vorncom::rpc {

Variant BuildControlPacket(const std::string& form_type, const std::string& form_version,
                           const std::string& file_name, double file_size, Operation operation,
                           const std::string& local_address) {
  Variant packet = Variant::Array(1, 6);
  packet.At(1) = form_type;
  packet.At(2) = form_version;
  packet.At(3) = file_name;
  packet.At(4) = file_size;
  packet.At(5) = static_cast<int32_t>(operation);
  packet.At(6) = local_address;
  return packet;
}

namespace {

[[noreturn]] void NotInVersionOne(std::string_view method) {
  throw EServerError(msg::Format(msg::kUnknownMethod, {method}));
}

}  // namespace

std::string ReceptionServer::StartUpload(const std::string&, double, const std::string&) {
  NotInVersionOne("StartUpload");
}

double ReceptionServer::ResumeUpload(const std::string&) { NotInVersionOne("ResumeUpload"); }

std::optional<Variant> ReceptionServer::FindRegistration(const std::string&, const std::string&,
                                                         double, const std::string&) {
  NotInVersionOne("FindRegistration");
}

void ReceptionServer::ResumeDownload(double) { NotInVersionOne("ResumeDownload"); }

void ReceptionServer::PostDataPacket(const Variant& packet, int32_t byte_count) {
  PostedCall call;
  try {
    Variant bytes = packet;
    Variant count(byte_count);
    SendDataPacket(bytes, count);
  } catch (...) {
    call.failure = std::current_exception();
  }
  posted_.push_back(std::move(call));
}

void ReceptionServer::CollectDataPacket() {
  if (posted_.empty()) throw EWireError(std::string(msg::kUnexpectedFrame));
  PostedCall call = std::move(posted_.front());
  posted_.pop_front();
  if (call.failure) std::rethrow_exception(call.failure);
}

void ReceptionServer::PostGetDataPacket(int32_t packet_size) {
  PostedCall call;
  try {
    ByteArray buffer;
    buffer.lower_bound = 1;
    buffer.bytes.resize(static_cast<size_t>(packet_size > 0 ? packet_size : 0));
    call.packet = Variant(std::move(buffer));
    call.count = GetDataPacket(call.packet);
  } catch (...) {
    call.failure = std::current_exception();
  }
  posted_.push_back(std::move(call));
}

int32_t ReceptionServer::CollectGetDataPacket(Variant& packet) {
  if (posted_.empty()) throw EWireError(std::string(msg::kUnexpectedFrame));
  PostedCall call = std::move(posted_.front());
  posted_.pop_front();
  if (call.failure) std::rethrow_exception(call.failure);
  packet = std::move(call.packet);
  return call.count;
}

bool IsAvailableStatus(int32_t status) { return status == 5 || status == 6 || status == 9; }

}  // namespace vorncom::rpc
