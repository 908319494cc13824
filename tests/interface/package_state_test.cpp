// The exports that read packages and the document-type message table, with the library state
// they keep between calls.
#include <gtest/gtest.h>

#include "common/messages.h"
#include "interface/library_state.h"
#include "interface/operations.h"
#include "interface/receipt_link.h"
#include "package/message_table.h"
#include "package/package_fixture.h"
#include "support/scripted_presenter.h"

namespace vorncom::iface {
namespace {

class PackageStateTest : public package::PackageFixture {
 protected:
  void SetUp() override {
    Startup();
    SetReceiptPresenter([](const receipt::ReceiptData&) { ++receipts; });
    receipts = 0;
  }
  void TearDown() override { SetReceiptPresenter(nullptr); }

  std::string SentPackage(const std::string& name) {
    return MakePackage(name,
                       {{"dados.dat", "conteúdo"},
                        {"protocolo.rec", Utf8ToCp1252("[Documento]\r\nNome Arquivo=" + name +
                                                       "\r\nNúmero Protocolo=2024000123\r\n")}});
  }

  static inline int receipts = 0;
  testing::IsolatedEnvironment env_;
  testing::ScopedPresenter messages_;
};

TEST_F(PackageStateTest, FileSentLoadsTheRecordAndRemembersTheAnswer) {
  EXPECT_EQ(ToByte(FileSentOperation(SentPackage("enviado.zlk"))), 3);
  EXPECT_TRUE(State().sent_state_known);
  EXPECT_TRUE(State().package_sent);
  EXPECT_EQ(State().protocol_data.At(1).ToString(), "enviado.zlk");
  EXPECT_EQ(State().protocol_data.At(3).ToString(), "2024000123");
  EXPECT_TRUE(messages_->shown.empty());

  EXPECT_EQ(ToByte(FileSentOperation(MakePackage("novo.zlk", {{"dados.dat", "x"}}))), 4);
  EXPECT_TRUE(State().sent_state_known);
  EXPECT_FALSE(State().package_sent);
}

TEST_F(PackageStateTest, AFileThatIsNoPackageAnswersFourSilently) {
  EXPECT_EQ(ToByte(FileSentOperation(dir_.Write("texto.zlk", package::kPlainText))), 4);
  EXPECT_FALSE(State().sent_state_known);
  EXPECT_TRUE(messages_->shown.empty());
}

TEST_F(PackageStateTest, ReceiptOfAPackageAsksFileSentOnlyOnce) {
  PrintComReceiptOperation(MakePackage("novo.zlk", {{"dados.dat", "x"}}));
  EXPECT_EQ(receipts, 0);  // not sent: no receipt
  // The state is known now, so a second package is not looked at: the first answer decides.
  PrintComReceiptOperation(SentPackage("enviado.zlk"));
  EXPECT_EQ(receipts, 0);

  Startup();  // forgets the answer
  PrintComReceiptOperation(SentPackage("outro.zlk"));
  EXPECT_EQ(receipts, 1);
  EXPECT_EQ(State().protocol_data.At(1).ToString(), "outro.zlk");
  // An empty path previews whatever the protocol data holds, without touching a package.
  PrintComReceiptOperation("   ");
  EXPECT_EQ(receipts, 2);
}

TEST_F(PackageStateTest, ProtocolDataLooksUpTheRequestMessage) {
  const std::string table = config_ + "en_tipo_doc_solicitacao.cds";
  ASSERT_TRUE(package::StoreRequestMessage(table, "DEC", "1.0", "Guarde este recibo."));
  Variant data = Variant::Array(1, 14);
  data.At(1) = "pacote.zlk";
  data.At(6) = "1.0";
  data.At(12) = "dec";  // letter case does not matter
  data.At(14) = table;
  DefineComProtocolDataOperation(data);
  EXPECT_EQ(State().protocol_data.At(14).ToString(), "Guarde este recibo.");
  EXPECT_TRUE(State().protocol_data.At(12).IsEmpty());  // the type is not stored

  // A missing table or row leaves element 14 as it was; elements 1..8 are still copied.
  data.At(1) = "outro.zlk";
  data.At(14) = config_ + "nao-existe.cds";
  DefineComProtocolDataOperation(data);
  EXPECT_EQ(State().protocol_data.At(1).ToString(), "outro.zlk");
  EXPECT_EQ(State().protocol_data.At(14).ToString(), "Guarde este recibo.");
  data.At(14) = dir_.Write("lixo.cds", "isto não é um banco de dados, é lixo binário \x01\x02");
  DefineComProtocolDataOperation(data);
  EXPECT_EQ(State().protocol_data.At(14).ToString(), "Guarde este recibo.");
}

}  // namespace
}  // namespace vorncom::iface
