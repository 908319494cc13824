#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>

#include "../report/report_test_support.h"
#include "common/messages.h"
#include "interface/library_state.h"
#include "interface/operations.h"
#include "receipt/receipt_report.h"
#include "receipt/receipt_runner.h"
#include "receipt/receipt_window.h"
#include "receipt/rel_preview_form.h"
#include "receipt_test_support.h"
#include "support/scripted_presenter.h"
#include "support/temp_dir.h"

namespace vorncom::receipt {
namespace {

using report::testing::PdfPrinterEnvironment;
using vorncom::testing::ScopedPresenter;

// A transfer window as the receipt sees it: records status texts and the button state.
class FakeWindow : public ReceiptWindowHooks {
 public:
  QWidget* ReceiptOwner() override { return &owner; }
  void SetReceiptStatus(const QString& text) override { statuses << text; }
  void SetReceiptEnabled(bool enabled) override { enabled_states.push_back(enabled); }

  QWidget owner;
  QStringList statuses;
  std::vector<bool> enabled_states;
};

// Sets VORNCOM_UNATTENDED for the lifetime of the object.
class UnattendedMode {
 public:
  explicit UnattendedMode(bool on) { setenv("VORNCOM_UNATTENDED", on ? "1" : "0", 1); }
  ~UnattendedMode() { setenv("VORNCOM_UNATTENDED", "1", 1); }
};

class ReceiptRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetReceiptPreviewObserver(nullptr); }
  void TearDown() override { SetReceiptPreviewObserver(nullptr); }
  ScopedPresenter messages_;
};

TEST_F(ReceiptRunnerTest, NoPrinterShowsTheErrorAndNoPreview) {
  PdfPrinterEnvironment no_pdf(false);
  report::DefaultReportDevice().Refresh();
  if (report::DefaultReportDevice().HasPrinters()) GTEST_SKIP() << "this machine has printers";
  UnattendedMode interactive(false);
  int previews = 0;
  SetReceiptPreviewObserver([&](TfqevRelPreviewForm&) { ++previews; });
  FakeWindow window;
  ReceiptWindowRegistration registration(window);

  PrintComReceipt(testing::SampleData());

  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].text, msg::kNoPrinter);
  EXPECT_EQ(messages_->shown[0].kind, MessageKind::kError);
  EXPECT_EQ(messages_->shown[0].buttons, buttons::kOk);
  EXPECT_EQ(previews, 0);
  EXPECT_TRUE(window.statuses.isEmpty());  // the window is left alone
}

// With no setting at all the "PDF" printer is there and, on a machine without printers, current:
// the window's receipt opens the preview, whose Print button (setup confirmed) writes the PDF into
// the documents folder, where an unattended receipt lands straight away.
TEST_F(ReceiptRunnerTest, WithoutSettingsTheReceiptGoesToThePdfPrinter) {
  for (const bool unattended : {false, true}) {
    report::testing::FreshUser user;
    report::DefaultReportDevice().Refresh();
    if (report::DefaultReportDevice().Printers().size() > 1)
      GTEST_SKIP() << "this machine has printers";
    ASSERT_EQ(report::DefaultReportDevice().CurrentPrinter().name, QStringLiteral("PDF"));
    UnattendedMode mode(unattended);
    int previews = 0;
    QString status;
    SetReceiptPreviewObserver([&](TfqevRelPreviewForm& form) {
      ++previews;
      form.run_setup_dialog = [](report::ReportJob&, report::FilePrinter&) {
        return static_cast<int>(QDialog::Accepted);
      };
      QTimer::singleShot(0, &form, [&form, &status] {
        form.SBPrintClick();
        status = form.StatusText();
        form.SBDoneClick();
      });
    });

    ::testing::internal::CaptureStderr();
    PrintComReceipt(testing::SampleData());
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_TRUE(messages_->shown.empty()) << unattended;
    const QString folder = user.Home() + QStringLiteral("/Documents/Recibos VornCom");
    const QString pdf = folder + QStringLiteral("/Recibo 2026.000.123456-7 %1.pdf")
                                     .arg(QDate::currentDate().toString(Qt::ISODate));
    EXPECT_EQ(previews, unattended ? 0 : 1);
    EXPECT_TRUE(QFile::exists(pdf)) << pdf.toStdString();
    EXPECT_EQ(status, unattended ? QString() : QStringLiteral("Documento gravado em ") + pdf);
    if (unattended) {
      EXPECT_EQ(err, "VornCom: receipt printed to " + pdf.toStdString() + "\n");
    } else {
      EXPECT_EQ(err.find("VornCom"), std::string::npos) << err;
    }
  }
}

TEST_F(ReceiptRunnerTest, PreviewOpensModallyFromTheWindowWithSaveDisabled) {
  PdfPrinterEnvironment pdf;
  UnattendedMode interactive(false);
  FakeWindow window;
  ReceiptWindowRegistration registration(window);

  struct Seen {
    bool shown = false, modal = false, save_enabled = true;
    int tag = 0, pages = 0;
    QString caption;
    QSize size;
    QWidget* parent = nullptr;
    QStringList statuses;
    std::vector<bool> enabled_states;
  } seen;
  SetReceiptPreviewObserver([&](TfqevRelPreviewForm& form) {
    QTimer::singleShot(300, &form, [&seen, &form, &window] {
      seen.shown = form.isVisible();
      seen.modal = form.isModal();
      seen.caption = form.windowTitle();
      seen.size = form.size();
      seen.parent = form.parentWidget();
      seen.tag = form.Tag();
      seen.pages = form.Job().LastSpool() ? form.Job().LastSpool()->PageCount() : 0;
      if (auto* save = form.findChild<QToolButton*>(QStringLiteral("SBExport")))
        seen.save_enabled = save->isEnabled();
      seen.statuses = window.statuses;
      seen.enabled_states = window.enabled_states;
      // A picture of the preview for a look by eye.
      if (const char* grab = std::getenv("VORNCOM_RECEIPT_GRAB")) form.grab().save(grab);
      form.SBDoneClick();
    });
  });

  PrintComReceipt(testing::SampleData());

  EXPECT_TRUE(messages_->shown.empty());
  EXPECT_TRUE(seen.shown);
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.caption, QStringLiteral("Visualização do Recibo"));
  EXPECT_EQ(seen.size, QSize(688, 512));
  EXPECT_EQ(seen.parent, &window.owner);
  EXPECT_EQ(seen.tag, 1);
  EXPECT_EQ(seen.pages, 1);
  EXPECT_FALSE(seen.save_enabled);
  // While the preview is up: the status text is shown and the Receipt button is off.
  EXPECT_EQ(seen.statuses, QStringList{QStringLiteral("Visualizando recibo. Aguarde...")});
  EXPECT_EQ(seen.enabled_states, std::vector<bool>{false});
  // Afterwards: status cleared, button back on.
  EXPECT_EQ(window.statuses.last(), QString());
  EXPECT_EQ(window.enabled_states, (std::vector<bool>{false, true}));
}

TEST_F(ReceiptRunnerTest, AFailingRunIsShownWithItsOwnMessageAndTheWindowRestored) {
  PdfPrinterEnvironment pdf;
  UnattendedMode interactive(false);
  FakeWindow window;
  ReceiptWindowRegistration registration(window);
  int previews = 0;
  SetReceiptPreviewObserver([&](TfqevRelPreviewForm&) { ++previews; });
  ReceiptData data = testing::SampleData();
  data.protocol_data.At(3) = Variant::Array(0, 2);  // cannot be turned into text

  PrintComReceipt(data);

  ASSERT_EQ(messages_->shown.size(), 1u);
  EXPECT_EQ(messages_->shown[0].kind, MessageKind::kError);
  EXPECT_NE(messages_->shown[0].text.find("Could not convert variant"), std::string::npos);
  EXPECT_EQ(previews, 0);
  EXPECT_EQ(window.statuses.last(), QString());
  EXPECT_EQ(window.enabled_states.back(), true);
}

TEST_F(ReceiptRunnerTest, WindowKeepsItsPaperChoiceBetweenReceipts) {
  PdfPrinterEnvironment pdf;
  UnattendedMode unattended(true);
  FakeWindow window;
  ReceiptWindowRegistration registration(window);
  const auto receipt = ActiveWindowReport();
  ASSERT_NE(receipt, nullptr);
  PrintComReceipt(testing::SampleData());
  EXPECT_TRUE(receipt->PaperInitialised());
  EXPECT_EQ(ActiveWindowReport(), receipt);  // the window's report serves every receipt
}

// The exported road: settings, then PrintComReceipt with an empty path, unattended.
TEST_F(ReceiptRunnerTest, PrintComReceiptAfterDefineComProtocolData) {
  vorncom::testing::IsolatedEnvironment isolated;
  PdfPrinterEnvironment pdf;
  iface::Startup();
  Variant data = Variant::Array(1, 8);
  const char* values[] = {"PKG.ZLK",  "10.0.0.9", "2026.777.000001-1", "01/02/2026 08:30:00",
                          "Cadastro", "2.0",      "987.654.321-00",    "João Souza"};
  for (int i = 0; i < 8; ++i) data.At(i + 1) = values[i];
  iface::DefineComProtocolDataOperation(data);

  iface::PrintComReceiptOperation("");

  EXPECT_TRUE(messages_->shown.empty());
  EXPECT_FALSE(iface::State().window_active);
  const QStringList pdfs = QDir(pdf.Folder())
                               .entryList({QStringLiteral("Recibo 2026.777.000001-1 %1.pdf")
                                               .arg(QDate::currentDate().toString(Qt::ISODate))});
  ASSERT_EQ(pdfs.size(), 1);
  const QString text = testing::PdfLayoutText(pdf.Folder() + QLatin1Char('/') + pdfs.first());
  if (text.isEmpty()) GTEST_SKIP() << "pdftotext missing";
  EXPECT_TRUE(text.contains(QStringLiteral("Número do protocolo 2026.777.000001-1")));
  EXPECT_TRUE(text.contains(QStringLiteral("Solicitante João Souza")));
  EXPECT_TRUE(text.contains(QStringLiteral("Formulário Cadastro (2.0)")));
  EXPECT_TRUE(text.contains(QStringLiteral("em 01/02/2026 às 08:30:00")));
  EXPECT_TRUE(text.contains(QStringLiteral("guiche '10.0.0.9'")));
  EXPECT_TRUE(text.contains(QStringLiteral("Fax ")));  // the default footer
}

}  // namespace
}  // namespace vorncom::receipt
