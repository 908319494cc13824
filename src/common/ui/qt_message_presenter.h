#pragma once

#include "common/message_dialog.h"

namespace vorncom::ui {

// Shows each message in the library's own dialog (CriarMensagem), modally, and answers with the
// pressed button's result and the "don't show again" box. Throws EQtHostError when no window can
// be shown from the calling thread.
class QtMessagePresenter : public MessagePresenter {
 public:
  MessageResponse Present(const MessageRequest& request) override;
};

// Makes the dialog the graphical presentation of the message routines. Its factory answers
// nullptr (so the routines fall back to unattended presentation) when Qt cannot be used now:
// no display, or a thread other than the one owning the application. Creates no application.
void RegisterQtPresenter();

}  // namespace vorncom::ui
