#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <optional>
#include <string>

#include "common/variant.h"

namespace vorncom::rpc {

// The remote object every reception server exposes.
inline constexpr char kServerGUID[] = "{79F2A787-1D84-11D2-BFA2-00A02482C8F1}";
inline constexpr char kServerName[] = "VornCOMServer.fVornComRdmServer";

// Operation codes of the control packet.
enum class Operation : uint8_t { kReceive = 0, kSend = 1, kStatusQuery = 5 };

// The twelve calls of a reception server. Arguments taken as `Variant&` are by reference: the
// server may replace them and the caller sees the new value. Failures are exceptions with a
// message text (ERemoteCallError and its family when the calls go over the wire).
class ReceptionServer {
 public:
  virtual ~ReceptionServer() = default;

  // True when connections are accepted; `busy` becomes true when the server is congested.
  virtual bool AcceptingConnections(Variant& busy) = 0;
  // `packet`: the control packet of BuildControlPacket.
  virtual void SendControlPacket(const Variant& packet) = 0;
  // A status code (see IsAvailableStatus); `packet_size` becomes the packet size of every
  // transfer loop.
  virtual int32_t CheckServerStatus(Variant& packet_size) = 0;
  // True when `server_list` now holds a new list as server-list bytes (lower bound 1).
  virtual bool ReplicateClientCfgFile(Variant& server_list) = 0;
  // Starts an upload of the file named without directory.
  virtual void SendFile(const Variant& file_name) = 0;
  // Appends the first `byte_count` bytes of `packet` to the upload.
  virtual void SendDataPacket(Variant& packet, Variant& byte_count) = 0;
  // Ends the upload; true when the uploaded file is valid. `zero` is the integer 0.
  virtual bool ValidFile(const Variant& zero) = 0;
  // Fills the 14-element array (bounds 1..14) with the protocol data of the transmission.
  virtual void Protocolate(Variant& protocol_data) = 0;
  // Starts a download; the file's size in bytes, 0 when there is nothing to fetch.
  virtual int32_t GetFile(Variant& file_name, Variant& client_info) = 0;
  // Fills `packet` with the next bytes; the number of valid bytes, below 1 at the end.
  virtual int32_t GetDataPacket(Variant& packet) = 0;
  // Deletes the server's copy of the file.
  virtual void EraseFile(Variant& file_name) = 0;
  // The status of the form named in the control packet, 0..255.
  virtual int32_t CheckFormStatus() = 0;

  // --- Protocol version 2 (docs/wire-protocol.md, section 9) ---
  // A server of version 1 takes none of the calls below except the packet pipeline, which it
  // runs one call at a time (the defaults here); the others then throw EServerError.

  // The version the session speaks: 1, or 2 when the calls below reach the server.
  virtual int ProtocolVersion() const { return 1; }
  // The time the hello took to be answered, the link's round trip as the session first saw it;
  // zero when unknown.
  virtual std::chrono::nanoseconds RoundTrip() const { return {}; }

  // Starts a resumable upload of `file_name` (without directory), of `size` bytes whose SHA-256
  // is `sha256` (64 lowercase hex digits). Returns the upload id the server issued.
  virtual std::string StartUpload(const std::string& file_name, double size,
                                  const std::string& sha256);
  // Takes up the upload `upload_id` again; returns how many of its bytes the server holds, from
  // which the upload continues.
  virtual double ResumeUpload(const std::string& upload_id);
  // The protocol data (bounds 1..14) of the registration of upload `upload_id` (may be empty),
  // or of a package of this SHA-256, size and name; nothing when the server registered neither.
  virtual std::optional<Variant> FindRegistration(const std::string& upload_id,
                                                  const std::string& sha256, double size,
                                                  const std::string& file_name);
  // After GetFile: the next GetDataPacket starts at byte `offset`.
  virtual void ResumeDownload(double offset);

  // The packet pipeline. Post sends a packet call without waiting for its reply (its buffer may
  // be reused once Post returns); Collect waits for the reply of the oldest call posted and
  // throws what the call threw. Calls posted and not collected: Posted(). With version 1 Post
  // runs the call at once and Collect hands over its outcome.
  virtual void PostDataPacket(const Variant& packet, int32_t byte_count);
  virtual void CollectDataPacket();
  // GetDataPacket with a fresh packet buffer of `packet_size` bytes; Collect returns the valid
  // byte count and leaves the packet in `packet`.
  virtual void PostGetDataPacket(int32_t packet_size);
  virtual int32_t CollectGetDataPacket(Variant& packet);
  virtual size_t Posted() const { return posted_.size(); }

 private:
  // Outcomes of packet calls run at Post time, for servers without a pipeline.
  struct PostedCall {
    std::exception_ptr failure;
    Variant packet;
    int32_t count = 0;
  };
  std::deque<PostedCall> posted_;
};

// The control packet: an array with bounds 1..6 holding form type, form version, file name
// without directory, file size (always a double), operation code and the client's IP address.
Variant BuildControlPacket(const std::string& form_type, const std::string& form_version,
                           const std::string& file_name, double file_size, Operation operation,
                           const std::string& local_address);

// True for the CheckServerStatus results that mean the server will serve the operation (5, 6, 9
// for sending, receiving and a status query). The other statuses are refusals: 1 takes no files,
// 2 sends no files, 7 and 8 do not take or give the form, 10 to 12 other refusals.
bool IsAvailableStatus(int32_t status);

}  // namespace vorncom::rpc
