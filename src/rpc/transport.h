#pragma once

#include <sys/uio.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "rpc/transport_policy.h"

namespace vorncom::rpc {

// The byte stream under a connection's frames: plain TCP or TLS over a connected socket, which
// it owns and closes. Non-blocking: each call does what can be done at once and otherwise names
// the socket event to wait for; the caller keeps the deadlines. Throws ESecureConnectionError
// when the secure channel fails (the text names why); other socket errors come back as errno.
class Transport {
 public:
  enum class Wait { kNone, kRead, kWrite };
  struct Progress {
    size_t bytes = 0;
    Wait wait = Wait::kNone;  // when bytes is 0: the event to wait for before calling again
    int error = 0;            // errno of a failed socket call
    bool closed = false;      // Receive: the peer ended the stream
  };

  explicit Transport(int fd) : fd_(fd) {}
  virtual ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  int fd() const { return fd_; }
  // Sends a prefix of `parts`. After a wait, call again with the same unsent parts.
  virtual Progress Send(std::span<const iovec> parts) = 0;
  virtual Progress Receive(std::span<uint8_t> into) = 0;
  // True when Receive has bytes without the socket being readable (decrypted and held).
  virtual bool HasBuffered() const { return false; }
  // The negotiated protocol ("TLSv1.3", "TLSv1.2"), empty for plain TCP.
  virtual std::string Protocol() const { return ""; }

 private:
  int fd_;
};

std::unique_ptr<Transport> MakePlainTransport(int fd);

// Waits until `fd` is ready for `wait`; false when `deadline` passes first. An error on the
// socket counts as ready: the next call on it reports the error.
bool WaitForSocket(int fd, Transport::Wait wait, std::chrono::steady_clock::time_point deadline);
// Waits until one of the poll(2) `events` is ready on `fd`; returns the ready ones (errors and
// hang-ups included), 0 when `deadline` passes first.
short PollSocket(int fd, short events, std::chrono::steady_clock::time_point deadline);

// Runs the TLS handshake on the connected socket `fd` (taken over in any case) as `policy` says:
// TLS 1.2 at least, the server's certificate verified against the trusted CAs and `peer_name`,
// the name or numeric address that was dialled (`numeric`), with SNI for names. Returns nullptr
// when `deadline` passes first. Throws ESecureConnectionError naming the reason of a failure.
std::unique_ptr<Transport> MakeTlsTransport(int fd, const TransportPolicy& policy,
                                            const std::string& peer_name, bool numeric,
                                            std::chrono::steady_clock::time_point deadline);

// True when `bytes` begin like a TLS record (handshake or alert): what a plain client gets from
// a TLS server.
bool LooksLikeTlsRecord(std::span<const uint8_t> bytes);

}  // namespace vorncom::rpc
