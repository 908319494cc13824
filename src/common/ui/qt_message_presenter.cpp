#include "common/ui/qt_message_presenter.h"

#include <QTimer>

#include "common/ui/message_form.h"
#include "common/ui/qt_host.h"

namespace vorncom::ui {

MessageResponse QtMessagePresenter::Present(const MessageRequest& request) {
  EnsureApplication();
  std::unique_ptr<TFormMensagem> form =
      CriarMensagem(request.text, request.kind, request.buttons, request.details,
                    request.dont_show_again, request.details_open);
  form->SetHelpContext(request.help_context);
  form->SetHelpFile(QString::fromStdString(request.help_file));
  form->PlaceAt(request.x, request.y);
  // Kiosk and test hosts may ask every message to answer itself with its default button.
  bool ok = false;
  const int timeout_ms = qEnvironmentVariableIntValue("VORNCOM_DIALOG_TIMEOUT_MS", &ok);
  if (ok && timeout_ms > 0) {
    const int answer = DefaultResult(request.buttons);
    QTimer::singleShot(timeout_ms, form.get(),
                       [dialog = form.get(), answer] { dialog->done(answer); });
  }
  MessageResponse response;
  response.result = form->ShowModal();
  response.dont_show_again_checked = form->DontShowAgainChecked();
  return response;
}

namespace {

std::shared_ptr<MessagePresenter> MakeQtPresenter() {
  if (!QtUsable()) return nullptr;
  return std::make_shared<QtMessagePresenter>();
}

}  // namespace

void RegisterQtPresenter() { SetGraphicalPresenterFactory(&MakeQtPresenter); }

}  // namespace vorncom::ui
