#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "common/environment.h"
#include "common/message_dialog.h"
#include "package/file_sent.h"
#include "package/package_fixture.h"
#include "rpc/server_list.h"
#include "server/server_fixture.h"
#include "support/scripted_presenter.h"
#include "transfer/transfer_context.h"
#include "transfer/transfer_session.h"
#include "transfer/transfer_view.h"

namespace vorncom::transfer {

// The whole content of a file, empty when it cannot be read.
inline std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A hidden view that keeps what the flows showed and lets a test act between packets.
class RecordingView : public HiddenView {
 public:
  void SetStatus(const std::string& text) override {
    HiddenView::SetStatus(text);
    if (!text.empty()) statuses.push_back(text);
  }
  void SetProgress(int32_t done, int32_t, int percent) override {
    if (done > 0) progress.push_back(done);
    last_percent = percent;
    if (done > 0 && on_packet) on_packet();
  }
  void EnableReceipt(bool enabled) override { receipt_enabled = enabled; }
  void SetRemainingTime(const std::string& text) override { remaining_time = text; }
  void SetRate(const std::string& text) override { rate = text; }
  std::vector<std::string> statuses;
  std::string remaining_time, rate;
  std::vector<int32_t> progress;
  int last_percent = 0;
  bool receipt_enabled = false;
  std::function<void()> on_packet;
};

// A transfer context over a temporary host folder, real packages, and reception servers in
// process. FileSent is the package layer's own check; receipts are counted.
class TransferFixture : public package::PackageFixture {
 protected:
  void SetUp() override {
    setenv("VORNCOM_BASE_DIR", dir_.path().c_str(), 1);
    setenv("VORNCOM_REGISTRY", (dir_ / "registry").c_str(), 1);
    env::InitializeFolders();
    std::filesystem::create_directories(env::ConfigFolder());
    context = TransferContext{};
    context.settings.institution_name = "o Vorn";
    context.settings.config_file = env::ConfigFolder() + "zedidodad-Vorn.cfg";
    context.results.protocol_data = Variant::Array(1, 14);
    context.file_sent = [](const std::string& package, Variant& protocol_data) {
      package::FileSentOutcome outcome = package::CheckFileSent(package, protocol_data);
      if (outcome.protocol_data) protocol_data = std::move(*outcome.protocol_data);
      if (outcome.message)
        MostrarMensagem(outcome.message->text, outcome.message->kind, buttons::kOk);
      return outcome.result_code;
    };
    receipts = 0;
    context.show_receipt = [](const Variant&) { ++receipts; };
  }
  void TearDown() override {
    unsetenv("VORNCOM_BASE_DIR");
    unsetenv("VORNCOM_REGISTRY");
    env::InitializeFolders();
  }

  static std::string RandomBytes(size_t size, uint32_t seed = 7) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return s;
  }

  // A package that passes the sending-side check; its form is DEC 1.0 "Declaração".
  std::string SendablePackage(const std::string& name, size_t data_size) {
    return MakePackage(name, {{"header.cfg", Header(name)}, {"dados.dat", RandomBytes(data_size)}});
  }

  void UseFixedServer(uint16_t port) {
    TransferSettings& s = context.settings;
    s.server_name = "127.0.0.1";
    s.server_port = port;
    s.fixed_server = true;
  }

  // A client configuration file listing `servers`, made the library's.
  std::string UseServerList(const std::vector<rpc::ServerItem>& servers) {
    const std::vector<uint8_t> bytes = rpc::EncodeServerList(servers);
    const std::string path = dir_.Write("servidores.cfg", std::string(bytes.begin(), bytes.end()));
    TransferSettings& s = context.settings;
    s.config_file = path;
    s.fixed_server = false;
    s.server_name.clear();
    s.server_port = 0;
    return path;
  }

  uint8_t Send(const std::string& package, RecordingView& view, bool close_after_send = true) {
    TransferSession session(view, context, server_factory);
    session.SetFallBackBudget(fall_back_budget);
    TransferRequest request;
    request.operation = TransferRequest::Operation::kSend;
    request.file_name = package;
    request.close_after_send = close_after_send;
    session.SetRequest(request);
    if (view.on_packet == nullptr) {
      session.Start();
    } else {
      // Cancel hooks reach the session through the view.
      cancel_target = &session;
      session.Start();
      cancel_target = nullptr;
    }
    return ToByte(session.result_code());
  }

  // The status query of form DEC 1.0, as GetFormStatus runs it: without showing the window.
  uint8_t Query(uint8_t& status) {
    HiddenView view;
    TransferSession session(view, context, server_factory);
    TransferRequest request;
    request.operation = TransferRequest::Operation::kStatus;
    request.form_type = "DEC";
    request.form_version = "1.0";
    session.SetRequest(request);
    return ToByte(session.RunStatusQuery(&status));
  }

  static Variant ClientInfo(bool erase) {
    Variant info = Variant::Array(1, 14);
    info.At(5) = "DEC";
    info.At(6) = "Declaração";
    info.At(7) = "1.0";
    info.At(9) = "123.456.789-00";
    info.At(11) = "José da Silva";
    info.At(14) = erase;
    return info;
  }

  uint8_t Receive(const std::string& name, bool erase, RecordingView& view) {
    TransferSession session(view, context, server_factory);
    TransferRequest request;
    request.operation = TransferRequest::Operation::kReceive;
    request.file_name = name;
    request.client_info = ClientInfo(erase);
    session.SetRequest(request);
    cancel_target = &session;
    session.Start();
    cancel_target = nullptr;
    return ToByte(session.result_code());
  }

  // A loopback port nobody listens on.
  static uint16_t ClosedPort() {
    testing::TestServer server;
    const uint16_t port = server.port();
    server.Stop();
    return port;
  }

  // FileSent as the send runs it, on the protocol data the context holds.
  uint8_t FileSent(const std::string& package) {
    return ToByte(context.file_sent(package, context.results.protocol_data));
  }

  TransferContext context;
  // Makes the server of each connection; tests wrap the real one to fail at a chosen call.
  ServerFactory server_factory = RemoteServerFactory();
  static inline int receipts = 0;
  TransferSession* cancel_target = nullptr;
  std::chrono::milliseconds fall_back_budget = kFallBackBudget;
  testing::ScopedPresenter messages_;
};

}  // namespace vorncom::transfer
