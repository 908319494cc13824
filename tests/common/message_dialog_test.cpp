#include "common/message_dialog.h"

#include <gtest/gtest.h>

#include "common/registry.h"
#include "support/scripted_presenter.h"
#include "support/temp_dir.h"

namespace vorncom {
namespace {

using testing::IsolatedEnvironment;
using testing::ScopedPresenter;

TEST(MessageRoutinesTest, ShorterRoutinesFillTheDefaults) {
  ScopedPresenter p;
  EXPECT_EQ(MostrarMensagem("Texto", MessageKind::kError, buttons::kOk), results::kOk);
  ASSERT_EQ(p->shown.size(), 1u);
  const MessageRequest& r = p->shown[0];
  EXPECT_EQ(r.x, -1);
  EXPECT_EQ(r.y, -1);
  EXPECT_TRUE(r.details.empty());
  EXPECT_FALSE(r.dont_show_again);
  EXPECT_FALSE(r.details_open);
  MostrarMensagemDetalhes("Texto", MessageKind::kWarning, buttons::kOk, 7, "detalhes");
  EXPECT_EQ(p->shown[1].details, "detalhes");
  EXPECT_EQ(p->shown[1].help_context, 7);
}

TEST(MessageRoutinesTest, DefaultButtonsAndTitles) {
  EXPECT_EQ(DefaultResult(buttons::kYes | buttons::kNo), results::kYes);
  EXPECT_EQ(DefaultResult(buttons::kYes | buttons::kOk), results::kOk);
  EXPECT_EQ(DefaultResult(buttons::kAbort | buttons::kRetry | buttons::kIgnore), results::kRetry);
  EXPECT_EQ(DefaultResult(buttons::kNo | buttons::kCancel), results::kNo);
  EXPECT_EQ(DefaultResult(0), results::kCancel);
  EXPECT_EQ(KindTitle(MessageKind::kInformation), "Informação");
  EXPECT_EQ(KindTitle(MessageKind::kConfirmation), "Confirmação");
  EXPECT_EQ(KindTitle(MessageKind::kSystemError), "Erro");
}

TEST(MessageRoutinesTest, DontShowAgainIsStoredPerCleanedText) {
  IsolatedEnvironment env;
  ScopedPresenter p;
  p->answers.push_back({results::kOk, /*dont_show_again_checked=*/true});
  EXPECT_EQ(MostrarMensagemPos("Atenção: arquivo, enviado.", MessageKind::kWarning, buttons::kOk, 0,
                               -1, -1, "", true, "", false),
            results::kOk);
  // Same text but for accents and punctuation outside the kept set: suppressed, returns Cancel.
  EXPECT_EQ(MostrarMensagemPos("Atençao; arquivo! enviado", MessageKind::kWarning, buttons::kOk, 0,
                               -1, -1, "", true, "", false),
            results::kOk);  // '!' is kept, so this one is a different text
  EXPECT_EQ(MostrarMensagemPos("Atenção. arquivo  enviado:", MessageKind::kWarning, buttons::kOk, 0,
                               -1, -1, "", true, "", false),
            results::kCancel);
  EXPECT_EQ(p->shown.size(), 2u);
  EXPECT_FALSE(DSAIdentsGetState("", "Atenção: arquivo, enviado."));
  // The stored value lives under the default key, named by the cleaned text.
  const auto stored = Registry::Default().ReadValue(DefaultDSAKey(), "Aten  o  arquivo  enviado");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(std::get<int32_t>(*stored), 0);
}

TEST(MessageRoutinesTest, BlankIdentifiersRaise) {
  IsolatedEnvironment env;
  ScopedPresenter p;
  try {
    MostrarMensagemPos("", MessageKind::kError, buttons::kOk, 0, -1, -1, "", true, "", false);
    FAIL();
  } catch (const EDSAIdentsError& e) {
    EXPECT_STREQ(e.what(), "DSAIdentsGetState gravando especificador em branco");
  }
  try {
    DSAIdentsSetState("", "...", true);
    FAIL();
  } catch (const EDSAIdentsError& e) {
    EXPECT_STREQ(e.what(), "DSAIdentsSetState gravando especificador em branco");
  }
  EXPECT_TRUE(p->shown.empty());
  // Without the switch an empty text is just shown.
  EXPECT_EQ(MostrarMensagem("", MessageKind::kError, buttons::kOk), results::kOk);
}

TEST(MessageRoutinesTest, UnreadableStoreMeansShow) {
  IsolatedEnvironment env;
  env.dir().Write("registry", "[SOFTWARE\\app\\Dialogos]\n!denied\n");
  EXPECT_TRUE(DSAIdentsGetState("SOFTWARE\\app\\Dialogos", "Mensagem"));
}

TEST(MessageRoutinesTest, DefaultKeyIsNamedAfterTheProgram) {
  const std::string key = DefaultDSAKey();
  EXPECT_EQ(key.rfind("SOFTWARE\\", 0), 0u);
  EXPECT_EQ(key.substr(key.size() - 9), "\\Dialogos");
  EXPECT_EQ(key.find('.'), std::string::npos);
}

TEST(MessageRoutinesTest, UnattendedModeAnswersTheDefaultButton) {
  setenv("VORNCOM_UNATTENDED", "1", 1);
  SetGraphicalPresenterFactory([]() -> std::shared_ptr<MessagePresenter> {
    ADD_FAILURE() << "the graphical presentation must not be asked for";
    return nullptr;
  });
  ::testing::internal::CaptureStderr();
  const int result = MostrarMensagemDetalhes("Deseja continuar?", MessageKind::kConfirmation,
                                             buttons::kYes | buttons::kNo, 0, "causa");
  const std::string err = ::testing::internal::GetCapturedStderr();
  SetGraphicalPresenterFactory(nullptr);
  EXPECT_EQ(result, results::kYes);
  EXPECT_NE(err.find("Confirmação: Deseja continuar?"), std::string::npos) << err;
  EXPECT_NE(err.find("Detalhes: causa"), std::string::npos) << err;
}

}  // namespace
}  // namespace vorncom
