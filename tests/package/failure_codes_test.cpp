#include "package/failure_codes.h"

#include <gtest/gtest.h>

#include <new>

#include "archive/errors.h"
#include "package/protocol_manager.h"
#include "package/validation_manager.h"

namespace vorncom::package {
namespace {

TEST(FailureCodesTest, EachStepTranslatesItsFamilies) {
  const ECreateDirectoryError folder("folder");
  const EExpandFileError expand("expand");
  const ERenameFileError no_header("no header");
  const ECompressSearchError search("search");
  const EProtocolError protocol("protocol");
  const archive::EInvalidHeader no_archive{std::string(archive::messages::kInvalidHeader)};
  const std::bad_alloc no_memory;
  const std::runtime_error other("other");
  using S = FailedStep;
  using R = ResultCode;
  const struct {
    S step;
    const std::exception& failure;
    R code;
  } rows[] = {
      {S::kUnexpected, folder, R::kUnexpectedFailure},
      {S::kUnexpected, protocol, R::kUnexpectedFailure},
      {S::kUnexpected, no_memory, R::kUnexpectedFailure},
      {S::kHeaderCheck, folder, R::kWorkFolderFailed},
      {S::kHeaderCheck, expand, R::kHeaderNotExtracted},
      {S::kHeaderCheck, no_header, R::kHeaderNotProcessed},
      {S::kHeaderCheck, search, R::kUnexpectedFailure},
      {S::kResendCheck, folder, R::kWorkFolderFailed},
      {S::kResendCheck, expand, R::kProtocolNotExtracted},
      {S::kResendCheck, no_archive, R::kNotSent},
      {S::kResendCheck, search, R::kProtocolNotSearched},
      {S::kResendCheck, other, R::kProtocolNotSearched},
      {S::kLocalProtocolation, protocol, R::kLocalProtocolFailed},
      {S::kLocalProtocolation, expand, R::kUnexpectedFailure},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ToByte(ResultCodeFor(row.failure, row.step)), ToByte(row.code))
        << static_cast<int>(row.step) << " " << row.failure.what();
  }
}

}  // namespace
}  // namespace vorncom::package
