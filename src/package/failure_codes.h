#pragma once

#include <exception>

#include "common/result_code.h"

namespace vorncom::package {

// Where a failure was caught: one family means different codes in different steps (an
// extraction failure is 17 while validating the header, 19 in the resend check).
enum class FailedStep {
  kUnexpected,          // escaped the step that ran it: an export's guard, a flow's last catch
  kHeaderCheck,         // extracting and reading header.cfg before a send
  kResendCheck,         // looking for protocolo.rec (FileSent, and a send's first step)
  kLocalProtocolation,  // writing the protocol record into the package
};

// The one translation from exception family to result code. A family a step does not expect
// gives that step's fallback: 20 in the resend check, 25 everywhere else.
ResultCode ResultCodeFor(const std::exception& failure, FailedStep step);

}  // namespace vorncom::package
