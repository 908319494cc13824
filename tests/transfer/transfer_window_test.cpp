#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <filesystem>

#include "common/ui/qev_button.h"
#include "common/ui/qt_host.h"
#include "support/accessibility_probe.h"
#include "transfer/client_window.h"
#include "transfer/transfer_runner.h"
#include "transfer_test_support.h"

namespace vorncom::transfer {
namespace {

using testing::TestServer;

class TransferWindowTest : public TransferFixture {
 protected:
  void SetUp() override {
    TransferFixture::SetUp();
    // The offscreen platform, also when the test runs outside ctest's environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ui::EnsureApplication();
  }
  void TearDown() override {
    TfVornComClient::SetObserver(nullptr);
    TransferFixture::TearDown();
  }
  static QString TextOf(QWidget& window, const char* name) {
    auto* label = window.findChild<QLabel*>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<missing>");
  }
};

TEST_F(TransferWindowTest, LayoutAsDesigned) {
  TfVornComClient window(context);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("VornCom - Recepção e Envio de Formulários"));
  EXPECT_EQ(window.size(), QSize(366, 316));
  EXPECT_EQ(TextOf(window, "lblSistema"), QStringLiteral("VornCom"));
  EXPECT_EQ(TextOf(window, "lblModulo"), QStringLiteral("Módulo Cliente"));
  EXPECT_EQ(TextOf(window, "lblVersao"), QStringLiteral("versão 1.3"));
  EXPECT_EQ(TextOf(window, "lblBytesEnviados"), QStringLiteral("0 de 0 bytes"));
  EXPECT_EQ(TextOf(window, "lblVelocidade"), QStringLiteral("(0,0 bits/segundo)"));
  EXPECT_EQ(TextOf(window, "lblTempoRestante"), QStringLiteral("00:00:00"));
  for (const char* name : {"btnCancelar", "btnRecibo", "btnFechar", "btnAjuda"}) {
    auto* button = window.findChild<ui::TqevButton*>(QLatin1String(name));
    ASSERT_NE(button, nullptr) << name;
    EXPECT_EQ(button->RaioBotao(), 30);
  }
  EXPECT_TRUE(window.findChild<ui::TqevButton*>(QStringLiteral("btnRecibo"))->Default());
  EXPECT_FALSE(window.findChild<ui::TqevButton*>(QStringLiteral("btnCancelar"))->isEnabled());
  ASSERT_NE(window.findChild<QProgressBar*>(QStringLiteral("FStepBar")), nullptr);
  ASSERT_NE(window.findChild<QTimer*>(QStringLiteral("timVelocidade")), nullptr);
  EXPECT_EQ(window.findChild<QTimer*>(QStringLiteral("timVelocidade"))->interval(), 1000);
}

TEST_F(TransferWindowTest, ProgressAndTimerTexts) {
  TfVornComClient window(context);
  window.SetProgress(2048, 4096, 50);
  window.session().ShowProgress(0);  // counters only move through the session
  EXPECT_EQ(TextOf(window, "lblBytesEnviados"), QStringLiteral("0 de 0"));
  window.SetProgress(2048, 4096, 50);
  EXPECT_EQ(TextOf(window, "lblBytesEnviados"), QStringLiteral("2048 de 4096"));
  EXPECT_EQ(TextOf(window, "lblPercentual"), QStringLiteral("50 %"));
  auto* bytes = window.findChild<QLabel*>(QStringLiteral("lblBytesEnviados"));
  auto* rate = window.findChild<QLabel*>(QStringLiteral("lblVelocidade"));
  EXPECT_EQ(rate->x(), bytes->geometry().right() + 1 + 5);
  window.timVelocidadeTimer();  // nothing moved since the last tick
  EXPECT_EQ(TextOf(window, "lblTempoRestante"), QStringLiteral("??:??:??"));
  EXPECT_EQ(TextOf(window, "lblVelocidade"), QStringLiteral("(0,0 bits/segundo)"));
}

// A whole send in the shown window under the offscreen platform; the window is grabbed while the
// packets move.
TEST_F(TransferWindowTest, SendInTheShownWindow) {
  TestServer server("packet_size = 2048\n");
  UseFixedServer(server.port());
  context.settings.institution_name = "o Vorn";
  const std::string package = SendablePackage("Declaração.zlk", 40'000);
  const std::string png = std::string(VORNCOM_BUILD_DIR) + "/transfer-window.png";
  std::filesystem::remove(png);
  bool grabbed = false;
  bool saw_visible = false;
  TfVornComClient::SetObserver([&](TfVornComClient& w, bool ended) {
    saw_visible = saw_visible || w.isVisible();
    auto* bar = w.findChild<QProgressBar*>(QStringLiteral("pbaEvolucao"));
    if (!ended && !grabbed && bar->value() >= 50) {
      w.SetRate("(312,50 Kbits/segundo)");
      w.SetRemainingTime("00:00:02");
      grabbed = w.grab().save(QString::fromStdString(png));
    }
  });
  TfVornComClient window(context);
  TransferRequest request;
  request.file_name = package;
  request.close_after_send = true;
  window.SetRequest(request);
  window.exec();
  EXPECT_EQ(window.FResultCode(), 0);
  EXPECT_TRUE(saw_visible);
  EXPECT_TRUE(grabbed);
  EXPECT_EQ(TextOf(window, "sttNomeSolicitante"), QStringLiteral("José da Silva"));
  EXPECT_EQ(TextOf(window, "sttDocumento"), QStringLiteral("Declaração - 1.0"));
  EXPECT_EQ(TextOf(window, "lblPercentual"), QStringLiteral("100 %"));
  EXPECT_EQ(server.StoredFiles().size(), 1u);
}

// Runs a send of `package` in the shown window with `on_progress` called after each packet; a
// watchdog ends a modal loop that would otherwise wait for a user.
uint8_t RunShown(const std::string& package, std::function<void(TfVornComClient&)> on_progress,
                 TfVornComClient& window) {
  TfVornComClient::SetObserver([on_progress](TfVornComClient& w, bool ended) {
    if (!ended && w.session().transferring()) on_progress(w);  // after a packet
  });
  TransferRequest request;
  request.file_name = package;
  request.close_after_send = false;
  window.SetRequest(request);
  QTimer::singleShot(20'000, &window, [&window] { window.done(QDialog::Rejected); });
  window.exec();
  return window.FResultCode();
}

// The close box and Esc ask the same question during a transfer.
TEST_F(TransferWindowTest, CloseDuringTheTransferAsksAndLetsTheFlowEnd) {
  const struct {
    const char* way;
    std::function<void(TfVornComClient&)> close;
  } ways[] = {{"close box", [](TfVornComClient& w) { w.close(); }},
              {"Esc", [](TfVornComClient& w) {
                 QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                 QApplication::sendEvent(&w, &esc);
               }}};
  for (const auto& way : ways) {
    SCOPED_TRACE(way.way);
    messages_->shown.clear();
    receipts = 0;
    TestServer server("packet_size = 1024\n");
    UseFixedServer(server.port());
    int packets = 0;
    TfVornComClient window(context);
    const uint8_t code = RunShown(
        SendablePackage(std::string("fechar-") + way.way + ".zlk", 6000),
        [&](TfVornComClient& w) {
          ++packets;
          if (packets == 1) {
            messages_->answers.push_back({results::kNo, false});
            way.close(w);
          } else if (packets == 2) {
            messages_->answers.push_back({results::kYes, false});
            way.close(w);
          }
        },
        window);
    // Yes does not stop the transfer: the send completes and the window closes afterwards.
    EXPECT_EQ(code, 0);
    EXPECT_EQ(server.StoredFiles().size(), 1u);
    ASSERT_EQ(messages_->shown.size(), 2u);
    EXPECT_EQ(messages_->shown[0].text, "Você deseja encerrar a transmissão?");
    EXPECT_EQ(messages_->shown[1].text, "Você deseja encerrar a transmissão?");
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(receipts, 1);  // the flow's own end, the receipt, still ran
  }
}

// What a screen reader reads and hears: every control named and described, the requester read
// with its caption, the bar announced at each tenth and the status as it changes.
TEST_F(TransferWindowTest, ScreenReaderReadsAndHearsTheWindow) {
  testing::AccessibilityProbe probe;
  TfVornComClient window(context);
  window.SetRequester("José da Silva", "123.456.789-00", "Declaração - 1.0");
  const struct {
    const char* object;
    const char* name;  // nullptr: any non-empty name
  } controls[] = {
      {"sttNomeSolicitante", "Nome: José da Silva"},
      {"sttIDSolicitante", "Identificação: 123.456.789-00"},
      {"sttDocumento", "Formulário: Declaração - 1.0"},
      {"pbaEvolucao", "Evolução da transferência, 0 %"},
      {"btnCancelar", "Cancelar"},
      {"btnRecibo", "Recibo"},
      {"btnFechar", "Fechar"},
      {"btnAjuda", "Ajuda"},
      {"imgLogo", nullptr},
      {"lblBytesEnviados", nullptr},
      {"lblVelocidade", nullptr},
      {"lblTempoRestante", nullptr},
      {"lblPercentual", nullptr},
      {"FStepBar", nullptr},
      {"grbSolicitante", nullptr},
      {"grbTransferencia", nullptr},
  };
  for (const auto& c : controls) {
    auto* widget = window.findChild<QWidget*>(QLatin1String(c.object));
    ASSERT_NE(widget, nullptr) << c.object;
    const std::string name = testing::AccessibilityProbe::NameOf(widget);
    if (c.name != nullptr) {
      EXPECT_EQ(name, c.name) << c.object;
    } else {
      EXPECT_FALSE(name.empty()) << c.object;
    }
    EXPECT_FALSE(testing::AccessibilityProbe::DescriptionOf(widget).empty()) << c.object;
  }
  // Every control of the window, also those the table does not name.
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (widget->objectName().isEmpty() || !widget->isVisibleTo(&window)) continue;
    EXPECT_FALSE(testing::AccessibilityProbe::DescriptionOf(widget).empty())
        << widget->objectName().toStdString();
  }

  window.show();
  probe.heard.clear();
  for (int done = 1; done <= 100; ++done) window.SetProgress(done * 41, 4100, done);
  const std::vector<std::string> tenths = probe.Names(QAccessible::NameChanged, "pbaEvolucao");
  ASSERT_EQ(tenths.size(), 10u);
  EXPECT_EQ(tenths.front(), "Evolução da transferência, 10 %");
  EXPECT_EQ(tenths.back(), "Evolução da transferência, 100 %");
  EXPECT_GE(probe.Names(QAccessible::ValueChanged, "pbaEvolucao").size(), 10u);
  window.SetStatus("Arquivo enviado com sucesso.");
  const std::vector<std::string> said =
      probe.Names(QAccessible::NameChanged, "sbaTransferenciaPanel0");
  ASSERT_FALSE(said.empty());
  EXPECT_EQ(said.back(), "Arquivo enviado com sucesso.");
  window.hide();
}

TEST_F(TransferWindowTest, CancelButtonStopsThePacketLoop) {
  TestServer server("packet_size = 1024\n");
  UseFixedServer(server.port());
  int packets = 0;
  TfVornComClient window(context);
  const uint8_t code = RunShown(
      SendablePackage("cancelar.zlk", 9000),
      [&](TfVornComClient& w) {
        auto* cancel = w.findChild<ui::TqevButton*>(QStringLiteral("btnCancelar"));
        ASSERT_TRUE(cancel->isEnabled());
        if (++packets == 2) cancel->Click();
      },
      window);
  EXPECT_EQ(code, 2);
  EXPECT_EQ(packets, 2);
  EXPECT_TRUE(server.StoredFiles().empty());
  EXPECT_FALSE(window.findChild<ui::TqevButton*>(QStringLiteral("btnCancelar"))->isEnabled());
}

TEST_F(TransferWindowTest, LogoFollowsTheInstitutionsWord) {
  TestServer server;
  UseFixedServer(server.port());
  for (const char* institution : {"o Vorn", "a Agência"}) {
    SCOPED_TRACE(institution);
    context.settings.institution_name = institution;
    TfVornComClient window(context);
    bool has_logo = false;
    RunShown(
        SendablePackage(std::string("logo-") + (institution[0] == 'o' ? "a" : "b") + ".zlk", 10),
        [&](TfVornComClient& w) {
          auto* logo = w.findChild<QLabel*>(QStringLiteral("imgLogo"));
          if (!w.isVisible()) return;
          has_logo = !logo->pixmap().isNull();
          w.close();
        },
        window);
    // No "logoTelaAgência.bmp" in the images folder: the logo is emptied.
    EXPECT_EQ(has_logo, institution[0] == 'o');
  }
}

// Through the runner the exports use: unattended with a platform, the window is shown and the
// modal loop ends with the flow even when the flow leaves it open.
TEST_F(TransferWindowTest, RunnerEndsAWindowLeftOpenWhenUnattended) {
  TestServer server("status_send = 2\n");  // nothing to send, ValidFile fails: window stays open
  UseFixedServer(server.port());
  ASSERT_TRUE(WindowShown());
  TransferRequest request;
  request.file_name = SendablePackage("aberta.zlk", 100);
  const uint8_t code = ToByte(RunTransfer(request, context));
  EXPECT_NE(code, 0);
}

}  // namespace
}  // namespace vorncom::transfer
