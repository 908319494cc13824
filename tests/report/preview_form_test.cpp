#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "receipt/preview_host.h"
#include "receipt/printer_setup_dialog.h"
#include "receipt/rel_preview_form.h"
#include "report/paper.h"
#include "report_test_support.h"

namespace vorncom::receipt {
namespace {

using report::Destination;
using report::ReportJob;
using report::testing::PdfPrinterEnvironment;
using report::testing::SetUpPagedJob;

class PreviewFormTest : public ::testing::Test {
 protected:
  void Open(int pages, int tag = 1) {
    ASSERT_TRUE(env_.Device().SelectPrinter(QStringLiteral("PDF")));
    SetUpPagedJob(job_, pages);
    job_.destination = Destination::kFile;  // spool only; the test opens the window itself
    job_.tag = tag;
    job_.Execute();
    form_ = std::make_unique<TfqevRelPreviewForm>(job_);
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  template <typename T>
  T* Child(const char* name) {
    return form_->findChild<T*>(QLatin1String(name));
  }
  QComboBox* Zoom() { return Child<QComboBox>("ZoomEdit"); }
  QScrollBar* VBar() { return Child<QScrollArea>("ScrollBox1")->verticalScrollBar(); }
  void TypeZoom(const QString& text) {
    Zoom()->setFocus();
    Zoom()->lineEdit()->selectAll();
    QTest::keyClicks(Zoom()->lineEdit(), text);
    QTest::keyClick(Zoom()->lineEdit(), Qt::Key_Return);
  }

  PdfPrinterEnvironment env_;
  ReportJob job_{env_.Device()};
  std::unique_ptr<TfqevRelPreviewForm> form_;
};

TEST_F(PreviewFormTest, ControlsCaptionsAndHints) {
  Open(1);
  struct Button {
    const char* name;
    const char* caption;
    const char* hint;
  };
  const Button buttons[] = {
      {"SBPrint", "&I", "Imprimir (Alt+I)"},
      {"SBExport", "  &S", "Salvar (Alt+S)"},
      {"SBZoomIn", "&M", "Aumentar zoom (Alt+M)"},
      {"SBZoomOut", "&N", "Diminuir zoom (Alt+N)"},
      {"SBZoomPageWidth", "&L", "Largura da página (Alt+L)"},
      {"SBZoomPage", "&T", "Página inteira (Alt+T)"},
      {"SBFirstPage", "", "Primeira página (Ctrl + Home)"},
      {"SBPrevPage", "", "Página anterior (Ctrl + PageUp)"},
      {"SBNextPage", "", "Próxima página (Ctrl + PageDown)"},
      {"SBLastPage", "", "Última página (Ctrl + End)"},
      {"SBDone", "&Fechar", "Fechar"},
  };
  for (const Button& b : buttons) {
    auto* button = Child<QToolButton>(b.name);
    ASSERT_NE(button, nullptr) << b.name;
    EXPECT_EQ(button->text(), QString::fromUtf8(b.caption)) << b.name;
    EXPECT_EQ(button->toolTip(), QString::fromUtf8(b.hint)) << b.name;
  }
  EXPECT_EQ(Child<QLabel>("Label1")->text(), QStringLiteral("Zoom :"));
  QStringList items;
  for (int i = 0; i < Zoom()->count(); ++i) items << Zoom()->itemText(i);
  EXPECT_EQ(items,
            QStringList({"100 %", "75 %", "50 %", "25 %", "Largura da Página", "Página Inteira"}));
  EXPECT_EQ(Child<QLineEdit>("PageEdit")->width(), 36);
}

TEST_F(PreviewFormTest, StartsAtPageWidthOnPageOne) {
  Open(1);
  report::FilePreview& preview = form_->FilePreview1();
  double zoom = preview.Zoom();
  form_->SBZoomPageWidthClick();
  EXPECT_EQ(preview.Zoom(), zoom);
  EXPECT_EQ(Zoom()->currentText(), QStringLiteral("Largura da Página"));
  EXPECT_EQ(form_->StatusText(), QStringLiteral("Visualizando página 1 de 1"));
  EXPECT_EQ(Child<QLineEdit>("PageEdit")->text(), QStringLiteral("1"));
  EXPECT_FALSE(Child<QToolButton>("SBExport")->isEnabled());
  EXPECT_EQ(form_->Tag(), 1);
  // The page image fills the width of the view (page plus its 5 % margins on both sides).
  auto* view = Child<QScrollArea>("ScrollBox1");
  EXPECT_NEAR(view->widget()->width(), view->viewport()->width(), 3);
  QTest::keyClick(form_.get(), Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(preview.CurrentPage(), 1);
  EXPECT_EQ(form_->StatusText(), QStringLiteral("Visualizando página 1 de 1"));
}

TEST_F(PreviewFormTest, SaveEnabledForOtherTags) {
  Open(1, 0);
  EXPECT_TRUE(Child<QToolButton>("SBExport")->isEnabled());
}

TEST_F(PreviewFormTest, ZoomBoxParsing) {
  Open(1);
  report::FilePreview& preview = form_->FilePreview1();
  TypeZoom(QStringLiteral("150 %"));
  EXPECT_EQ(preview.Zoom(), 150);
  EXPECT_EQ(Zoom()->currentText(), QStringLiteral("150 %"));
  TypeZoom(QStringLiteral("300"));
  EXPECT_EQ(preview.Zoom(), 200);
  EXPECT_EQ(Zoom()->currentText(), QStringLiteral("200 %"));
  TypeZoom(QStringLiteral("abc"));
  EXPECT_EQ(preview.Zoom(), 200);
  TypeZoom(QStringLiteral("%"));
  EXPECT_EQ(preview.Zoom(), 200);
  // Leaving the box applies it too.
  Zoom()->setFocus();
  Zoom()->lineEdit()->selectAll();
  QTest::keyClicks(Zoom()->lineEdit(), QStringLiteral("40"));
  Child<QLineEdit>("PageEdit")->setFocus();
  EXPECT_EQ(preview.Zoom(), 40);
  // Choosing list items.
  Zoom()->activated(1);
  EXPECT_EQ(preview.Zoom(), 75);
  Zoom()->setCurrentIndex(5);
  Zoom()->activated(5);
  auto* view = Child<QScrollArea>("ScrollBox1");
  EXPECT_LE(view->widget()->height(), view->viewport()->height() + 1);
  EXPECT_EQ(Zoom()->currentText(), QStringLiteral("Página Inteira"));
}

TEST_F(PreviewFormTest, ZoomButtonsStepAndStopAtTheLimits) {
  Open(1);
  report::FilePreview& preview = form_->FilePreview1();
  preview.SetZoom(100);
  form_->SBZoomInClick();
  EXPECT_EQ(preview.Zoom(), 110);
  EXPECT_EQ(Zoom()->currentText(), QStringLiteral("110 %"));
  for (int i = 0; i < 20; ++i) form_->SBZoomInClick();
  EXPECT_EQ(preview.Zoom(), 200);
  for (int i = 0; i < 30; ++i) form_->SBZoomOutClick();
  EXPECT_EQ(preview.Zoom(), 10);
  form_->SBZoomPageClick();
  EXPECT_GT(preview.Zoom(), 10);
  // The captions' mnemonics are the keyboard shortcuts the hints name (a shortcut clicks its
  // button after a short animation).
  preview.SetZoom(100);
  auto press = [this](Qt::Key key) {
    QTest::keyClick(form_.get(), key, Qt::AltModifier);
    QTest::qWait(250);
  };
  press(Qt::Key_M);
  EXPECT_EQ(preview.Zoom(), 110);
  press(Qt::Key_N);
  press(Qt::Key_N);
  EXPECT_EQ(preview.Zoom(), 90);
  press(Qt::Key_L);
  EXPECT_EQ(Zoom()->currentText(), QStringLiteral("%1 %").arg(std::lround(preview.Zoom())));
  EXPECT_NE(preview.Zoom(), 90);
}

TEST_F(PreviewFormTest, PageCommandsAndPageBox) {
  Open(3);
  report::FilePreview& preview = form_->FilePreview1();
  struct Step {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int page;
  };
  const Step steps[] = {
      {Qt::Key_End, Qt::ControlModifier, 3},    {Qt::Key_PageDown, Qt::ControlModifier, 3},
      {Qt::Key_PageUp, Qt::ControlModifier, 2}, {Qt::Key_Home, Qt::ControlModifier, 1},
      {Qt::Key_PageUp, Qt::ControlModifier, 1}, {Qt::Key_PageDown, Qt::ControlModifier, 2},
  };
  for (const Step& s : steps) {
    VBar()->setValue(VBar()->maximum());
    QTest::keyClick(form_.get(), s.key, s.modifiers);
    EXPECT_EQ(preview.CurrentPage(), s.page);
    EXPECT_EQ(VBar()->value(), 0);  // view to top
  }
  EXPECT_EQ(form_->StatusText(), QStringLiteral("Visualizando página 2 de 3"));
  auto* page = Child<QLineEdit>("PageEdit");
  page->setFocus();
  page->selectAll();
  QTest::keyClicks(page, QStringLiteral("3"));
  QTest::keyClick(page, Qt::Key_Return);
  EXPECT_EQ(preview.CurrentPage(), 3);
  EXPECT_EQ(form_->StatusText(), QStringLiteral("Visualizando página 3 de 3"));
  page->selectAll();
  QTest::keyClicks(page, QStringLiteral("99"));
  QTest::keyClick(page, Qt::Key_Return);
  EXPECT_EQ(preview.CurrentPage(), 3);
  EXPECT_EQ(page->text(), QStringLiteral("3"));
  form_->SBFirstPageClick();
  form_->SBNextPageClick();
  EXPECT_EQ(preview.CurrentPage(), 2);
  form_->SBLastPageClick();
  form_->SBPrevPageClick();
  EXPECT_EQ(preview.CurrentPage(), 2);
}

TEST_F(PreviewFormTest, KeyboardScrolling) {
  Open(1);
  form_->FilePreview1().SetZoom(200);
  QScrollBar* v = VBar();
  QScrollBar* h = Child<QScrollArea>("ScrollBox1")->horizontalScrollBar();
  int visible_height = Child<QScrollArea>("ScrollBox1")->viewport()->height();
  int visible_width = Child<QScrollArea>("ScrollBox1")->viewport()->width();
  ASSERT_GT(v->maximum(), 2 * visible_height);
  ASSERT_GT(h->maximum(), visible_width + h->singleStep());
  struct Step {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    QScrollBar* bar;
    int expected;  // -1: the bar's maximum
  };
  const Step steps[] = {
      {Qt::Key_PageDown, Qt::NoModifier, v, visible_height},
      {Qt::Key_Down, Qt::NoModifier, v, visible_height + v->singleStep()},
      {Qt::Key_Down, Qt::ControlModifier, v, visible_height + 2 * v->singleStep()},
      {Qt::Key_Up, Qt::NoModifier, v, visible_height + v->singleStep()},
      {Qt::Key_PageUp, Qt::NoModifier, v, v->singleStep()},
      {Qt::Key_PageUp, Qt::NoModifier, v, 0},
      {Qt::Key_Up, Qt::NoModifier, v, 0},
      {Qt::Key_End, Qt::NoModifier, v, -1},
      {Qt::Key_PageDown, Qt::NoModifier, v, -1},
      {Qt::Key_Home, Qt::NoModifier, v, 0},
      {Qt::Key_Right, Qt::ControlModifier, h, h->singleStep()},
      {Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier, h, h->singleStep() + visible_width},
      {Qt::Key_Left, Qt::ControlModifier, h, visible_width},
      {Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier, h, 0},
  };
  for (const Step& s : steps) {
    QTest::keyClick(Child<QScrollArea>("ScrollBox1"), s.key, s.modifiers);
    int expected = s.expected < 0 ? s.bar->maximum() : s.expected;
    EXPECT_EQ(s.bar->value(), expected) << s.key << " " << int(s.modifiers);
  }
  // Plain Left and Right stay with the page box, where they move the caret.
  auto* page = Child<QLineEdit>("PageEdit");
  page->setFocus();
  page->setText(QStringLiteral("12"));
  page->setCursorPosition(2);
  QTest::keyClick(page, Qt::Key_Left);
  EXPECT_EQ(page->cursorPosition(), 1);
  // The window's keys also work from the page box.
  QTest::keyClick(page, Qt::Key_End);
  EXPECT_EQ(v->value(), v->maximum());
}

TEST_F(PreviewFormTest, PrintsOnlyWhenTheSetupDialogSaysOk) {
  Open(2);
  int asked = 0;
  int answer = QDialog::Rejected;
  form_->run_setup_dialog = [&](ReportJob&, report::FilePrinter&) {
    ++asked;
    return answer;
  };
  QDir folder(env_.Folder());
  form_->SBPrintClick();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(folder.entryList(QDir::Files).isEmpty());
  EXPECT_TRUE(form_->isVisible());
  answer = QDialog::Accepted;
  form_->SBPrintClick();
  EXPECT_EQ(folder.entryList(QDir::Files).size(), 1);
  // A job that does not allow printing from the preview never opens the dialog.
  job_.preview.allow_print = false;
  form_->SBPrintClick();
  EXPECT_EQ(asked, 2);
}

TEST_F(PreviewFormTest, ClosingFinishesThePreview) {
  Open(1);
  EXPECT_TRUE(form_->FilePreview1().Running());
  form_->SBDoneClick();
  EXPECT_TRUE(form_->Closed());
  EXPECT_FALSE(form_->FilePreview1().Running());
  EXPECT_FALSE(form_->isVisible());
}

TEST(PreviewHostTest, ModalPreviewThroughTheOverrideHook) {
  PdfPrinterEnvironment env;
  ReportJob job(env.Device());
  SetUpPagedJob(job, 2);
  job.titles.preview = QStringLiteral("Visualização do Recibo");
  PreviewHost host;
  job.on_override_preview = [&](ReportJob& j, report::PreviewAction a) { host.Handle(j, a); };
  QString caption;
  QString status;
  QSize size;
  host.on_created = [&](TfqevRelPreviewForm& window) {
    QTimer::singleShot(0, &window, [&] {
      caption = window.windowTitle();
      status = window.StatusText();
      size = window.size();
      window.SBDoneClick();
    });
  };
  job.Execute();
  EXPECT_EQ(caption, QStringLiteral("Visualização do Recibo"));
  EXPECT_EQ(status, QStringLiteral("Visualizando página 1 de 2"));
  EXPECT_EQ(size, QSize(688, 512));
  EXPECT_EQ(host.Window(), nullptr);  // freed
}

TEST(PreviewHostTest, NonModalPreviewIsAwaited) {
  PdfPrinterEnvironment env;
  ReportJob job(env.Device());
  SetUpPagedJob(job, 1);
  job.preview.modal = false;
  PreviewHost host;
  job.on_override_preview = [&](ReportJob& j, report::PreviewAction a) { host.Handle(j, a); };
  bool was_modal = true;
  host.on_created = [&](TfqevRelPreviewForm& window) {
    QTimer::singleShot(50, &window, [&] {
      was_modal = window.isModal();
      window.SBDoneClick();
    });
  };
  job.Execute();  // returns only once the window has closed
  EXPECT_FALSE(was_modal);
  EXPECT_EQ(host.Window(), nullptr);
}

TEST(PrinterSetupDialogTest, ChangesReachTheDeviceOnlyOnOk) {
  PdfPrinterEnvironment env;
  report::ReportDevice& device = env.Device();
  ASSERT_TRUE(device.SelectPrinter(QStringLiteral("PDF")));
  device.SetPaperCode(report::kPaperA4);
  for (bool ok : {false, true}) {
    PrinterSetupDialog dialog(device);
    dialog.show();
    auto* papers = dialog.findChild<QComboBox*>(QStringLiteral("PaperCombo"));
    ASSERT_NE(papers, nullptr);
    EXPECT_EQ(papers->currentData().toInt(), report::kPaperA4);
    papers->setCurrentIndex(papers->findData(report::kPaperLetter));
    dialog.findChild<QRadioButton*>(QStringLiteral("LandscapeRB"))->setChecked(true);
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    QTest::mouseClick(buttons->button(ok ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel),
                      Qt::LeftButton);
    EXPECT_EQ(dialog.result(), ok ? QDialog::Accepted : QDialog::Rejected);
    EXPECT_EQ(device.PaperCode(), ok ? report::kPaperLetter : report::kPaperA4);
    EXPECT_EQ(device.GetOrientation(),
              ok ? report::Orientation::kLandscape : report::Orientation::kPortrait);
  }
}

}  // namespace
}  // namespace vorncom::receipt
