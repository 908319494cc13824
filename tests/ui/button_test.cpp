#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QFrame>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <cmath>

#include "common/ui/message_form.h"
#include "common/ui/qev_button.h"
#include "modal_watchdog.h"

namespace vorncom::ui {
namespace {

using testing::ShowActive;

// A window with an edit box and a rounded button; counts clicks and the Enter presses that reach
// the edit box.
struct ButtonWindow {
  QWidget window;
  QLineEdit* edit = new QLineEdit(&window);
  TqevButton* button = nullptr;
  int clicks = 0;
  QObject* sender = nullptr;
  int edit_returns = 0;

  explicit ButtonWindow(bool on_panel = false) {
    window.resize(300, 200);
    QWidget* parent = &window;
    if (on_panel) {
      parent = new QFrame(&window);
      parent->setGeometry(0, 100, 300, 100);
    }
    button = new TqevButton(parent);
    button->SetText(QStringLiteral("&Cancelar"));
    button->SetRaioBotao(30);
    button->move(100, 20);
    button->SetOnClick([this](QObject* s) {
      ++clicks;
      sender = s;
    });
    edit->setGeometry(10, 60, 100, 24);
    QObject::connect(edit, &QLineEdit::returnPressed, [this] { ++edit_returns; });
    ShowActive(window);
    edit->setFocus();
  }
};

void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), Qt::LeftButton, held,
                    Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

void SendEnter(QWidget* widget, bool auto_repeat) {
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"),
                  auto_repeat);
  QApplication::sendEvent(widget, &press);
}

TEST(TqevButton, SizeRules) {
  TqevButton button;
  EXPECT_EQ(button.size(), QSize(40, 40));
  button.SetRaioBotao(30);
  EXPECT_EQ(button.InnerButton()->size(), QSize(30, 30));
  EXPECT_EQ(button.RaioBotao(), 30);
  EXPECT_EQ(button.InnerButton()->x(), 5);

  button.SetText(QStringLiteral("&Cancelar para sempre"));
  const int caption =
      QFontMetrics(button.font()).horizontalAdvance(QStringLiteral("Cancelar para sempre"));
  ASSERT_GT(caption, 40);
  EXPECT_EQ(button.width(), caption);
  EXPECT_EQ(button.InnerButton()->x(), std::lround((button.width() - 30) / 2.0));
  EXPECT_EQ(button.InnerButton()->y(), 1);
  const QWidget* label = button.CaptionLabel();
  EXPECT_TRUE(label->isVisibleTo(&button));
  EXPECT_EQ(label->geometry().bottom(), button.height() - 2);

  button.SetText(QStringLiteral("OK"));
  EXPECT_EQ(button.width(), 40) << "short captions keep the minimum width";
  button.show();  // Qt delivers the size changes of hidden widgets when they are shown
  button.resize(90, 44);
  EXPECT_EQ(button.InnerButton()->x(), 30);
  EXPECT_EQ(label->geometry().bottom(), 44 - 2);
}

TEST(TqevButton, BlankCaptionHidesLabelAndKeepsWidth) {
  TqevButton button;
  button.SetText(QStringLiteral("&Cancelar para sempre"));
  const int width = button.width();
  button.SetText(QStringLiteral("   "));
  EXPECT_FALSE(button.CaptionLabel()->isVisibleTo(&button));
  EXPECT_TRUE(button.Text().isEmpty());
  EXPECT_EQ(button.width(), width);
}

TEST(TqevButton, InnerClickFocusesAndCallsOnClickLabelClickOnlyFocuses) {
  ButtonWindow w;
  QTest::mouseClick(w.button->CaptionLabel(), Qt::LeftButton);
  EXPECT_TRUE(w.button->hasFocus());
  EXPECT_EQ(w.clicks, 0);

  w.edit->setFocus();
  QTest::mouseClick(w.button->InnerButton(), Qt::LeftButton);
  EXPECT_TRUE(w.button->hasFocus());
  EXPECT_EQ(w.clicks, 1);
  EXPECT_EQ(w.sender, w.button->InnerButton());
}

TEST(TqevButton, AcceleratorNeedsAlt) {
  ButtonWindow w;
  QTest::keyClick(w.edit, Qt::Key_C);
  EXPECT_EQ(w.clicks, 0);
  EXPECT_EQ(w.edit->text(), QStringLiteral("c"));
  QTest::keyClick(w.edit, Qt::Key_C, Qt::AltModifier);
  EXPECT_EQ(w.clicks, 1);
  w.button->setEnabled(false);
  QTest::keyClick(w.edit, Qt::Key_C, Qt::AltModifier);
  EXPECT_EQ(w.clicks, 1) << "a disabled button ignores its accelerator";
}

TEST(TqevButton, SpaceAndEnterClickTheFocusedButtonOncePerPress) {
  ButtonWindow w;
  w.button->setFocus();
  QTest::keyClick(w.button, Qt::Key_Space);
  QTest::keyClick(w.button, Qt::Key_Return);
  EXPECT_EQ(w.clicks, 2);
  SendEnter(w.button, /*auto_repeat=*/true);
  EXPECT_EQ(w.clicks, 2);
}

struct EnterCase {
  const char* name;
  bool on_panel;
  bool is_default;
  int clicks;
  int edit_returns;
};

void PrintTo(const EnterCase& c, std::ostream* os) { *os << c.name; }

class EnterHookTest : public ::testing::TestWithParam<EnterCase> {};

TEST_P(EnterHookTest, EnterClicksOnlyADefaultButtonOnTheWindowItself) {
  const EnterCase& c = GetParam();
  ButtonWindow w(c.on_panel);
  w.button->SetDefault(c.is_default);
  ASSERT_EQ(QApplication::activeWindow(), &w.window);
  QTest::keyClick(w.edit, Qt::Key_Return);
  EXPECT_EQ(w.clicks, c.clicks);
  EXPECT_EQ(w.edit_returns, c.edit_returns);
}

INSTANTIATE_TEST_SUITE_P(Cases, EnterHookTest,
                         ::testing::Values(EnterCase{"DefaultOnWindow", false, true, 1, 0},
                                           EnterCase{"DefaultOnPanel", true, true, 0, 1},
                                           EnterCase{"NotDefault", false, false, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EnterHook, HeldEnterClicksOnceAndPassesRepeatsOn) {
  ButtonWindow w;
  w.button->SetDefault(true);
  SendEnter(w.edit, false);
  for (int i = 0; i < 3; ++i) SendEnter(w.edit, true);
  EXPECT_EQ(w.clicks, 1);
  EXPECT_EQ(w.edit_returns, 3);
}

TEST(EnterHook, DisabledDefaultButtonIsNotClicked) {
  ButtonWindow w;
  w.button->SetDefault(true);
  w.button->setEnabled(false);
  QTest::keyClick(w.edit, Qt::Key_Return);
  EXPECT_EQ(w.clicks, 0);
  EXPECT_EQ(w.edit_returns, 1);
}

TEST(TEllipseButton, MouseTracking) {
  ButtonWindow w;
  TEllipseButton* inner = w.button->InnerButton();
  const QPoint in(15, 15), out(60, 60);
  SendMouse(inner, QEvent::MouseButtonPress, in, Qt::LeftButton);
  EXPECT_EQ(inner->State(), TButtonState::bsDown);
  SendMouse(inner, QEvent::MouseMove, out, Qt::LeftButton);
  EXPECT_EQ(inner->State(), TButtonState::bsUp);
  SendMouse(inner, QEvent::MouseButtonRelease, out, Qt::NoButton);
  EXPECT_EQ(w.clicks, 0) << "released outside";

  SendMouse(inner, QEvent::MouseButtonPress, in, Qt::LeftButton);
  SendMouse(inner, QEvent::MouseMove, out, Qt::LeftButton);
  SendMouse(inner, QEvent::MouseMove, in, Qt::LeftButton);
  EXPECT_EQ(inner->State(), TButtonState::bsDown);
  SendMouse(inner, QEvent::MouseButtonRelease, in, Qt::NoButton);
  EXPECT_EQ(inner->State(), TButtonState::bsUp);
  EXPECT_EQ(w.clicks, 1);
}

TEST(TEllipseButton, GroupedButtonTogglesDown) {
  ButtonWindow w;
  TEllipseButton* inner = w.button->InnerButton();
  w.button->SetGroupIndex(1);
  inner->SetAllowAllUp(true);
  QTest::mouseClick(inner, Qt::LeftButton);
  EXPECT_TRUE(w.button->Down());
  EXPECT_EQ(inner->State(), TButtonState::bsExclusive);
  QTest::mouseClick(inner, Qt::LeftButton);
  EXPECT_FALSE(w.button->Down());
  EXPECT_EQ(w.clicks, 2);
}

TEST(TEllipseButton, DisabledIgnoresMouseIsNotHotAndShowsDerivedGlyph) {
  ButtonWindow w;
  w.button->SetGlyph(ButtonGlyph("btn_OK"));
  const QImage enabled = w.button->InnerButton()->grab().toImage();
  w.button->setEnabled(false);
  TEllipseButton* inner = w.button->InnerButton();
  QEnterEvent enter(QPointF(15, 15), QPointF(15, 15), QPointF(15, 15));
  QApplication::sendEvent(inner, &enter);
  QTest::mouseClick(inner, Qt::LeftButton);
  EXPECT_FALSE(inner->Hot());
  EXPECT_EQ(inner->State(), TButtonState::bsUp);
  EXPECT_EQ(w.clicks, 0);
  EXPECT_NE(inner->grab().toImage(), enabled);
  EXPECT_FALSE(w.button->isEnabled());
}

// Painting of the inner button, sampled on a 30-pixel button of colour (128, 128, 128): the left
// end of the edge belongs to the upper-left half, the right end to the lower-right half.
struct PaintCase {
  const char* name;
  std::function<void(TqevButton&)> setup;
  // Added to the face colour; kCovered where a face fill paints over the edge.
  int outer_left, inner_left, inner_right, outer_right;
  int centre;  // added to the face; kChecker: the held checkerboard
};
constexpr int kCovered = -1000;
constexpr int kChecker = -2000;

void PrintTo(const PaintCase& c, std::ostream* os) { *os << c.name; }

class EllipsePaintTest : public ::testing::TestWithParam<PaintCase> {};

int Grey(const QImage& image, int x, int y) { return qRed(image.pixel(x, y)); }

TEST_P(EllipsePaintTest, EdgeAndFaceColours) {
  const PaintCase& c = GetParam();
  ButtonWindow w;
  w.button->SetBtnColor(QColor(128, 128, 128));
  c.setup(*w.button);
  const QImage image = w.button->InnerButton()->grab().toImage();
  ASSERT_EQ(image.size(), QSize(30, 30));
  constexpr int kTolerance = 10;  // antialiasing at the outline
  const std::pair<int, int> edges[] = {
      {1, c.outer_left}, {2, c.inner_left}, {27, c.inner_right}, {28, c.outer_right}};
  for (const auto& [x, shift] : edges) {
    if (shift != kCovered) {
      EXPECT_NEAR(Grey(image, x, 15), 128 + shift, kTolerance) << "x " << x;
    }
  }
  if (c.centre != kChecker) {
    EXPECT_EQ(Grey(image, 15, 15), 128 + c.centre);
  } else {
    EXPECT_EQ(Grey(image, 14, 14), 255) << "row and column of the same parity";
    EXPECT_EQ(Grey(image, 15, 14), 128);
  }
}

INSTANTIATE_TEST_SUITE_P(
    States, EllipsePaintTest,
    ::testing::Values(
        PaintCase{"Up", [](TqevButton&) {}, 60, 12, -100, -48, 0},
        PaintCase{"Disabled", [](TqevButton& b) { b.setEnabled(false); }, 60, 12, -100, -48, 0},
        PaintCase{"Pressed",
                  [](TqevButton& b) {
                    SendMouse(b.InnerButton(), QEvent::MouseButtonPress, {15, 15}, Qt::LeftButton);
                  },
                  -48, -96, 48, 64, 0},
        PaintCase{"Hot",
                  [](TqevButton& b) {
                    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
                    QApplication::sendEvent(b.InnerButton(), &enter);
                  },
                  kCovered, 24, kCovered, -48, 24},
        PaintCase{"Held",
                  [](TqevButton& b) {
                    b.SetGroupIndex(1);
                    b.SetDown(true);
                  },
                  kCovered, kCovered, kCovered, kCovered, kChecker}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vorncom::ui
