#pragma once

#include "common/exception.h"

namespace vorncom::rpc {

// Every failure of a remote call derives from ERemoteCallError and carries a message text that can
// be shown to the user as the detail of a transfer error.
VORNCOM_EXCEPTION(ERemoteCallError);

// The connection could not be opened, broke, or timed out; the connection is closed.
class EConnectionError : public ERemoteCallError {
 public:
  using ERemoteCallError::ERemoteCallError;
};

// A deadline passed while connecting, sending or waiting for a reply; the connection is closed.
class ETimeoutError : public EConnectionError {
 public:
  using EConnectionError::EConnectionError;
};

// The secure channel (TLS) could not be made or was refused: an untrusted, expired or wrongly
// named certificate, a peer that does not speak TLS, a refused client certificate, an unusable
// local policy. The message is the reason alone, in words for the user.
class ESecureConnectionError : public EConnectionError {
 public:
  using EConnectionError::EConnectionError;
};

// The peer broke the wire protocol (bad frame, bad value, wrong sequence number, version
// mismatch); the connection is closed.
class EWireError : public ERemoteCallError {
 public:
  using ERemoteCallError::ERemoteCallError;
};

// The server ran the call and reported a failure; the connection stays usable.
class EServerError : public ERemoteCallError {
 public:
  using ERemoteCallError::ERemoteCallError;
};

// The broker has no enabled server left to choose.
class ENoServerAvailable : public ERemoteCallError {
 public:
  using ERemoteCallError::ERemoteCallError;
};

}  // namespace vorncom::rpc
