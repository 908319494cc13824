#include "terminal_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace vornpkg {
namespace {

constexpr auto kQuietTime = std::chrono::milliseconds(300);
constexpr int kBarWidth = 30;

}  // namespace

TerminalProgress::TerminalProgress() : enabled_(::isatty(STDERR_FILENO) == 1) {}

void TerminalProgress::Begin(const std::string& name) {
  name_ = name;
  drawn_ = false;
  start_ = std::chrono::steady_clock::now();
}

void TerminalProgress::Update(int percent) {
  if (!enabled_) return;
  if (percent == 0) start_ = std::chrono::steady_clock::now();
  if (!drawn_ && (percent >= 100 || std::chrono::steady_clock::now() - start_ < kQuietTime)) return;
  Draw(percent);
  if (percent >= 100) {
    std::fputc('\n', stderr);
    drawn_ = false;
  }
}

void TerminalProgress::Draw(int percent) {
  percent = std::clamp(percent, 0, 100);
  const int filled = percent * kBarWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '.');
  std::fprintf(stderr, "\r%-32.32s [%s] %3d%%", name_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace vornpkg
