#include "interface/operations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/messages.h"
#include "interface/library_state.h"
#include "interface/text_argument.h"
#include "support/scripted_presenter.h"
#include "support/temp_dir.h"

namespace vorncom::iface {
namespace {

using vorncom::testing::IsolatedEnvironment;
using vorncom::testing::ScopedEnv;
using vorncom::testing::ScopedPresenter;

class OperationsTest : public ::testing::Test {
 protected:
  void SetUp() override { Startup(); }

  std::string Package(const std::string& name = "pacote.zlk") {
    return env_.dir().Write(name, "ZELK\x1A");
  }

  IsolatedEnvironment env_;
  ScopedPresenter messages_;
};

TEST_F(OperationsTest, StartupFillsTheDocumentedDefaults) {
  const LibraryState& s = State();
  EXPECT_EQ(s.institution_name, "o Vorn");
  EXPECT_EQ(s.config_file, env_.dir().path() + "/Configuracoes/zedidodad-Vorn.cfg");
  EXPECT_TRUE(s.server_name.empty());
  EXPECT_EQ(s.server_port, 0);
  EXPECT_EQ(s.protocol_data.LowerBound(), 1);
  EXPECT_EQ(s.protocol_data.UpperBound(), 14);
  EXPECT_TRUE(s.protocol_data.At(14).IsEmpty());
  ASSERT_EQ(s.receipt_footer.UpperBound(), 12);
  for (int i : {4, 7, 8, 10, 11}) {
    EXPECT_TRUE(s.receipt_footer.At(i).IsString()) << i;
    EXPECT_EQ(s.receipt_footer.At(i).ToString(), "") << i;
  }
  EXPECT_EQ(s.receipt_footer.At(6).ToString().rfind("e-mail: ", 0), 0u);
  EXPECT_EQ(s.receipt_footer.At(9).ToString().rfind("Telefone ", 0), 0u);
  EXPECT_EQ(s.receipt_footer.At(12).ToString().rfind("Fax ", 0), 0u);
  // No installation registry value: the library still starts, without a default help file.
  EXPECT_TRUE(s.help_file.empty());
  struct stat st {};
  EXPECT_EQ(stat((env_.dir().path() + "/Configuracoes").c_str(), &st), 0);
}

TEST_F(OperationsTest, HelpFileComesFromTheInstallationFolder) {
  setenv("VORNCOM_REGISTRY", (env_.dir() / "registry").c_str(), 1);
  env_.dir().Write("registry", "[SOFTWARE\\Mirtal]\nDiretorioInstalacao=s:/opt/mirtal\n");
  Startup();
  EXPECT_EQ(State().help_file, "/opt/mirtal/Arquivos Comuns/Bibliotecas/VornComClient.hlp");
}

TEST_F(OperationsTest, SendFileChecksInOrderAndShowsEachMessage) {
  // 27 before the package is even looked at.
  EXPECT_EQ(ToByte(SendFileOperation("/nao/existe.zlk", false)), 27);
  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text,
            "Os dados para conexão com o computador receptor de arquivos estão incorretos.");
  EXPECT_EQ(messages_->shown[0].kind, MessageKind::kError);
  EXPECT_EQ(messages_->shown[0].buttons, buttons::kOk);

  DefineComServerOperation("servidor", 211, false);
  EXPECT_EQ(ToByte(SendFileOperation("/nao/existe.zlk", false)), 7);
  EXPECT_EQ(messages_->shown.back().text, "O arquivo a ser enviado (/nao/existe.zlk) não existe.");

  // Every check passed: the transfer takes over, and refuses a package without a header.
  EXPECT_EQ(ToByte(SendFileOperation(Package(), false)), 18);
  EXPECT_EQ(messages_->shown.size(), 3u);
}

TEST_F(OperationsTest, ServerDefinitionNeedsNameAndPortOrAConfigurationFile) {
  DefineComServerOperation("servidor", 0, false);
  EXPECT_FALSE(ServerDefinitionUsable());
  DefineComServerOperation("", 211, true);
  EXPECT_FALSE(ServerDefinitionUsable());
  DefineComCfgFileOperation(env_.dir().Write("lista.cfg", ""));
  EXPECT_TRUE(ServerDefinitionUsable());
  DefineComCfgFileOperation(env_.dir() / "outra.cfg");
  EXPECT_FALSE(ServerDefinitionUsable());
}

// A send that runs (here to a server nobody answers on, without a window) forgets what FileSent
// knew, whatever its outcome.
TEST_F(OperationsTest, SendFileRunsTheTransferAndClearsTheSentState) {
  ScopedEnv unattended("VORNCOM_UNATTENDED", "1");
  ScopedEnv no_platform("QT_QPA_PLATFORM", nullptr);
  DefineComServerOperation("127.0.0.1", 1, true);
  State().sent_state_known = true;
  State().package_sent = true;
  EXPECT_EQ(ToByte(SendFileOperation(Package(), true)),
            18);  // no header: refused before connecting
  EXPECT_FALSE(State().sent_state_known);
  EXPECT_FALSE(State().package_sent);
  EXPECT_FALSE(State().window_active);
}

TEST_F(OperationsTest, OneLiveTransferWindowAtATime) {
  DefineComServerOperation("servidor", 211, false);
  State().window_active = true;
  uint8_t status = 99;
  EXPECT_EQ(ToByte(GetFormStatusOperation("DEC", "1.0", &status)), 25);
  EXPECT_EQ(ToByte(SendFileOperation(Package(), true)), 25);
  EXPECT_EQ(status, 99);
  State().window_active = false;
}

TEST_F(OperationsTest, FreeSpaceOfAReadOnlyFileSystemCountsAsFull) {
  DefineComServerOperation("servidor", 211, false);
  // /proc is mounted read-only-ish for files we cannot write; pick a file that surely exists on
  // a file system with no free blocks.
  struct stat st {};
  if (stat("/proc/self/status", &st) != 0) GTEST_SKIP() << "no /proc";
  EXPECT_EQ(ToByte(SendFileOperation("/proc/self/status", false)), 24);
  EXPECT_EQ(messages_->shown.back().text,
            "Não existe espaço suficiente no drive '/proc' para gravar o recibo de envio do "
            "arquivo.");
}

TEST_F(OperationsTest, GetFileChecksServerThenClientInformation) {
  Variant info = Variant::Array(1, 14);
  EXPECT_EQ(ToByte(GetFileOperation("arquivo", &info)), 27);
  EXPECT_EQ(messages_->shown.back().text,
            "Os dados para conexão com o computador emissor de arquivos estão incorretos.");
  DefineComServerOperation("servidor", 211, false);
  for (const Variant& bad : {Variant(), Variant(14), Variant::Array(1, 13), Variant::Array(0, 14),
                             Variant(ByteArray{1, std::vector<uint8_t>(14)})}) {
    EXPECT_EQ(ToByte(GetFileOperation("arquivo", &bad)), 28);
  }
  EXPECT_EQ(ToByte(GetFileOperation("arquivo", nullptr)), 28);
  EXPECT_EQ(messages_->shown.back().text,
            "As informações do cliente que deseja fazer o download estão incorretas.");
  // Lower bound 0 with upper bound 14 passes the check as written: the transfer runs, and finds
  // nobody listening.
  DefineComServerOperation("127.0.0.1", 1, true);
  Variant zero_based = Variant::Array(0, 15);
  EXPECT_EQ(ToByte(GetFileOperation("arquivo", &zero_based)), 8);
  EXPECT_EQ(ToByte(GetFileOperation("arquivo", &info)), 8);
}

TEST_F(OperationsTest, GetFormStatusFailsSilently) {
  uint8_t status = 77;
  EXPECT_EQ(ToByte(GetFormStatusOperation("IRPF", "1", &status)), 27);
  DefineComServerOperation("servidor", 211, false);
  EXPECT_EQ(ToByte(GetFormStatusOperation(" \t ", "1", &status)), 29);
  EXPECT_EQ(ToByte(GetFormStatusOperation("IRPF", "  ", &status)), 29);
  EXPECT_EQ(status, 77);
  EXPECT_TRUE(messages_->shown.empty());
}

TEST_F(OperationsTest, LastConnectionInfoIsCutToTheCapacity) {
  State().last_host = "servidor.exemplo.gov";
  unsigned char buffer[300] = {};
  WriteText(buffer, 5, State().last_host);
  EXPECT_EQ(buffer[0], 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 1), 5), "servi");
  State().last_host = std::string(300, 'h');
  WriteText(buffer, 1000, State().last_host);
  EXPECT_EQ(buffer[0], 255);
  WriteText(buffer, 0, "abc");
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(OperationsTest, ProtocolDataCopiesOnlyTheFirstEightElements) {
  Variant data = Variant::Array(1, 14);
  for (int i = 1; i <= 14; ++i) data.At(i) = "v" + std::to_string(i);
  DefineComProtocolDataOperation(data);
  for (int i = 1; i <= 8; ++i)
    EXPECT_EQ(State().protocol_data.At(i).ToString(), data.At(i).ToString());
  for (int i = 9; i <= 14; ++i) EXPECT_TRUE(State().protocol_data.At(i).IsEmpty()) << i;

  Variant shorter = Variant::Array(1, 5);
  shorter.At(1) = "novo";
  DefineComProtocolDataOperation(shorter);
  EXPECT_EQ(State().protocol_data.At(1).ToString(), "novo");
  EXPECT_EQ(State().protocol_data.At(6).ToString(), "v6");  // copy ended at the bound

  DefineComProtocolDataOperation(Variant(3));  // not an array: nothing
  EXPECT_EQ(State().protocol_data.At(1).ToString(), "novo");
}

TEST_F(OperationsTest, ReceiptFooterNullRestoresDefaultsAndShortArraysCopyWhatTheyCan) {
  Variant custom = Variant::Array(1, 12);
  for (int i = 1; i <= 12; ++i) custom.At(i) = "linha " + std::to_string(i);
  DefineComReceiptFooterOperation(custom);
  EXPECT_EQ(State().receipt_footer.At(12).ToString(), "linha 12");

  Variant six = Variant::Array(1, 6);
  for (int i = 1; i <= 6; ++i) six.At(i) = "curta " + std::to_string(i);
  DefineComReceiptFooterOperation(six);
  EXPECT_EQ(State().receipt_footer.At(6).ToString(), "curta 6");
  EXPECT_EQ(State().receipt_footer.At(7).ToString(), "linha 7");

  DefineComReceiptFooterOperation(Variant::Null());
  EXPECT_EQ(State().receipt_footer, DefaultReceiptFooter());
}

TEST_F(OperationsTest, ConfigFileIsKeptToTwoHundredFiftyFiveCharacters) {
  DefineComCfgFileOperation("/" + std::string(300, 'c'));
  EXPECT_EQ(State().config_file.size(), 255u);
  // Cut by characters, not bytes: an accented letter near the end is not split.
  DefineComCfgFileOperation("/" + std::string(252, 'a') + "ção");
  EXPECT_EQ(State().config_file, "/" + std::string(252, 'a') + "çã");
}

TEST(MessageFormatTest, FillsPlaceholdersInOrder) {
  EXPECT_EQ(msg::Format(msg::kServerNotServing, {"o Vorn", msg::kRecebendo, msg::kArquivos}),
            "O computador do Vorn não está recebendo arquivos no momento.");
  EXPECT_EQ(msg::Format("%s e %s", {"um"}), "um e ");
  EXPECT_EQ(msg::Format("100%", {"x"}), "100%");
  const std::string details =
      msg::Format(msg::kConnectionFailedDetails, {"o Vorn", "o Vorn", "o Vorn"});
  EXPECT_EQ(details.find("%s"), std::string::npos);
  EXPECT_NE(details.find("\r\nd) seu computador"), std::string::npos);
}

}  // namespace
}  // namespace vorncom::iface
