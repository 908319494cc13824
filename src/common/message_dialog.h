#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/exception.h"

namespace vorncom {

// Message kinds, by their stored byte value.
enum class MessageKind : uint8_t {
  kWarning = 0,
  kError = 1,
  kInformation = 2,
  kConfirmation = 3,
  kCustom = 4,
  kMessage = 5,
  kSystemError = 6,
};

// Button set: bit i selects row i of the button table (Yes, No, OK, Cancel, Retry, Abort, Ignore,
// All, NoToAll, YesToAll, Help).
using ButtonSet = uint16_t;
namespace buttons {
inline constexpr ButtonSet kYes = 1u << 0;
inline constexpr ButtonSet kNo = 1u << 1;
inline constexpr ButtonSet kOk = 1u << 2;
inline constexpr ButtonSet kCancel = 1u << 3;
inline constexpr ButtonSet kRetry = 1u << 4;
inline constexpr ButtonSet kAbort = 1u << 5;
inline constexpr ButtonSet kIgnore = 1u << 6;
inline constexpr ButtonSet kAll = 1u << 7;
inline constexpr ButtonSet kNoToAll = 1u << 8;
inline constexpr ButtonSet kYesToAll = 1u << 9;
inline constexpr ButtonSet kHelp = 1u << 10;
}  // namespace buttons

// Modal results.
namespace results {
inline constexpr int kOk = 1, kCancel = 2, kAbort = 3, kRetry = 4, kIgnore = 5, kYes = 6, kNo = 7,
                     kAll = 8, kNoToAll = 9, kYesToAll = 10;
}

// Everything a presentation needs to show one message.
struct MessageRequest {
  std::string text;
  MessageKind kind = MessageKind::kInformation;
  ButtonSet buttons = buttons::kOk;
  int help_context = 0;
  int x = -1, y = -1;  // negative: centred
  std::string details;
  bool dont_show_again = false;  // show the "don't show again" box
  std::string help_file;
  bool details_open = false;
};

struct MessageResponse {
  int result = results::kCancel;
  bool dont_show_again_checked = false;
};

// How messages reach the user. The default presentation is chosen at the first message: the Qt
// dialog when a display is usable and unattended mode is off, otherwise UnattendedPresenter.
class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  virtual MessageResponse Present(const MessageRequest& request) = 0;
};

// Writes kind, title, text and details to standard error and answers with the dialog's default
// button (OK, else Yes, else Retry, else the first button in the set, else Cancel).
class UnattendedPresenter : public MessagePresenter {
 public:
  MessageResponse Present(const MessageRequest& request) override;
};

// The default button's result for a set, by the dialog's own rule.
int DefaultResult(ButtonSet set);
// The title shown for a kind ("Aviso", "Erro", ...); kCustom gives the host program's name.
std::string KindTitle(MessageKind kind);

// Installs a presentation (tests install a scripted one); nullptr restores the default choice.
void SetMessagePresenter(std::shared_ptr<MessagePresenter> presenter);
// Registers the factory of the graphical presentation; used when a display is available and
// unattended mode (VORNCOM_UNATTENDED=1) is off. Returning nullptr means "not usable now".
using PresenterFactory = std::shared_ptr<MessagePresenter> (*)();
void SetGraphicalPresenterFactory(PresenterFactory factory);

// The four routines. Each shorter one fills defaults and calls the next.
int MostrarMensagem(const std::string& text, MessageKind kind, ButtonSet set, int help_context = 0);
int MostrarMensagemDetalhes(const std::string& text, MessageKind kind, ButtonSet set,
                            int help_context, const std::string& details,
                            bool dont_show_again = false);
// Throws EDSAIdentsError when the switch is on and the cleaned text is empty.
int MostrarMensagemPos(const std::string& text, MessageKind kind, ButtonSet set, int help_context,
                       int x, int y, const std::string& details, bool dont_show_again,
                       const std::string& help_file, bool details_open);

// The don't-show-again store. True means "show". An empty key means DefaultDSAKey().
VORNCOM_EXCEPTION(EDSAIdentsError);
bool DSAIdentsGetState(const std::string& key, const std::string& identifier);
void DSAIdentsSetState(const std::string& key, const std::string& identifier, bool show);
// "SOFTWARE\<executable name up to its first full stop>\Dialogos".
std::string DefaultDSAKey();

}  // namespace vorncom
