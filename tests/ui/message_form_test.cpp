#include <gtest/gtest.h>

#include <cmath>

#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTemporaryFile>
#include <QTest>
#include <QUrl>
#include <QWindow>

#include "common/ui/message_form.h"
#include "common/ui/qev_button.h"
#include "modal_watchdog.h"
#include "support/accessibility_probe.h"

namespace vorncom::ui {
namespace {

using testing::ClickButton;
using testing::CloseWindow;
using testing::ModalWatchdog;
using testing::PressKey;

TqevButton* FindButton(const QWidget& form, const char* name) {
  return form.findChild<TqevButton*>(QString::fromLatin1(name));
}

std::vector<TqevButton*> RowButtons(const QWidget& form) {
  std::vector<TqevButton*> row;
  for (TqevButton* b : form.findChildren<TqevButton*>()) {
    if (b->objectName() != QLatin1String("btn_Detalhes")) row.push_back(b);
  }
  std::sort(row.begin(), row.end(), [](auto* a, auto* b) { return a->x() < b->x(); });
  return row;
}

struct KindCase {
  MessageKind kind;
  const char* title;  // nullptr: the host application's title
  bool icon;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << static_cast<int>(c.kind); }

class KindTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(KindTest, TitleAndIcon) {
  const KindCase& c = GetParam();
  auto form = CriarMensagem("Texto", c.kind, buttons::kOk, {}, false, false);
  const QString title =
      c.title ? QString::fromUtf8(c.title) : QGuiApplication::applicationDisplayName();
  EXPECT_EQ(form->windowTitle(), title);
  EXPECT_FALSE(title.isEmpty());
  const auto* image = form->findChild<QLabel*>(QStringLiteral("Image"));
  ASSERT_EQ(image != nullptr, c.icon);
  const auto* message = form->findChild<QLabel*>(QStringLiteral("Message"));
  ASSERT_NE(message, nullptr);
  if (image != nullptr) {
    EXPECT_EQ(image->size(), QSize(32, 32));
    EXPECT_FALSE(image->pixmap().isNull());
    EXPECT_GT(message->x(), image->geometry().right()) << "the text starts after the icon";
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, KindTest,
                         ::testing::Values(KindCase{MessageKind::kWarning, "Aviso", true},
                                           KindCase{MessageKind::kError, "Erro", true},
                                           KindCase{MessageKind::kInformation, "Informação", true},
                                           KindCase{MessageKind::kConfirmation, "Confirmação",
                                                    true},
                                           KindCase{MessageKind::kCustom, nullptr, false},
                                           KindCase{MessageKind::kMessage, "Mensagem", true},
                                           KindCase{MessageKind::kSystemError, "Erro", true}));

TEST(MessageForm, CustomKindUsesTheHostTitleAndStaysAboveTheHostWindow) {
  const QString saved = QGuiApplication::applicationDisplayName();
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Programa Anfitrião"));
  QWidget host;
  host.resize(200, 100);
  testing::ShowActive(host);
  QWindow* parent = nullptr;
  ModalWatchdog watchdog;
  watchdog.Then([&parent](QWidget* dialog) {
    parent = dialog->windowHandle()->transientParent();
    dialog->close();
  });
  auto form = CriarMensagem("Texto", MessageKind::kCustom, buttons::kOk, {}, false, false);
  QGuiApplication::setApplicationDisplayName(saved);
  EXPECT_EQ(form->windowTitle(), QStringLiteral("Programa Anfitrião"));
  EXPECT_EQ(form->ShowModal(), 2);
  EXPECT_EQ(parent, host.windowHandle());
  EXPECT_EQ(form->parent(), nullptr) << "the host never owns the dialog";
}

struct ResultCase {
  const char* name;
  ButtonSet set;
  std::function<void(QWidget*)> action;
  int result;
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

class ResultTest : public ::testing::TestWithParam<ResultCase> {};

TEST_P(ResultTest, ModalResult) {
  const ResultCase& c = GetParam();
  ModalWatchdog watchdog;
  watchdog.Then(c.action);
  auto form =
      CriarMensagem("Deseja continuar?", MessageKind::kConfirmation, c.set, {}, false, false);
  EXPECT_EQ(form->ShowModal(), c.result);
  EXPECT_EQ(watchdog.Handled(), 1);
  EXPECT_EQ(watchdog.Strays(), 0);
}

constexpr ButtonSet kYesNo = buttons::kYes | buttons::kNo;
constexpr ButtonSet kEveryButton = 0x3FF;

INSTANTIATE_TEST_SUITE_P(
    Buttons, ResultTest,
    ::testing::Values(ResultCase{"Yes", kYesNo, ClickButton("btn_Yes"), 6},
                      ResultCase{"No", kYesNo, ClickButton("btn_No"), 7},
                      ResultCase{"CloseBox", kYesNo, CloseWindow(), 2},
                      ResultCase{"Escape", kYesNo, PressKey(Qt::Key_Escape), 2},
                      ResultCase{"EnterOnDefaultYes", kYesNo, PressKey(Qt::Key_Return), 6},
                      ResultCase{"EnterOnDefaultRetry", buttons::kRetry | buttons::kCancel,
                                 PressKey(Qt::Key_Return), 4},
                      ResultCase{"SpaceOnDefaultOk", buttons::kOk | buttons::kCancel,
                                 PressKey(Qt::Key_Space), 1},
                      ResultCase{"Abort", kEveryButton, ClickButton("btn_Abort"), 3},
                      ResultCase{"Retry", kEveryButton, ClickButton("btn_Retry"), 4},
                      ResultCase{"Ignore", kEveryButton, ClickButton("btn_Ignore"), 5},
                      ResultCase{"All", kEveryButton, ClickButton("btn_All"), 8},
                      ResultCase{"NoToAll", kEveryButton, ClickButton("btn_NoToAll"), 9},
                      ResultCase{"YesToAll", kEveryButton, ClickButton("btn_YesToAll"), 10},
                      ResultCase{"Cancel", kEveryButton, ClickButton("btn_Cancel"), 2},
                      ResultCase{"NoButtons", 0, CloseWindow(), 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageForm, DefaultButtonIsFirstInTabOrderAndFocused) {
  const std::pair<ButtonSet, const char*> cases[] = {
      {buttons::kOk | buttons::kCancel, "btn_OK"},
      {kYesNo, "btn_Yes"},
      {kYesNo | buttons::kOk, "btn_OK"},
      {buttons::kAbort | buttons::kRetry | buttons::kIgnore, "btn_Retry"},
      {buttons::kCancel | buttons::kIgnore, nullptr},
  };
  for (const auto& [set, name] : cases) {
    auto form = CriarMensagem("Texto", MessageKind::kWarning, set, {}, false, false);
    std::vector<QString> defaults;
    for (TqevButton* b : form->findChildren<TqevButton*>()) {
      if (b->Default()) defaults.push_back(b->objectName());
    }
    if (name == nullptr) {
      EXPECT_TRUE(defaults.empty()) << "set " << set;
      continue;
    }
    ASSERT_EQ(defaults.size(), 1u) << "set " << set;
    EXPECT_EQ(defaults[0], QLatin1String(name));
    EXPECT_EQ(form->focusWidget(), FindButton(*form, name)) << "set " << set;
  }
}

TEST(MessageForm, SingleButtonFillsThePanel) {
  auto form = CriarMensagem("Erro grave.", MessageKind::kError, buttons::kOk, {}, false, false);
  const QWidget* panel = form->findChild<QWidget*>(QStringLiteral("PainelBotoes"));
  ASSERT_NE(panel, nullptr);
  TqevButton* ok = FindButton(*form, "btn_OK");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->geometry(), panel->rect());
  EXPECT_EQ(panel->width(), form->width());
  EXPECT_EQ(panel->geometry().bottom(), form->height() - 1);
  EXPECT_TRUE(ok->Default());
}

TEST(MessageForm, ButtonsShareOneWidthAndAreRightAligned) {
  auto form = CriarMensagem("Texto", MessageKind::kConfirmation,
                            buttons::kYes | buttons::kNoToAll | buttons::kCancel, {}, false, false);
  const std::vector<TqevButton*> row = RowButtons(*form);
  ASSERT_EQ(row.size(), 3u);
  EXPECT_EQ(row[0]->objectName(), QStringLiteral("btn_Yes")) << "table order, left to right";
  EXPECT_EQ(row[1]->objectName(), QStringLiteral("btn_Cancel"));
  EXPECT_EQ(row[2]->objectName(), QStringLiteral("btn_NoToAll"));
  const QFontMetrics fm(form->font());
  const int widest = fm.horizontalAdvance(QStringLiteral("Não para todos")) + 8;
  for (TqevButton* b : row) {
    EXPECT_EQ(b->width(), row[0]->width());
    EXPECT_EQ(b->y(), 1);
    EXPECT_EQ(b->RaioBotao(), 30);
  }
  EXPECT_GE(row[0]->width(), widest) << "the widest caption sets the width";
  EXPECT_EQ(row[2]->geometry().right(), form->width() - 1);
  EXPECT_EQ(row[1]->x() - row[0]->x(), row[2]->x() - row[1]->x());
}

TEST(MessageForm, DetailsButtonTogglesTheDetailsArea) {
  auto form = CriarMensagem("Falha ao conectar.", MessageKind::kError, buttons::kOk,
                            "ESocketError: Connection refused", false, false);
  form->show();
  TqevButton* details = FindButton(*form, "btn_Detalhes");
  auto* memo = form->findChild<QPlainTextEdit*>(QStringLiteral("memoDetalhes"));
  ASSERT_NE(details, nullptr);
  ASSERT_NE(memo, nullptr);
  EXPECT_EQ(details->pos(), QPoint(4, 1));
  const TqevButton* ok = FindButton(*form, "btn_OK");
  EXPECT_EQ(ok->x(), details->geometry().right() + 1) << "a lone button takes the rest";
  EXPECT_EQ(ok->geometry().right(), form->width() - 1);
  EXPECT_TRUE(memo->isReadOnly());
  EXPECT_EQ(memo->toPlainText(), QStringLiteral("ESocketError: Connection refused"));
  const int normal = form->height();
  EXPECT_FALSE(memo->isVisible());
  const QImage closed_glyph = details->Glyph().toImage();
  EXPECT_EQ(closed_glyph, ButtonGlyph("btn_Detalhes").toImage());

  QTest::mouseClick(details->InnerButton(), Qt::LeftButton);
  EXPECT_EQ(form->height(), normal + 100);
  EXPECT_TRUE(memo->isVisible());
  EXPECT_EQ(details->Glyph().toImage(), ButtonGlyph("btn_Detalhes2").toImage());
  const QWidget* panel = form->findChild<QWidget*>(QStringLiteral("PainelBotoes"));
  EXPECT_EQ(memo->geometry().bottom() + 1, panel->y()) << "the area sits just above the panel";
  EXPECT_EQ(memo->height(), 100);

  QTest::mouseClick(details->InnerButton(), Qt::LeftButton);
  EXPECT_EQ(form->height(), normal);
  EXPECT_FALSE(memo->isVisible());
  EXPECT_EQ(details->Glyph().toImage(), closed_glyph);
}

TEST(MessageForm, DetailsInitiallyOpen) {
  auto closed = CriarMensagem("Falha.", MessageKind::kError, buttons::kOk, "detalhe", false, false);
  auto open = CriarMensagem("Falha.", MessageKind::kError, buttons::kOk, "detalhe", false, true);
  EXPECT_EQ(open->height(), closed->height() + 100);
  EXPECT_TRUE(open->DetailsOpen());
  EXPECT_EQ(FindButton(*open, "btn_Detalhes")->Glyph().toImage(),
            ButtonGlyph("btn_Detalhes2").toImage());
}

TEST(MessageForm, DontShowAgainBoxSitsOnThePanel) {
  auto form = CriarMensagem("Ok.", MessageKind::kInformation, buttons::kOk, {}, true, false);
  auto* box = form->findChild<QCheckBox*>(QStringLiteral("chkNaoMostrardeNovo"));
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), QStringLiteral("&Não mostrar esta mensagem outra vez."));
  EXPECT_EQ(box->geometry(), QRect(0, box->y(), form->width(), 17));
  const QWidget* panel = form->findChild<QWidget*>(QStringLiteral("PainelBotoes"));
  EXPECT_EQ(box->geometry().bottom() + 1, panel->y());
  EXPECT_GE(form->width(), 220);
  EXPECT_FALSE(form->DontShowAgainChecked());
  box->setChecked(true);
  EXPECT_TRUE(form->DontShowAgainChecked());
}

// Texts that could make the dialog useless: it must still fit the screen with its buttons.
TEST(MessageForm, ExtremeTextsStillGiveAUsableDialog) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  std::string long_words;
  for (int i = 0; i < 3000; ++i) long_words += "palavra" + std::to_string(i) + " ";
  std::string many_lines;
  for (int i = 0; i < 500; ++i) many_lines += "linha " + std::to_string(i) + "\r\n";
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"only line breaks", "\n\n\n\n\n\n"},
      {"one huge word", std::string(5000, 'X')},
      {"huge text", long_words},
      {"many lines", many_lines},
      {"tabs", "a\tb\tc"},
  };
  for (const auto& [name, text] : cases) {
    for (bool details : {false, true}) {
      auto form = CriarMensagem(text, MessageKind::kError, buttons::kOk | buttons::kCancel,
                                details ? "detalhes" : "", false, details);
      EXPECT_LE(form->width(), screen.width()) << name;
      EXPECT_LE(form->height(), screen.height()) << name;
      const auto* message = form->findChild<QLabel*>(QStringLiteral("Message"));
      ASSERT_NE(message, nullptr) << name;
      const QWidget* area = message->parentWidget() == form.get()
                                ? message
                                : form->findChild<QWidget*>(QStringLiteral("MessageScroll"));
      ASSERT_NE(area, nullptr) << name;
      const QWidget* panel = form->findChild<QWidget*>(QStringLiteral("PainelBotoes"));
      EXPECT_LE(area->geometry().bottom(), panel->y()) << name;
      EXPECT_LE(area->geometry().right(), form->width()) << name;
      for (TqevButton* b : RowButtons(*form)) {
        EXPECT_TRUE(panel->rect().contains(b->geometry())) << name;
      }
      QString shown = message->text();
      shown.remove(QChar(0x200B));
      QString expected = QString::fromStdString(text);
      expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      EXPECT_EQ(shown, expected) << name << ": nothing of the text is lost";
    }
  }
}

// Records the URLs the desktop would open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls.push_back(url); }
};

TEST(MessageForm, HelpOpensAnExistingHelpFileAndKeepsTheDialogOpen) {
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "Open");
  QTemporaryFile help;
  ASSERT_TRUE(help.open());
  for (const QString& file : {help.fileName(), QStringLiteral("/nonexistent/VornComClient.hlp")}) {
    ModalWatchdog watchdog;
    watchdog.Then([](QWidget* dialog) {
      ClickButton("btn_Help")(dialog);
      QTest::qWait(50);
      ClickButton("btn_OK")(dialog);
    });
    auto form = CriarMensagem("Ajuda?", MessageKind::kInformation, buttons::kOk | buttons::kHelp,
                              {}, false, false);
    form->SetHelpFile(file);
    EXPECT_EQ(form->ShowModal(), 1) << "Help does not close the dialog";
  }
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(recorder.urls.size(), 1);
  EXPECT_EQ(recorder.urls[0], QUrl::fromLocalFile(help.fileName()));
}

TEST(MessageForm, RightToLeftMirrorsIconTextAndButtons) {
  auto build = [] {
    return CriarMensagem("Texto", MessageKind::kWarning, buttons::kYes | buttons::kNo, "detalhes",
                         false, false);
  };
  auto ltr = build();
  QGuiApplication::setLayoutDirection(Qt::RightToLeft);
  auto rtl = build();
  QGuiApplication::setLayoutDirection(Qt::LeftToRight);
  ASSERT_EQ(rtl->width(), ltr->width());
  const int right = rtl->width() - 1;
  for (const char* name : {"Image", "Message"}) {
    const QRect l = ltr->findChild<QLabel*>(QString::fromLatin1(name))->geometry();
    const QRect r = rtl->findChild<QLabel*>(QString::fromLatin1(name))->geometry();
    EXPECT_EQ(r.right(), right - l.left()) << name;
    EXPECT_EQ(r.top(), l.top()) << name;
  }
  for (const char* name : {"btn_Yes", "btn_No", "btn_Detalhes"}) {
    EXPECT_EQ(FindButton(*rtl, name)->geometry().right(), right - FindButton(*ltr, name)->x())
        << name;
  }
}

TEST(MessageForm, DialogFontIsArialMetricCompatible) {
  auto form = CriarMensagem("Texto", MessageKind::kWarning, buttons::kOk, {}, false, false);
  EXPECT_EQ(QFontInfo(form->font()).family(), QStringLiteral("Liberation Sans"))
      << "install fonts-liberation2, or every dialog is laid out wider";
  const double dpi = QGuiApplication::primaryScreen()->logicalDotsPerInchY();
  EXPECT_EQ(form->font().pixelSize(), std::lround(8 * dpi / 72)) << "8 points, whole pixels";
}

TEST(MessageForm, PlacedAtGivenEdges) {
  auto form = CriarMensagem("Texto", MessageKind::kWarning, buttons::kOk, {}, false, false);
  const QPoint centred = form->pos();
  form->PlaceAt(-1, -1);
  EXPECT_EQ(form->pos(), centred);
  form->PlaceAt(10, -1);
  EXPECT_EQ(form->pos(), QPoint(10, centred.y()));
  form->PlaceAt(-1, 20);
  EXPECT_EQ(form->pos(), QPoint(10, 20));
}

}  // namespace
}  // namespace vorncom::ui

#include "message_form_test.moc"

namespace vorncom::ui {
namespace {

// Every part of the dialog a screen reader meets is named and described; the dialog opens with
// its message as its description.
TEST(MessageFormAccessibility, EveryPartIsNamedAndDescribed) {
  using Probe = vorncom::testing::AccessibilityProbe;
  Probe probe;
  auto form =
      CriarMensagem("Deseja continuar?", MessageKind::kConfirmation,
                    buttons::kYes | buttons::kNo | buttons::kHelp, "Causa técnica", true, false);
  EXPECT_EQ(Probe::DescriptionOf(form.get()), "Deseja continuar?");
  const struct {
    const char* object;
    const char* name;
  } named[] = {{"btn_Yes", "Sim"},
               {"btn_No", "Não"},
               {"btn_Detalhes", "Detalhes"},
               {"memoDetalhes", "Detalhes"},
               {"Message", "Deseja continuar?"}};
  for (const auto& n : named) {
    auto* w = form->findChild<QWidget*>(QLatin1String(n.object));
    ASSERT_NE(w, nullptr) << n.object;
    EXPECT_EQ(Probe::NameOf(w), n.name) << n.object;
  }
  for (QWidget* w : form->findChildren<QWidget*>()) {
    if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_"))) continue;
    EXPECT_FALSE(Probe::NameOf(w).empty()) << w->objectName().toStdString();
    EXPECT_FALSE(Probe::DescriptionOf(w).empty()) << w->objectName().toStdString();
  }
}

}  // namespace
}  // namespace vorncom::ui
