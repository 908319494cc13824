#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/message_dialog.h"
#include "common/result_code.h"
#include "common/variant.h"

namespace vorncom::package {

// What the question "was this package already sent?" comes to. The caller applies it to the
// library state and shows the message; nothing here touches either.
struct FileSentOutcome {
  struct Message {
    MessageKind kind;
    std::string text;
  };

  // kAlreadySent (record read), kNotSent (also no package at all), or the failure: work folder
  // (16), record not extractable (19), package not searchable (20), record unreadable (21).
  ResultCode result_code = ResultCode::kNotSent;
  // The new value of PackageSent, when the search got that far.
  std::optional<bool> package_sent;
  // Whether SentStateKnown is to be set (the check ran to its end).
  bool sent_state_known = false;
  // The error to show, if any.
  std::optional<Message> message;
  // ProtocolData as the record left it (elements 1-8 and 14 replaced), when one was read, also
  // partly.
  std::optional<Variant> protocol_data;
};

// Checks whether the package at `package_path` holds a protocol record and, when it does, reads
// it into a copy of `protocol_data`. An archive failure other than a work-folder, search or
// extraction failure (which cannot normally happen) is answered like a search failure (20). A
// file that is no archive answers 4 without a message and leaves SentStateKnown alone.
FileSentOutcome CheckFileSent(const std::string& package_path, const Variant& protocol_data);
// The same with the given work folder (ending with '/').
FileSentOutcome CheckFileSent(const std::string& package_path, const Variant& protocol_data,
                              const std::string& work_folder);

}  // namespace vorncom::package
