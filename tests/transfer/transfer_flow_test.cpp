#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archive/package_routines.h"
#include "interface/operations.h"
#include "support/test_pki.h"
#include "transfer_test_support.h"

namespace vorncom::transfer {
namespace {

namespace fs = std::filesystem;
using testing::TestServer;

class SendTest : public TransferFixture {};

TEST_F(SendTest, FullSendStampsThePackageAndRefreshesTheServerList) {
  TestServer server("packet_size = 1000\nserver = 127.0.0.1 | 4321\n");
  const std::string config = UseServerList({{"127.0.0.1", server.port(), true}});
  const std::string package = SendablePackage("Declaração.zlk", 5000);
  const auto sent_bytes = Slurp(package);
  RecordingView view;

  ASSERT_EQ(Send(package, view), 0) << (messages_->shown.empty() ? "" : messages_->shown[0].text);

  EXPECT_TRUE(messages_->shown.empty());
  EXPECT_TRUE(view.closed);  // close-after-send: no receipt
  EXPECT_EQ(receipts, 0);
  EXPECT_TRUE(view.receipt_enabled);
  ASSERT_EQ(server.StoredFiles().size(), 1u);
  EXPECT_EQ(Slurp(server.StoredFiles()[0].string()), sent_bytes);  // the upload is the package
  // The package now holds the server's protocol record.
  const TransferResults& s = context.results;
  EXPECT_EQ(s.last_host, "127.0.0.1");
  EXPECT_EQ(s.last_port, server.port());
  const std::string protocol = s.protocol_data.At(3).ToString();
  EXPECT_FALSE(protocol.empty());
  EXPECT_TRUE(archive::PackageHasEntry(package, "protocolo.rec"));
  context.results.protocol_data = Variant::Array(1, 14);
  EXPECT_EQ(FileSent(package), 3);
  EXPECT_EQ(context.results.protocol_data.At(3).ToString(), protocol);
  // Packets of the server's size, progress after each.
  EXPECT_EQ(view.progress, (std::vector<int32_t>{1000, 2000, 3000, 4000, 5000,
                                                 static_cast<int32_t>(sent_bytes.size())}));
  EXPECT_EQ(view.last_percent, 100);
  EXPECT_EQ(view.status, "Arquivo enviado com sucesso.");
  // The replicated list replaced the client configuration file.
  const std::string cfg = Slurp(config);
  EXPECT_EQ(rpc::DecodeServerList({reinterpret_cast<const uint8_t*>(cfg.data()), cfg.size()}),
            (std::vector<rpc::ServerItem>{{"127.0.0.1", 4321, true}}));
}

TEST_F(SendTest, WithoutCloseAfterSendTheReceiptIsShown) {
  TestServer server;
  UseFixedServer(server.port());
  RecordingView view;
  ASSERT_EQ(Send(SendablePackage("recibo.zlk", 100), view, false), 0);
  EXPECT_EQ(receipts, 1);
  EXPECT_FALSE(view.closed);
}

// The end of a transfer shows no time left and the average over the whole transfer, measured
// from the first packet: here exactly 6 400 bytes a second.
TEST_F(SendTest, CompletedTransferShowsNoTimeLeftAndTheAverageRate) {
  TestServer server("packet_size = 1024\n");
  UseFixedServer(server.port());
  const std::string package = SendablePackage("media.zlk", 6000);
  const auto size = static_cast<int64_t>(std::filesystem::file_size(package));
  int calls = 0;
  const auto start = std::chrono::steady_clock::now();
  context.clock = [&] {
    return start + std::chrono::nanoseconds(calls++ == 0 ? 0 : size * 156250);
  };
  RecordingView view;
  ASSERT_EQ(Send(package, view), 0);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(view.remaining_time, "00:00:00");
  EXPECT_EQ(view.rate, "(50,00 Kbits/segundo)");
  EXPECT_EQ(view.last_percent, 100);
}

TEST_F(SendTest, AlreadySentPackageNeverConnects) {
  TestServer server;
  UseFixedServer(server.port());
  const std::string package = SendablePackage("duas-vezes.zlk", 300);
  RecordingView first;
  ASSERT_EQ(Send(package, first), 0);
  server.Stop();  // a second send would fail to connect

  messages_->answers.push_back({results::kNo, false});
  RecordingView second;
  EXPECT_EQ(Send(package, second), 3);
  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text,
            "Este arquivo já foi enviado através do VornCom. Deseja visualizar o recibo de envio?");
  EXPECT_TRUE(second.closed);
  EXPECT_TRUE(second.statuses.empty());  // not even "Conectando…"

  // Yes shows the earlier receipt and leaves the window open.
  RecordingView third;
  EXPECT_EQ(Send(package, third), 3);
  EXPECT_EQ(receipts, 1);
  EXPECT_TRUE(third.receipt_enabled);
  EXPECT_FALSE(third.closed);
}

TEST_F(SendTest, PackageFailingValidationEndsWith10WithoutMessage) {
  UseFixedServer(ClosedPort());
  // A header too large for a configuration file (16 MiB) holds nothing the check can use.
  std::string oversized = Header("grande.zlk");
  while (oversized.size() <= (16u << 20)) oversized += std::string(1022, ';') + "\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"invalido.zlk", Header("invalido.zlk", {{"Documento/Origem Solicitação", "XYZ"}})},
      {"grande.zlk", oversized},
  };
  for (const auto& [name, header] : cases) {
    SCOPED_TRACE(name);
    const std::string package = MakePackage(name, {{"header.cfg", header}, {"dados.dat", "abc"}});
    RecordingView view;
    EXPECT_EQ(Send(package, view), 10);
    EXPECT_TRUE(messages_->shown.empty());
    EXPECT_TRUE(view.closed);
    EXPECT_TRUE(view.statuses.empty());
    EXPECT_TRUE(WorkFolderIsClean());
  }
}

TEST_F(SendTest, PackageWithoutHeaderEndsWith18) {
  UseFixedServer(ClosedPort());
  RecordingView view;
  EXPECT_EQ(Send(MakePackage("sem-header.zlk", {{"dados.dat", "abc"}}), view), 18);
  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text,
            "Erro ao processar o arquivo de header durante validação do arquivo a ser enviado. "
            "Esta operação será cancelada.");
}

// What a refusing server makes of a send: the code, the message and whether data moved.
TEST_F(SendTest, ServerRefusalsTable) {
  const struct {
    const char* config;
    uint8_t code;
    const char* message;
  } cases[] = {
      {"busy_limit = 0\n", 30,
       "O servidor de arquivos está muito congestionado no momento. Você pode executar esta "
       "operação mais tarde."},
      {"accepting = false\n", 9, "O servidor de arquivos não está aceitando conexões no momento."},
      {"status_send = 1\n", 6, "O computador do Vorn não está recebendo arquivos no momento."},
      {"status_send = 7\n", 15,
       "O formulário Declaração (1.0) não está sendo recebido. Para maiores informações entre em "
       "contato com o Vorn."},
      {"status_send = 11\n", 31,
       "O formulário Declaração (1.0) não está sendo recebido. Para maiores informações entre em "
       "contato com o Vorn."},
      {"status_send = 12\n", 33,
       "Erro ao verificar a disponibilidade do formulário Declaração (1.0)."},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    TestServer server(c.config);
    UseFixedServer(server.port());
    messages_->shown.clear();
    RecordingView view;
    EXPECT_EQ(Send(SendablePackage("recusa" + std::to_string(i++) + ".zlk", 2000), view), c.code);
    ASSERT_EQ(messages_->shown.size(), 1u);
    EXPECT_EQ(messages_->shown[0].text, c.message);
    EXPECT_TRUE(view.progress.empty());
    EXPECT_TRUE(server.StoredFiles().empty());
    EXPECT_TRUE(context.results.last_host.empty());
  }
}

TEST_F(SendTest, Status10SendsNoDataAndAsksValidFile) {
  TestServer server("status_send = 10\n");
  UseFixedServer(server.port());
  RecordingView view;
  const uint8_t code = Send(SendablePackage("status10.zlk", 2000), view);
  EXPECT_TRUE(view.progress.empty());
  EXPECT_TRUE(server.StoredFiles().empty());
  // The server had nothing to validate.
  EXPECT_TRUE(code == 11 || code == 1) << int{code};
  EXPECT_NE(std::find(view.statuses.begin(), view.statuses.end(),
                      "Validando o arquivo enviado. Aguarde..."),
            view.statuses.end());
}

TEST_F(SendTest, ConnectionLostDuringTheLoopGives1) {
  // A version-1 server: over version 2 the upload would go on over a new connection.
  TestServer server("packet_size = 1024\nfault_drop_after_packets = 2\nmax_protocol_version = 1\n");
  UseFixedServer(server.port());
  RecordingView view;
  EXPECT_EQ(Send(SendablePackage("queda.zlk", 8000), view), 1);
  EXPECT_EQ(view.progress.size(), 2u);
  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text,
            "Erro ao enviar o arquivo para o Vorn. Problemas no envio dos dados.");
  EXPECT_TRUE(view.closed);
}

TEST_F(SendTest, FailureEscapingTheFlowGives25WithItsMessage) {
  UseFixedServer(ClosedPort());
  const std::string name = "data-ruim.zlk";
  const std::string package =
      MakePackage(name, {{"header.cfg", Header(name, {{"Documento/Data Atualização", "ontem"}})},
                         {"dados.dat", "abc"}});
  RecordingView view;
  EXPECT_EQ(Send(package, view), 25);
  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text,
            "Ocorreu um erro durante a comunicação com o computador do Vorn. O envio dos dados "
            "será abortado.");
  EXPECT_NE(messages_->shown[0].details.find("Descrição do erro: "), std::string::npos);
  EXPECT_NE(messages_->shown[0].details.find("ontem"), std::string::npos);
  EXPECT_TRUE(view.closed);
}

TEST_F(SendTest, UnreachableServerGives8) {
  UseFixedServer(ClosedPort());
  RecordingView view;
  EXPECT_EQ(Send(SendablePackage("longe.zlk", 10), view), 8);
  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text,
            "Ocorreu um erro no estabelecimento da conexão com o computador do Vorn.");
  EXPECT_EQ(view.status, "Erro ao conectar com o computador do Vorn.");
  EXPECT_TRUE(context.results.last_host.empty());
  EXPECT_EQ(context.results.last_port, 0);
}

// A server whose certificate fails is a failed connection: code 8, the reason in the details,
// and the next listed server is tried.
TEST_F(SendTest, ServerWithABadCertificateGives8WithTheReasonAndIsSkipped) {
  const testing::TestPki& pki = testing::SharedTestPki();
  TestServer expired("tls_certificate = " + pki.expired_cert +
                     "\ntls_private_key = " + pki.expired_key + "\n");
  UseFixedServer(expired.port());
  RecordingView view;
  EXPECT_EQ(Send(SendablePackage("vencido.zlk", 10), view), 8);
  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text,
            "Ocorreu um erro no estabelecimento da conexão com o computador do Vorn.");
  EXPECT_EQ(messages_->shown[0].details,
            "O certificado do servidor expirou em " + pki.expired_on +
                ".\r\nA conexão segura com o computador do Vorn não pôde ser estabelecida. "
                "Consulte o pessoal do suporte de sua rede.");
  EXPECT_TRUE(expired.StoredFiles().empty());

  for (int round = 0; round < 3; ++round) {
    TestServer good;
    UseServerList({{"127.0.0.1", expired.port(), true}, {"127.0.0.1", good.port(), true}});
    messages_->shown.clear();
    ASSERT_EQ(Send(SendablePackage("seguro" + std::to_string(round) + ".zlk", 1500), view), 0);
    EXPECT_TRUE(messages_->shown.empty());
    EXPECT_EQ(good.StoredFiles().size(), 1u);
  }
}

TEST_F(SendTest, FallsBackAcrossListedServersWhenOneIsDownAndOneRefuses) {
  // The broker picks at random; whatever the order, the one good server ends up with the file.
  for (int round = 0; round < 4; ++round) {
    TestServer refusing("status_send = 1\n");
    TestServer good;
    UseServerList({{"127.0.0.1", ClosedPort(), true},
                   {"127.0.0.1", refusing.port(), true},
                   {"127.0.0.1", good.port(), true}});
    RecordingView view;
    messages_->shown.clear();
    ASSERT_EQ(Send(SendablePackage("fallback" + std::to_string(round) + ".zlk", 1500), view), 0);
    EXPECT_TRUE(messages_->shown.empty());
    EXPECT_EQ(good.StoredFiles().size(), 1u);
    EXPECT_TRUE(refusing.StoredFiles().empty());
    EXPECT_EQ(context.results.last_port, good.port());
  }
}

TEST_F(SendTest, EveryListedServerRefusingGivesTheFirstStatus) {
  TestServer a("status_send = 1\n");
  TestServer b("status_send = 1\n");
  UseServerList({{"127.0.0.1", a.port(), true}, {"127.0.0.1", b.port(), true}});
  // Also when the fall-back budget runs out after the first refusal: the refusal is the answer,
  // not a server to send to.
  for (const auto budget : {kFallBackBudget, std::chrono::milliseconds(0)}) {
    fall_back_budget = budget;
    RecordingView view;
    EXPECT_EQ(Send(SendablePackage("todos" + std::to_string(budget.count()) + ".zlk", 100), view),
              6);
  }
}

TEST_F(SendTest, CancelDuringTheLoopEndsWith2AfterTheCurrentPacket) {
  TestServer server("packet_size = 1024\n");
  UseFixedServer(server.port());
  RecordingView view;
  view.on_packet = [&] {
    if (view.progress.size() == 2) cancel_target->CancelClick();
  };
  EXPECT_EQ(Send(SendablePackage("cancelado.zlk", 10'000), view), 2);
  EXPECT_EQ(view.progress.size(), 2u);
  EXPECT_TRUE(view.closed);
  EXPECT_TRUE(messages_->shown.empty());
  EXPECT_TRUE(server.StoredFiles().empty());
}

class ReceiveTest : public TransferFixture {
 protected:
  static std::string Downloads(TestServer& server) {
    const std::string folder = server.data_folder() + "/downloads";
    fs::create_directories(folder);
    return folder;
  }
};

TEST_F(ReceiveTest, FullReceiveWritesTheFileAndErasesTheServersCopy) {
  TestServer server("packet_size = 1000\n");
  UseFixedServer(server.port());
  const std::string content = RandomBytes(3500, 3);
  std::ofstream(Downloads(server) + "/resposta.zlk", std::ios::binary) << content;
  // An earlier read-only file of that name is replaced.
  dir_.Write("resposta.zlk", "velho");
  fs::permissions(dir_ / "resposta.zlk", fs::perms::owner_read);
  RecordingView view;

  ASSERT_EQ(Receive("resposta.zlk", true, view), 0);
  EXPECT_TRUE(messages_->shown.empty());
  EXPECT_EQ(Slurp(dir_ / "resposta.zlk"), content);
  EXPECT_FALSE(fs::exists(Downloads(server) + "/resposta.zlk"));
  EXPECT_EQ(view.progress, (std::vector<int32_t>{1000, 2000, 3000, 3500}));
  EXPECT_TRUE(view.closed);
}

TEST_F(ReceiveTest, EraseFlagFalseKeepsTheServersCopy) {
  TestServer server;
  UseFixedServer(server.port());
  std::ofstream(Downloads(server) + "/fica.zlk", std::ios::binary) << "conteudo";
  RecordingView view;
  ASSERT_EQ(Receive("fica.zlk", false, view), 0);
  EXPECT_TRUE(fs::exists(Downloads(server) + "/fica.zlk"));
  EXPECT_EQ(Slurp(dir_ / "fica.zlk"), "conteudo");
}

TEST_F(ReceiveTest, EmptyOrMissingFileEndsWith7AndNoLocalFile) {
  TestServer server;
  UseFixedServer(server.port());
  std::ofstream(Downloads(server) + "/vazio.zlk", std::ios::binary);
  for (const char* name : {"vazio.zlk", "nao-existe.zlk"}) {
    RecordingView view;
    EXPECT_EQ(Receive(name, false, view), 7) << name;
    EXPECT_FALSE(fs::exists(dir_ / name));
    EXPECT_TRUE(view.closed);
  }
  EXPECT_TRUE(messages_->shown.empty());
}

TEST_F(ReceiveTest, CancelledDownloadLeavesTheEarlierFileAsItWas) {
  TestServer server("packet_size = 1024\n");
  UseFixedServer(server.port());
  std::ofstream(Downloads(server) + "/grande.zlk", std::ios::binary) << RandomBytes(8000);
  dir_.Write("grande.zlk", "anterior");
  RecordingView view;
  view.on_packet = [&] {
    if (view.progress.size() == 2) cancel_target->CancelClick();
  };
  EXPECT_EQ(Receive("grande.zlk", true, view), 2);
  EXPECT_EQ(Slurp(dir_ / "grande.zlk"), "anterior");
  EXPECT_EQ(view.status, "A recepção dos dados foi cancelada.");
  // Element 14 true: the server's copy goes also on a cancel.
  EXPECT_FALSE(fs::exists(Downloads(server) + "/grande.zlk"));
  int leftovers = 0;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    if (entry.path().filename().string().find("grande") != std::string::npos) ++leftovers;
  }
  EXPECT_EQ(leftovers, 1);  // no partial download beside it
}

TEST_F(ReceiveTest, ServerNotSendingGives5) {
  TestServer server("status_receive = 2\n");
  UseFixedServer(server.port());
  RecordingView view;
  EXPECT_EQ(Receive("x.zlk", false, view), 5);
  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text,
            "O computador do Vorn não está enviando arquivos no momento.");
}

class StatusTest : public TransferFixture {};

TEST_F(StatusTest, StatusByteByServerAnswer) {
  const struct {
    const char* config;
    uint8_t code;
    int status;  // -1: left alone
    size_t messages;
  } cases[] = {
      {"form = DEC | 1.0 | | 7\n", 0, 7, 0}, {"status_query = 10\n", 0, 4, 0},
      {"status_query = 1\n", 0, -1, 0},      {"status_query = 7\n", 0, -1, 0},
      {"status_query = 12\n", 32, -1, 1},    {"busy_limit = 0\n", 30, -1, 1},
      {"accepting = false\n", 9, -1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.config);
    TestServer server(c.config);
    UseFixedServer(server.port());
    messages_->shown.clear();
    uint8_t status = 99;
    EXPECT_EQ(Query(status), c.code);
    EXPECT_EQ(status, c.status < 0 ? 99 : c.status);
    EXPECT_EQ(messages_->shown.size(), c.messages);
  }
  EXPECT_EQ(messages_->shown.back().text,
            "O servidor de arquivos não está aceitando conexões no momento.");
}

TEST_F(StatusTest, FailuresAreReported) {
  uint8_t status = 99;
  UseFixedServer(ClosedPort());
  EXPECT_EQ(Query(status), 8);
  context.settings.server_name.clear();  // a fixed server without a name
  EXPECT_EQ(Query(status), 22);
  EXPECT_EQ(status, 99);
}

}  // namespace
}  // namespace vorncom::transfer
