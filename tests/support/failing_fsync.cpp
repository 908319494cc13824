#include "support/failing_fsync.h"

#include <cerrno>

#include <atomic>

extern "C" int __real_fsync(int fd);

namespace {

std::atomic<bool> armed{false};
std::atomic<int> fsync_calls{0};
int failing_call = 0;
int failing_error = 0;

}  // namespace

extern "C" int __wrap_fsync(int fd) {
  if (armed && ++fsync_calls == failing_call) {
    errno = failing_error;
    return -1;
  }
  return __real_fsync(fd);
}

namespace vorncom::testing {

FsyncFailure::FsyncFailure(int nth, int error) {
  failing_call = nth;
  failing_error = error;
  fsync_calls = 0;
  armed = true;
}

FsyncFailure::~FsyncFailure() { armed = false; }

int FsyncFailure::calls() const { return fsync_calls; }

}  // namespace vorncom::testing
