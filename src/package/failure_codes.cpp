#include "package/failure_codes.h"

#include "archive/errors.h"
#include "package/protocol_manager.h"
#include "package/validation_manager.h"

namespace vorncom::package {
namespace {

template <typename Family>
bool Is(const std::exception& failure) {
  return dynamic_cast<const Family*>(&failure) != nullptr;
}

}  // namespace

ResultCode ResultCodeFor(const std::exception& failure, FailedStep step) {
  switch (step) {
    case FailedStep::kHeaderCheck:
      if (Is<ECreateDirectoryError>(failure)) return ResultCode::kWorkFolderFailed;
      if (Is<EExpandFileError>(failure)) return ResultCode::kHeaderNotExtracted;
      if (Is<ERenameFileError>(failure)) return ResultCode::kHeaderNotProcessed;
      break;
    case FailedStep::kResendCheck:
      if (Is<ECreateDirectoryError>(failure)) return ResultCode::kWorkFolderFailed;
      if (Is<EExpandFileError>(failure)) return ResultCode::kProtocolNotExtracted;
      // A file that is no archive at all holds no record: that is an answer, not a failure.
      if (Is<archive::EInvalidHeader>(failure)) return ResultCode::kNotSent;
      return ResultCode::kProtocolNotSearched;
    case FailedStep::kLocalProtocolation:
      if (Is<EProtocolError>(failure)) return ResultCode::kLocalProtocolFailed;
      break;
    case FailedStep::kUnexpected:
      break;
  }
  return ResultCode::kUnexpectedFailure;
}

}  // namespace vorncom::package
