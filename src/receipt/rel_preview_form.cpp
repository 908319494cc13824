#include "receipt/rel_preview_form.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

#include "common/messages.h"
#include "receipt/preview_glyphs.h"
#include "receipt/qt_text.h"
#include "receipt/rel_setup_form.h"

namespace vorncom::receipt {
namespace {

constexpr int kZoomPageWidthItem = 4;
constexpr int kZoomWholePageItem = 5;
constexpr int kStatusPanel1Width = 135;
constexpr int kScrollStep = 20;

QToolButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& hint, Glyph glyph) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setAutoRaise(true);  // flat
  button->setText(caption);
  button->setToolTip(hint);
  button->setAccessibleName(hint);
  button->setAccessibleDescription(hint);
  button->setIcon(MakeGlyph(glyph));
  button->setIconSize(QSize(20, 20));
  button->setFocusPolicy(Qt::NoFocus);
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  return button;
}

}  // namespace

TfqevRelPreviewForm::TfqevRelPreviewForm(report::ReportJob& job, QWidget* parent)
    : QDialog(parent), job_(job), printer_(job.Device()) {
  setObjectName(QStringLiteral("fqevRelPreviewForm"));
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  setFont(font);
  resize(800, 600);
  setSizeGripEnabled(false);

  Panel2 = new QFrame(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFixedHeight(38);
  Panel2->setFrameShape(QFrame::StyledPanel);
  auto* bar = new QHBoxLayout(Panel2);
  bar->setContentsMargins(4, 2, 4, 2);
  bar->setSpacing(2);
  SBPrint =
      MakeButton(Panel2, "SBPrint", QStringLiteral("&I"), Q(msg::kPreviewPrint), Glyph::kPrint);
  SBExport =
      MakeButton(Panel2, "SBExport", QStringLiteral("  &S"), Q(msg::kPreviewSave), Glyph::kSave);
  SBZoomIn =
      MakeButton(Panel2, "SBZoomIn", QStringLiteral("&M"), Q(msg::kPreviewZoomIn), Glyph::kZoomIn);
  SBZoomOut = MakeButton(Panel2, "SBZoomOut", QStringLiteral("&N"), Q(msg::kPreviewZoomOut),
                         Glyph::kZoomOut);
  SBZoomPageWidth = MakeButton(Panel2, "SBZoomPageWidth", QStringLiteral("&L"),
                               Q(msg::kPreviewPageWidth), Glyph::kPageWidth);
  SBZoomPage = MakeButton(Panel2, "SBZoomPage", QStringLiteral("&T"), Q(msg::kPreviewWholePage),
                          Glyph::kWholePage);
  Label1 = new QLabel(QStringLiteral("Zoom :"), Panel2);
  Label1->setObjectName(QStringLiteral("Label1"));
  ZoomEdit = new QComboBox(Panel2);
  ZoomEdit->setObjectName(QStringLiteral("ZoomEdit"));
  ZoomEdit->setEditable(true);
  ZoomEdit->setInsertPolicy(QComboBox::NoInsert);
  ZoomEdit->addItems({QStringLiteral("100 %"), QStringLiteral("75 %"), QStringLiteral("50 %"),
                      QStringLiteral("25 %"), Q(msg::kPreviewZoomPageWidth),
                      Q(msg::kPreviewZoomWholePage)});
  ZoomEdit->setMinimumWidth(140);
  SBFirstPage =
      MakeButton(Panel2, "SBFirstPage", QString(), Q(msg::kPreviewFirstPage), Glyph::kFirst);
  SBPrevPage =
      MakeButton(Panel2, "SBPrevPage", QString(), Q(msg::kPreviewPreviousPage), Glyph::kPrev);
  PageEdit = new QLineEdit(Panel2);
  PageEdit->setObjectName(QStringLiteral("PageEdit"));
  PageEdit->setFixedWidth(36);
  SBNextPage = MakeButton(Panel2, "SBNextPage", QString(), Q(msg::kPreviewNextPage), Glyph::kNext);
  SBLastPage = MakeButton(Panel2, "SBLastPage", QString(), Q(msg::kPreviewLastPage), Glyph::kLast);
  SBDone = MakeButton(Panel2, "SBDone", Q(msg::kPreviewCloseButton), Q(msg::kPreviewClose),
                      Glyph::kClose);
  SBDone->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  for (QWidget* w : {static_cast<QWidget*>(SBPrint), static_cast<QWidget*>(SBExport)}) {
    bar->addWidget(w);
  }
  bar->addSpacing(8);
  for (QWidget* w : {static_cast<QWidget*>(SBZoomIn), static_cast<QWidget*>(SBZoomOut),
                     static_cast<QWidget*>(SBZoomPageWidth), static_cast<QWidget*>(SBZoomPage)}) {
    bar->addWidget(w);
  }
  bar->addSpacing(6);
  bar->addWidget(Label1);
  bar->addWidget(ZoomEdit);
  bar->addSpacing(8);
  for (QWidget* w : {static_cast<QWidget*>(SBFirstPage), static_cast<QWidget*>(SBPrevPage),
                     static_cast<QWidget*>(PageEdit), static_cast<QWidget*>(SBNextPage),
                     static_cast<QWidget*>(SBLastPage)}) {
    bar->addWidget(w);
  }
  bar->addStretch(1);
  bar->addWidget(SBDone);

  ScrollBox1 = new QScrollArea(this);
  ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
  ScrollBox1->setBackgroundRole(QPalette::Dark);
  QPalette grey = ScrollBox1->palette();
  grey.setColor(QPalette::Dark, QColor(128, 128, 128));
  ScrollBox1->setPalette(grey);
  ScrollBox1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  ScrollBox1->setFocusPolicy(Qt::StrongFocus);
  page_image_ = new QLabel;
  page_image_->setObjectName(QStringLiteral("PageImage"));
  ScrollBox1->setWidget(page_image_);
  ScrollBox1->verticalScrollBar()->setSingleStep(kScrollStep);
  ScrollBox1->horizontalScrollBar()->setSingleStep(kScrollStep);

  sbaStatus = new QStatusBar(this);
  sbaStatus->setObjectName(QStringLiteral("sbaStatus"));
  sbaStatus->setSizeGripEnabled(false);
  status_panel0_ = new QLabel(Q(msg::Format(msg::kPreviewViewingPage, {"1", "1"})), sbaStatus);
  status_panel0_->setObjectName(QStringLiteral("sbaStatusPanel0"));
  sbaStatus->addWidget(status_panel0_, 1);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(Panel2);
  layout->addWidget(ScrollBox1, 1);
  layout->addWidget(sbaStatus);

  connect(SBZoomIn, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBZoomInClick);
  connect(SBZoomOut, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBZoomOutClick);
  connect(SBZoomPageWidth, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBZoomPageWidthClick);
  connect(SBZoomPage, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBZoomPageClick);
  connect(SBFirstPage, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBFirstPageClick);
  connect(SBPrevPage, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBPrevPageClick);
  connect(SBNextPage, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBNextPageClick);
  connect(SBLastPage, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBLastPageClick);
  connect(SBPrint, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBPrintClick);
  connect(SBDone, &QToolButton::clicked, this, &TfqevRelPreviewForm::SBDoneClick);
  connect(ZoomEdit, qOverload<int>(&QComboBox::activated), this,
          &TfqevRelPreviewForm::ZoomEditChange);
  connect(ZoomEdit->lineEdit(), &QLineEdit::returnPressed, this,
          &TfqevRelPreviewForm::ApplyZoomText);
  connect(PageEdit, &QLineEdit::returnPressed, this, &TfqevRelPreviewForm::PageEditExit);
  for (QObject* o : {static_cast<QObject*>(PageEdit), static_cast<QObject*>(ZoomEdit),
                     static_cast<QObject*>(ZoomEdit->lineEdit()), static_cast<QObject*>(ScrollBox1),
                     static_cast<QObject*>(ScrollBox1->viewport())}) {
    o->installEventFilter(this);
  }

  preview_.on_page_change = [this] { FilePreview1PageChange(); };
  preview_.on_zoom_change = [this] { FilePreview1ZoomChange(); };
  run_setup_dialog = [this](report::ReportJob& job, report::FilePrinter& printer) {
    TfqevRelSetupForm setup(job, printer, this);
    return setup.exec();
  };
  on_print_error = [this](const QString& text) { status_panel0_->setText(text); };
  FormCreate();
  const struct {
    QWidget* widget;
    const char* name;
    const char* description;
  } spoken[] = {
      {this, "Visualização do relatório", "Páginas do relatório antes de imprimir ou salvar."},
      {Panel2, "Barra de ferramentas", "Impressão, zoom e navegação entre páginas."},
      {ZoomEdit, "Zoom", "Percentual de ampliação da página."},
      {PageEdit, "Página", "Número da página mostrada; Enter vai até ela."},
      {ScrollBox1, "Página do relatório", "Área com a página mostrada, com rolagem."},
      {page_image_, "Imagem da página", "A página do relatório como será impressa."},
      {sbaStatus, "Barra de situação", "Página mostrada e andamento da preparação."},
  };
  for (const auto& s : spoken) {
    s.widget->setAccessibleName(QString::fromUtf8(s.name));
    s.widget->setAccessibleDescription(QString::fromUtf8(s.description));
  }
  status_panel0_->setAccessibleDescription(QStringLiteral("Página mostrada e total de páginas."));
}

TfqevRelPreviewForm::~TfqevRelPreviewForm() = default;

void TfqevRelPreviewForm::FormCreate() {
  progress_ = new QProgressBar(sbaStatus);
  progress_->setObjectName(QStringLiteral("ProgressBar"));
  progress_->setFixedWidth(kStatusPanel1Width);
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  sbaStatus->addPermanentWidget(progress_);
}

void TfqevRelPreviewForm::Bind() {
  auto spool = job_.LastSpool();
  printer_.spool = spool;
  preview_.page_margin_percent = job_.preview.page_margin_percent;
  if (QScreen* screen = this->screen()) preview_.screen_dpi = screen->logicalDotsPerInch();
  if (spool && !preview_.Running()) preview_.Start(spool->Path());
}

void TfqevRelPreviewForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_once_) {
    shown_once_ = true;
    FormShow();
  }
}

void TfqevRelPreviewForm::FormShow() {
  if (!preview_.Running()) {
    try {
      Bind();
    } catch (const std::exception& e) {
      on_print_error(QString::fromStdString(e.what()));
    }
  }
  if (layout()) layout()->activate();
  SBZoomPageWidthClick();
  zoom_index_ = kZoomPageWidthItem;
  ZoomEdit->setCurrentIndex(kZoomPageWidthItem);
  tag_ = job_.tag;
  SBExport->setEnabled(tag_ != 1);
  FilePreview1PageChange();
  ShowPage();
  ScrollBox1->setFocus();
}

void TfqevRelPreviewForm::done(int result) {
  // Every way out (close box, Escape, Fechar) ends here.
  FormClose();
  QDialog::done(result);
}

void TfqevRelPreviewForm::FormClose() {
  if (preview_.Running()) preview_.Finish();
  closed_ = true;
}

void TfqevRelPreviewForm::SBDoneClick() { close(); }

QString TfqevRelPreviewForm::StatusText() const { return status_panel0_->text(); }

QSize TfqevRelPreviewForm::ViewportSize() const {
  int frame = 2 * ScrollBox1->frameWidth();
  int scrollbar = ScrollBox1->verticalScrollBar()->sizeHint().width();
  // The page is nearly always taller than the view, so the vertical bar's room is reserved.
  return QSize(std::max(1, ScrollBox1->width() - frame - scrollbar),
               std::max(1, ScrollBox1->height() - frame));
}

void TfqevRelPreviewForm::SBZoomInClick() { preview_.ZoomIn(); }
void TfqevRelPreviewForm::SBZoomOutClick() { preview_.ZoomOut(); }
void TfqevRelPreviewForm::SBZoomPageWidthClick() {
  preview_.SetZoom(preview_.PageWidthZoom(ViewportSize()));
}
void TfqevRelPreviewForm::SBZoomPageClick() {
  preview_.SetZoom(preview_.WholePageZoom(ViewportSize()));
}

void TfqevRelPreviewForm::ViewToTop() { ScrollBox1->verticalScrollBar()->setValue(0); }

void TfqevRelPreviewForm::SBPrevPageClick() {
  preview_.PrevPage();
  ViewToTop();
}
void TfqevRelPreviewForm::SBNextPageClick() {
  preview_.NextPage();
  ViewToTop();
}
void TfqevRelPreviewForm::SBFirstPageClick() {
  preview_.GoToPage(preview_.FirstPage());
  ViewToTop();
}
void TfqevRelPreviewForm::SBLastPageClick() {
  preview_.GoToPage(preview_.PageCount());
  ViewToTop();
}

void TfqevRelPreviewForm::FilePreview1PageChange() {
  PageEdit->setText(QString::number(preview_.CurrentPage()));
  status_panel0_->setText(Q(msg::Format(
      msg::kPreviewViewingPage, {std::to_string(preview_.CurrentPage() - preview_.FirstPage() + 1),
                                 std::to_string(preview_.PageCount())})));
  ShowPage();
}

void TfqevRelPreviewForm::FilePreview1ZoomChange() {
  QString text = QStringLiteral("%1 %").arg(std::lround(preview_.Zoom()));
  // Like a typed text, a zoom shown in the box selects the list item it matches, if any.
  ZoomEdit->setCurrentIndex(ZoomEdit->findText(text));
  ZoomEdit->setEditText(text);
  ShowPage();
}

void TfqevRelPreviewForm::ShowPage() {
  page_image_->setPixmap(QPixmap::fromImage(preview_.Render()));
  page_image_->adjustSize();
}

void TfqevRelPreviewForm::PageEditExit() {
  bool ok = false;
  int page = PageEdit->text().trimmed().toInt(&ok);
  if (ok && page != preview_.CurrentPage()) {
    preview_.GoToPage(page);
    ViewToTop();
  }
  // A page the report does not have leaves the current one; show which that is.
  PageEdit->setText(QString::number(preview_.CurrentPage()));
}

void TfqevRelPreviewForm::ZoomEditEnter() { zoom_index_ = ZoomEdit->currentIndex(); }

void TfqevRelPreviewForm::ZoomEditChange(int index) {
  // Choosing an item applies it even when it is the item already remembered: after a zoom by
  // button the box no longer shows that item's zoom.
  ApplyZoomItem(index);
}

void TfqevRelPreviewForm::ZoomEditExit() { ApplyZoomText(); }

void TfqevRelPreviewForm::ApplyZoomItem(int index) {
  switch (index) {
    case 0:
      preview_.SetZoom(100);
      break;
    case 1:
      preview_.SetZoom(75);
      break;
    case 2:
      preview_.SetZoom(50);
      break;
    case 3:
      preview_.SetZoom(25);
      break;
    case kZoomPageWidthItem:
      SBZoomPageWidthClick();
      break;
    case kZoomWholePageItem:
      SBZoomPageClick();
      break;
    default:
      return;
  }
  zoom_index_ = index;
  // The zoom may not have changed (for example page width again): show the item anyway.
  FilePreview1ZoomChange();
  if (index >= kZoomPageWidthItem) {
    ZoomEdit->setCurrentIndex(index);
  }
}

void TfqevRelPreviewForm::ApplyZoomText() {
  QString text = ZoomEdit->currentText();
  int item = ZoomEdit->findText(text);
  if (item >= kZoomPageWidthItem) {
    if (item != zoom_index_) ApplyZoomItem(item);
    return;
  }
  qsizetype percent = text.indexOf(QLatin1Char('%'));
  QString number = (percent >= 0 ? text.left(percent) : text).trimmed();
  number.replace(QLatin1Char(','), QLatin1Char('.'));
  bool ok = false;
  double zoom = number.toDouble(&ok);
  if (ok && std::isfinite(zoom) && zoom != preview_.Zoom()) {
    preview_.SetZoom(zoom);
    zoom_index_ = ZoomEdit->currentIndex();
  }
  FilePreview1ZoomChange();
}

void TfqevRelPreviewForm::SBPrintClick() {
  if (!job_.preview.allow_print || !job_.permissions.preview_print_setup) return;
  if (!printer_.spool) return;
  if (run_setup_dialog(job_, printer_) != QDialog::Accepted) return;
  printer_.on_progress = [this](int done, int total) {
    progress_->setValue(total > 0 ? done * 100 / total : 0);
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  };
  try {
    // The "PDF" printer names its file, so the user knows where the document went.
    const QString written = printer_.Print();
    if (!written.isEmpty()) status_panel0_->setText(Q(msg::kPreviewPdfWritten).arg(written));
  } catch (const std::exception& e) {
    on_print_error(QString::fromStdString(e.what()));
  }
  printer_.on_progress = nullptr;
  progress_->setValue(0);
}

bool TfqevRelPreviewForm::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
  modifiers &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
  const bool none = modifiers == Qt::NoModifier;
  const bool ctrl = modifiers == Qt::ControlModifier;
  const bool ctrl_shift = modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
  QScrollBar* v = ScrollBox1->verticalScrollBar();
  QScrollBar* h = ScrollBox1->horizontalScrollBar();
  const int visible_height = ScrollBox1->viewport()->height();
  const int visible_width = ScrollBox1->viewport()->width();
  switch (key) {
    case Qt::Key_PageUp:
      if (none)
        v->setValue(v->value() - visible_height);
      else if (ctrl)
        SBPrevPageClick();
      else
        return false;
      return true;
    case Qt::Key_PageDown:
      if (none)
        v->setValue(v->value() + visible_height);
      else if (ctrl)
        SBNextPageClick();
      else
        return false;
      return true;
    case Qt::Key_Home:
      if (none)
        v->setValue(v->minimum());
      else if (ctrl)
        SBFirstPageClick();
      else
        return false;
      return true;
    case Qt::Key_End:
      if (none)
        v->setValue(v->maximum());
      else if (ctrl)
        SBLastPageClick();
      else
        return false;
      return true;
    case Qt::Key_Up:
      if (!none && !ctrl) return false;
      v->setValue(v->value() - v->singleStep());
      return true;
    case Qt::Key_Down:
      if (!none && !ctrl) return false;
      v->setValue(v->value() + v->singleStep());
      return true;
    case Qt::Key_Left:
      if (ctrl)
        h->setValue(h->value() - h->singleStep());
      else if (ctrl_shift)
        h->setValue(h->value() - visible_width);
      else
        return false;
      return true;
    case Qt::Key_Right:
      if (ctrl)
        h->setValue(h->value() + h->singleStep());
      else if (ctrl_shift)
        h->setValue(h->value() + visible_width);
      else
        return false;
      return true;
    default:
      return false;
  }
}

void TfqevRelPreviewForm::keyPressEvent(QKeyEvent* event) {
  if (FormKeyDown(event->key(), event->modifiers())) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool TfqevRelPreviewForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (FormKeyDown(key->key(), key->modifiers())) return true;
  } else if (event->type() == QEvent::FocusIn) {
    if (watched == ZoomEdit->lineEdit() || watched == ZoomEdit) ZoomEditEnter();
  } else if (event->type() == QEvent::FocusOut) {
    auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Opening the combo's own list is not leaving the box.
    if (reason != Qt::PopupFocusReason) {
      if (watched == PageEdit) PageEditExit();
      // The combo is its line edit's focus proxy; either may report the leave.
      if (watched == ZoomEdit->lineEdit() || watched == ZoomEdit) ZoomEditExit();
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace vorncom::receipt
