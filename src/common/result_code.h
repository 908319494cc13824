#pragma once

#include <cstdint>

namespace vorncom {

// The byte SendFile, FileSent, GetFile and GetFormStatus return. Hosts compare the numbers, so a
// value never changes meaning; docs/host-integration.md lists them by these names. 14 is never
// returned.
enum class ResultCode : uint8_t {
  kSuccess = 0,                   // done
  kTransferFailed = 1,            // a packet, the start of the transfer or the local file failed
  kCancelled = 2,                 // the user cancelled during the data transfer
  kAlreadySent = 3,               // the package holds a readable protocol record
  kNotSent = 4,                   // the package holds no protocol record (or is no package)
  kServerNotSending = 5,          // the server gives no files now (download)
  kServerNotReceiving = 6,        // the server takes no files now (send)
  kFileMissing = 7,               // the package to send does not exist, or the download is empty
  kNoConnection = 8,              // no server could be reached
  kNotAcceptingConnections = 9,   // the server refuses connections
  kPackageInvalid = 10,           // origin tag or a required header key wrong; no message
  kTransferredFileInvalid = 11,   // the server's check or the download's size failed
  kRemoteProtocolFailed = 12,     // the server could not protocol the transfer
  kLocalProtocolFailed = 13,      // the protocol record could not be written into the package
  kFormNotServed = 15,            // the server does not take or give this form (status 7 or 8)
  kWorkFolderFailed = 16,         // the temporary work folder could not be created
  kHeaderNotExtracted = 17,       // header.cfg could not be extracted for validation
  kHeaderNotProcessed = 18,       // the package holds no header.cfg to validate
  kProtocolNotExtracted = 19,     // protocolo.rec could not be extracted in the resend check
  kProtocolNotSearched = 20,      // the package could not be searched in the resend check
  kProtocolUnreadable = 21,       // sent, but the protocol record cannot be read
  kServerSettingsNotLoaded = 22,  // the server definition or list could not be loaded
  kConfigurationNotUpdated = 23,  // the server list could not be refreshed from the server
  kNoFreeSpace = 24,              // under 1024 bytes free where the receipt must be written
  kUnexpectedFailure = 25,        // a failure no step expected ended the call
  kNoSocketSupport = 26,          // the platform offers no usable sockets
  kNoServerDefinition = 27,       // neither a server with a port nor a configuration file
  kClientInfoInvalid = 28,        // the download's client information is no 14-element array
  kFormIdentityEmpty = 29,        // the status query's form type or version is blank
  kServerCongested = 30,          // the server is too busy now
  kFormNotServedNow = 31,         // the server does not take or give this form (status 11)
  kFormStatusUnknown = 32,        // the status query could not learn the form's status
  kFormAvailabilityUnknown = 33,  // a transfer's form availability is unknown (status 12)
};

constexpr uint8_t ToByte(ResultCode code) { return static_cast<uint8_t>(code); }

}  // namespace vorncom
