#pragma once

namespace vorncom::testing {

// Makes one fsync of the code under test fail, as a disk that cannot take the data would. Tests
// that use it link vorncom_failing_fsync, which routes the binary's own fsync calls through this
// seam (-Wl,--wrap=fsync); shared libraries such as SQLite are not affected. One at a time.
class FsyncFailure {
 public:
  // The `nth` fsync from now on (1: the next) answers -1 with errno `error`; the others run.
  FsyncFailure(int nth, int error);
  ~FsyncFailure();
  FsyncFailure(const FsyncFailure&) = delete;
  FsyncFailure& operator=(const FsyncFailure&) = delete;

  // The fsync calls made while armed.
  int calls() const;
};

}  // namespace vorncom::testing
