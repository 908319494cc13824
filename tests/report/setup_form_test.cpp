#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "receipt/rel_setup_form.h"
#include "report/paper.h"
#include "report/units.h"
#include "report_test_support.h"

namespace vorncom::receipt {
namespace {

using report::Destination;
using report::FilePrinter;
using report::ReportJob;
using report::testing::PdfPrinterEnvironment;
using report::testing::SetUpPagedJob;

// The receipt's permissions: copies and printer setup, no collate or duplex.
void ReceiptPermissions(ReportJob& job) {
  job.permissions.collate = false;
  job.permissions.duplex = false;
  job.permissions.copies = true;
  job.permissions.printer_setup = true;
}

class SetupFormTest : public ::testing::Test {
 protected:
  explicit SetupFormTest(bool with_printer = true) : env_(with_printer) {}

  void Open(int pages) {
    env_.Device().SelectPrinter(QStringLiteral("PDF"));
    SetUpPagedJob(job_, pages);
    ReceiptPermissions(job_);
    job_.destination = Destination::kFile;
    job_.Execute();
    printer_.spool = job_.LastSpool();
    form_ = std::make_unique<TfqevRelSetupForm>(job_, printer_);
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  template <typename T>
  T* Child(const char* name) {
    return form_->findChild<T*>(QLatin1String(name));
  }
  QLineEdit* Edit(const char* name) { return Child<QLineEdit>(name); }
  void Leave(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->setText(text);
    Child<QPushButton>("OKBB")->setFocus();
  }

  PdfPrinterEnvironment env_;
  ReportJob job_{env_.Device()};
  FilePrinter printer_{env_.Device()};
  std::unique_ptr<TfqevRelSetupForm> form_;
};

class NoPrinterSetupFormTest : public SetupFormTest {
 protected:
  NoPrinterSetupFormTest() : SetupFormTest(false) {}
};

TEST_F(SetupFormTest, OpensForAOnePageReceipt) {
  Open(1);
  EXPECT_EQ(form_->windowTitle(), QStringLiteral("Imprimir relatório"));
  EXPECT_EQ(form_->size(), QSize(347, 184));
  EXPECT_EQ(Child<QLabel>("PrinterLabel")->text(), QStringLiteral("PDF on %1").arg(env_.Folder()));
  EXPECT_TRUE(Child<QRadioButton>("AllRB")->isChecked());
  EXPECT_TRUE(Child<QGroupBox>("RangeGB")->isVisible());
  EXPECT_EQ(Child<QGroupBox>("RangeGB")->title(), QStringLiteral(" Intervalo de Páginas "));
  EXPECT_EQ(Edit("FromED")->text(), QStringLiteral("1"));
  EXPECT_EQ(Edit("ToED")->text(), QStringLiteral("1"));
  EXPECT_EQ(Edit("SelectionED")->text(), QStringLiteral("1-1"));
  EXPECT_FALSE(Edit("SelectionED")->isEnabled());
  EXPECT_FALSE(Edit("FromED")->isVisible());
  EXPECT_FALSE(Child<QCheckBox>("CollateCK")->isEnabled());
  EXPECT_FALSE(Child<QCheckBox>("DuplexCK")->isEnabled());
  EXPECT_TRUE(Edit("CopiesED")->isEnabled());
  EXPECT_TRUE(Child<QLabel>("CopiesLabel")->isEnabled());
  EXPECT_TRUE(Child<QPushButton>("SetupBB")->isEnabled());
  EXPECT_EQ(Edit("CopiesED")->text(), QStringLiteral("1"));
  EXPECT_TRUE(Child<QPushButton>("OKBB")->hasFocus());
  EXPECT_EQ(Child<QLabel>("Label2")->text(),
            QStringLiteral("Informe os números das páginas ou intervalos. Por exemplo: 1, 3, 5 "
                           "ou de 5 até 12"));
  const std::pair<const char*, const char*> captions[] = {
      {"OKBB", "&Ok"}, {"CancelBB", "&Cancelar"}, {"SetupBB", "&Impressora"}};
  for (auto [name, caption] : captions) {
    EXPECT_EQ(Child<QPushButton>(name)->text(), QString::fromUtf8(caption));
  }
}

TEST_F(NoPrinterSetupFormTest, NoPrintersInstalled) {
  if (env_.Device().HasPrinters()) GTEST_SKIP() << "this machine has system printers";
  Open(1);
  EXPECT_EQ(Child<QLabel>("PrinterLabel")->text(), QStringLiteral("No printers installed!"));
  for (const char* name : {"CopiesED", "CopiesLabel", "CollateCK", "DuplexCK", "SetupBB"}) {
    EXPECT_FALSE(form_->findChild<QWidget*>(QLatin1String(name))->isEnabled()) << name;
  }
}

TEST_F(SetupFormTest, PermissionsEnableTheOptions) {
  job_.permissions.collate = true;
  Open(2);
  // Open() applied the receipt's permissions; a job allowing everything enables everything.
  job_.permissions = report::SetupPermissions{};
  form_ = std::make_unique<TfqevRelSetupForm>(job_, printer_);
  form_->show();
  for (const char* name : {"CopiesED", "CopiesLabel", "CollateCK", "DuplexCK", "SetupBB"}) {
    EXPECT_TRUE(form_->findChild<QWidget*>(QLatin1String(name))->isEnabled()) << name;
  }
}

TEST_F(SetupFormTest, NumberBoxesAreCorrectedOnLeaving) {
  Open(5);
  Child<QRadioButton>("PagesRB")->setChecked(true);
  struct Case {
    const char* box;
    const char* typed;
    const char* from;  // FromED before leaving
    const char* expected;
  };
  const Case cases[] = {
      {"CopiesED", "abc", "1", "1"}, {"CopiesED", " 007", "1", "7"}, {"CopiesED", "-2", "1", "-2"},
      {"FromED", "x1", "1", "1"},    {"FromED", "0003", "1", "3"},   {"ToED", "xyz", "3", "3"},
      {"ToED", "", "2", "2"},        {"ToED", "12", "2", "12"},
  };
  for (const Case& c : cases) {
    Edit("FromED")->setText(QString::fromLatin1(c.from));
    Leave(Edit(c.box), QString::fromLatin1(c.typed));
    EXPECT_EQ(Edit(c.box)->text(), QString::fromLatin1(c.expected)) << c.box << " " << c.typed;
  }
}

TEST_F(SetupFormTest, RangeRadios) {
  Open(3);
  Child<QRadioButton>("SelectionRB")->setChecked(true);
  EXPECT_TRUE(Edit("SelectionED")->isVisible());
  EXPECT_TRUE(Edit("SelectionED")->isEnabled());
  EXPECT_FALSE(Edit("FromED")->isVisible());
  Child<QRadioButton>("PagesRB")->setChecked(true);
  EXPECT_FALSE(Edit("SelectionED")->isVisible());
  for (const char* name : {"FromLabel", "FromED", "ToLabel", "ToED"}) {
    QWidget* w = form_->findChild<QWidget*>(QLatin1String(name));
    EXPECT_TRUE(w->isVisible() && w->isEnabled()) << name;
  }
  Child<QRadioButton>("AllRB")->setChecked(true);
  for (const char* name : {"FromLabel", "FromED", "ToLabel", "ToED"}) {
    QWidget* w = form_->findChild<QWidget*>(QLatin1String(name));
    EXPECT_FALSE(w->isEnabled()) << name;
  }
}

TEST_F(SetupFormTest, OkHandsTheChoicesOver) {
  Open(4);
  Edit("CopiesED")->setText(QStringLiteral("3"));
  Child<QRadioButton>("PagesRB")->setChecked(true);
  Edit("FromED")->setText(QStringLiteral("2"));
  Edit("ToED")->setText(QStringLiteral("zz"));     // OK by Enter: never left the box
  Child<QCheckBox>("DuplexCK")->setChecked(true);  // disabled for this job: ignored
  form_->OKBBClick();
  EXPECT_EQ(form_->result(), QDialog::Accepted);
  EXPECT_EQ(printer_.first_page, 2);
  EXPECT_EQ(printer_.last_page, 2);
  EXPECT_EQ(printer_.page_list, QString());
  EXPECT_EQ(printer_.copies, 3);
  EXPECT_EQ(job_.copies, 3);
  EXPECT_FALSE(printer_.duplex);
  EXPECT_FALSE(job_.duplex);

  form_ = std::make_unique<TfqevRelSetupForm>(job_, printer_);
  form_->show();
  EXPECT_EQ(Edit("CopiesED")->text(), QStringLiteral("3"));  // the job's copies
  Child<QRadioButton>("SelectionRB")->setChecked(true);
  Edit("SelectionED")->setText(QStringLiteral("1, 3-4"));
  Edit("CopiesED")->setText(QStringLiteral("many"));
  form_->OKBBClick();
  EXPECT_EQ(printer_.first_page, 1);
  EXPECT_EQ(printer_.last_page, 9999);
  EXPECT_EQ(printer_.page_list, QStringLiteral("1, 3-4"));
  EXPECT_EQ(printer_.copies, 3);  // not a number: left as it was
}

TEST_F(SetupFormTest, PrinterSetupUnchangedNeedsNoReprint) {
  Open(1);
  int runs = 0;
  env_.Device().SetSetupDialogRunner([&](report::ReportDevice&) {
    ++runs;
    return true;
  });
  form_->SetupBBClick();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(form_->ReprintNeeded());
  EXPECT_EQ(job_.destination, Destination::kFile);
  env_.Device().SetSetupDialogRunner([](report::ReportDevice& d) {
    d.SetPaperCode(report::kPaperLetter);
    return false;  // cancelled: whatever it touched does not count
  });
  form_->SetupBBClick();
  EXPECT_FALSE(form_->ReprintNeeded());
}

TEST_F(SetupFormTest, NewPaperReprintsStraightToThePrinter) {
  Open(1);
  int before_runs = 0;
  job_.on_before_print = [&](ReportJob& j) {
    ++before_runs;
    j.SetMargins({2, 2, 2, 2});
  };
  env_.Device().SetSetupDialogRunner([](report::ReportDevice& d) {
    d.SetPaperCode(report::kPaperLetter);
    return true;
  });
  form_->SetupBBClick();
  EXPECT_TRUE(form_->ReprintNeeded());
  EXPECT_EQ(job_.destination, Destination::kPrinter);
  form_->OKBBClick();
  EXPECT_EQ(form_->result(), QDialog::Rejected);  // the preview must not print its old spool
  EXPECT_EQ(before_runs, 1);
  QStringList written = QDir(env_.Folder()).entryList(QDir::Files);
  ASSERT_EQ(written.size(), 1);
  EXPECT_NEAR(job_.LastSpool()->Load().pages.at(0).size.width() / report::kDotsPerCm, 21.59, 0.01);
}

}  // namespace
}  // namespace vorncom::receipt
