#pragma once

#include <chrono>
#include <memory>
#include <utility>

#include "server/metrics.h"
#include "server/registry.h"

namespace vorncom::server {

// A registry whose every call is timed into `latency` (seconds), failed calls included.
class MeasuredRegistry final : public Registry {
  template <typename Call>
  auto Timed(Call&& call) {
    struct Stopwatch {
      Histogram& latency;
      std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
      ~Stopwatch() {
        latency.Observe(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      }
    } stopwatch{latency_};
    return call();
  }

 public:
  MeasuredRegistry(std::unique_ptr<Registry> inner, Histogram& latency)
      : inner_(std::move(inner)), latency_(latency) {}

  std::string Record(Registration& entry, const CommitFiles& commit_files,
                     const UndoFiles& undo_files) override {
    return Timed([&] { return inner_->Record(entry, commit_files, undo_files); });
  }
  std::optional<EarlierRegistration> RecordUpload(Registration& entry, int64_t dedup_since,
                                                  std::string& number,
                                                  const CommitFiles& commit_files,
                                                  const UndoFiles& undo_files) override {
    return Timed(
        [&] { return inner_->RecordUpload(entry, dedup_since, number, commit_files, undo_files); });
  }
  std::optional<EarlierRegistration> FindRegistration(const std::string& upload_id,
                                                      const std::string& sha256, int64_t size,
                                                      const std::string& file_name,
                                                      int64_t since) override {
    return Timed(
        [&] { return inner_->FindRegistration(upload_id, sha256, size, file_name, since); });
  }
  void CreateUpload(const UploadRecord& upload) override {
    Timed([&] { inner_->CreateUpload(upload); });
  }
  std::optional<UploadRecord> FindUpload(const std::string& id) override {
    return Timed([&] { return inner_->FindUpload(id); });
  }
  void RecordHeld(const std::string& id, int64_t held, int64_t now) override {
    Timed([&] { inner_->RecordHeld(id, held, now); });
  }
  void ExpireUpload(const std::string& id) override {
    Timed([&] { inner_->ExpireUpload(id); });
  }
  std::vector<UploadRecord> OpenUploads(int64_t moved_before) override {
    return Timed([&] { return inner_->OpenUploads(moved_before); });
  }
  int64_t Count() override {
    return Timed([&] { return inner_->Count(); });
  }
  bool HasStoredName(const std::string& name) override {
    return Timed([&] { return inner_->HasStoredName(name); });
  }
  bool Shared() const override { return inner_->Shared(); }
  std::optional<std::string> CheckReachable() override { return inner_->CheckReachable(); }

 private:
  std::unique_ptr<Registry> inner_;
  Histogram& latency_;
};

}  // namespace vorncom::server
