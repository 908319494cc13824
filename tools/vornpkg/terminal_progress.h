#pragma once

// A one-line progress bar on stderr for entries that take a while. Nothing is drawn when stderr
// is not a terminal, nor for entries that finish within a fraction of a second.

#include <chrono>
#include <string>

namespace vornpkg {

class TerminalProgress {
 public:
  TerminalProgress();
  // Starts a new entry.
  void Begin(const std::string& name);
  // The archiver's percentage handler.
  void Update(int percent);

 private:
  void Draw(int percent);

  bool enabled_;
  bool drawn_ = false;
  std::string name_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace vornpkg
