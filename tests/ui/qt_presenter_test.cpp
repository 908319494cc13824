#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <thread>

#include "common/message_dialog.h"
#include "common/ui/qev_button.h"
#include "common/ui/qt_host.h"
#include "common/ui/qt_message_presenter.h"
#include "modal_watchdog.h"

namespace vorncom::ui {
namespace {

using testing::ClickButton;
using testing::ModalWatchdog;

// The message routines with the dialog as their presentation and a registry of their own.
class QtPresenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registry_dir_.isValid());
    setenv("VORNCOM_REGISTRY", registry_dir_.filePath("registry").toLocal8Bit().constData(), 1);
    unsetenv("VORNCOM_UNATTENDED");
    SetMessagePresenter(nullptr);
    RegisterQtPresenter();
  }
  void TearDown() override {
    SetGraphicalPresenterFactory(nullptr);
    setenv("VORNCOM_UNATTENDED", "1", 1);
  }

  QTemporaryDir registry_dir_;
};

TEST_F(QtPresenterTest, PresentAnswersTheButtonAndTheBox) {
  ModalWatchdog watchdog;
  watchdog.Then([](QWidget* dialog) {
    dialog->findChild<QCheckBox*>(QStringLiteral("chkNaoMostrardeNovo"))->setChecked(true);
    ClickButton("btn_No")(dialog);
  });
  MessageRequest request;
  request.text = "Deseja continuar?";
  request.kind = MessageKind::kConfirmation;
  request.buttons = buttons::kYes | buttons::kNo;
  request.dont_show_again = true;
  QtMessagePresenter presenter;
  const MessageResponse response = presenter.Present(request);
  EXPECT_EQ(response.result, 7);
  EXPECT_TRUE(response.dont_show_again_checked);
  EXPECT_EQ(watchdog.Handled(), 1);
}

TEST_F(QtPresenterTest, RoutinesShowTheDialogAndRememberDontShowAgain) {
  ModalWatchdog watchdog;
  watchdog.Then(ClickButton("btn_Yes"));
  EXPECT_EQ(MostrarMensagem("Enviar agora?", MessageKind::kConfirmation, 3), 6);

  watchdog.Then([](QWidget* dialog) {
    dialog->findChild<QCheckBox*>(QStringLiteral("chkNaoMostrardeNovo"))->setChecked(true);
    ClickButton("btn_OK")(dialog);
  });
  const std::string text = "Há uma nova versão, disponível.";
  EXPECT_EQ(MostrarMensagemDetalhes(text, MessageKind::kInformation, 4, 0, {}, true), 1);
  EXPECT_EQ(watchdog.Handled(), 2);
  // Suppressed now, also for a text that differs only in accented letters and punctuation.
  EXPECT_EQ(MostrarMensagemDetalhes("Hé uma nova versõo: disponível", MessageKind::kInformation, 4,
                                    0, {}, true),
            2);
  EXPECT_EQ(watchdog.Handled(), 2);
  EXPECT_EQ(watchdog.Strays(), 0);
}

TEST_F(QtPresenterTest, AnotherThreadFallsBackToUnattendedWithoutHanging) {
  int result = -1;
  std::thread worker([&result] {
    ::testing::internal::CaptureStderr();
    result = MostrarMensagem("De outra linha de execução", MessageKind::kConfirmation,
                             buttons::kYes | buttons::kNo);
    (void)::testing::internal::GetCapturedStderr();
  });
  worker.join();
  EXPECT_EQ(result, 6) << "the default button's answer";
  std::thread direct([] {
    QtMessagePresenter presenter;
    EXPECT_THROW(presenter.Present(MessageRequest{}), EQtHostError);
  });
  direct.join();
}

}  // namespace
}  // namespace vorncom::ui
