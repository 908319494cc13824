#include "common/message_dialog.h"

#include <cstdlib>
#include <iostream>
#include <mutex>

#include "common/environment.h"
#include "common/messages.h"
#include "common/registry.h"

extern char* program_invocation_short_name;

namespace vorncom {
namespace {

struct PresenterState {
  std::mutex mutex;
  std::shared_ptr<MessagePresenter> installed;
  PresenterFactory graphical = nullptr;
};

PresenterState& Presenters() {
  static PresenterState state;
  return state;
}

std::shared_ptr<MessagePresenter> CurrentPresenter() {
  PresenterState& s = Presenters();
  std::lock_guard lock(s.mutex);
  if (s.installed) return s.installed;
  if (!env::UnattendedRequested() && s.graphical) {
    if (auto graphical = s.graphical()) return graphical;
  }
  static auto unattended = std::make_shared<UnattendedPresenter>();
  return unattended;
}

const char* KindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::kWarning:
      return "warning";
    case MessageKind::kError:
    case MessageKind::kSystemError:
      return "error";
    case MessageKind::kInformation:
      return "information";
    case MessageKind::kConfirmation:
      return "confirmation";
    case MessageKind::kMessage:
    case MessageKind::kCustom:
      break;
  }
  return "message";
}

}  // namespace

int DefaultResult(ButtonSet set) {
  if (set & buttons::kOk) return results::kOk;
  if (set & buttons::kYes) return results::kYes;
  if (set & buttons::kRetry) return results::kRetry;
  static constexpr int kResultByBit[] = {
      results::kYes,   results::kNo,     results::kOk,  results::kCancel,  results::kRetry,
      results::kAbort, results::kIgnore, results::kAll, results::kNoToAll, results::kYesToAll};
  for (int bit = 0; bit < 10; ++bit) {
    if (set & (1u << bit)) return kResultByBit[bit];
  }
  return results::kCancel;
}

std::string KindTitle(MessageKind kind) {
  switch (kind) {
    case MessageKind::kWarning:
      return std::string(msg::kTitleWarning);
    case MessageKind::kError:
    case MessageKind::kSystemError:
      return std::string(msg::kTitleError);
    case MessageKind::kInformation:
      return std::string(msg::kTitleInformation);
    case MessageKind::kConfirmation:
      return std::string(msg::kTitleConfirmation);
    case MessageKind::kMessage:
      return std::string(msg::kTitleMessage);
    case MessageKind::kCustom:
      break;
  }
  return program_invocation_short_name ? program_invocation_short_name : "";
}

MessageResponse UnattendedPresenter::Present(const MessageRequest& request) {
  MessageResponse response;
  response.result = DefaultResult(request.buttons);
  std::cerr << "[VornCom " << KindName(request.kind) << "] " << KindTitle(request.kind) << ": "
            << request.text << '\n';
  if (!request.details.empty())
    std::cerr << "  " << msg::kDetails << ": " << request.details << '\n';
  std::cerr.flush();
  return response;
}

void SetMessagePresenter(std::shared_ptr<MessagePresenter> presenter) {
  PresenterState& s = Presenters();
  std::lock_guard lock(s.mutex);
  s.installed = std::move(presenter);
}

void SetGraphicalPresenterFactory(PresenterFactory factory) {
  PresenterState& s = Presenters();
  std::lock_guard lock(s.mutex);
  s.graphical = factory;
}

int MostrarMensagem(const std::string& text, MessageKind kind, ButtonSet set, int help_context) {
  return MostrarMensagemDetalhes(text, kind, set, help_context, {}, false);
}

int MostrarMensagemDetalhes(const std::string& text, MessageKind kind, ButtonSet set,
                            int help_context, const std::string& details, bool dont_show_again) {
  return MostrarMensagemPos(text, kind, set, help_context, -1, -1, details, dont_show_again, {},
                            false);
}

int MostrarMensagemPos(const std::string& text, MessageKind kind, ButtonSet set, int help_context,
                       int x, int y, const std::string& details, bool dont_show_again,
                       const std::string& help_file, bool details_open) {
  if (dont_show_again && !DSAIdentsGetState({}, text)) return results::kCancel;
  MessageRequest request;
  request.text = text;
  request.kind = kind;
  request.buttons = set;
  request.help_context = help_context;
  request.x = x;
  request.y = y;
  request.details = details;
  request.dont_show_again = dont_show_again;
  request.help_file = help_file;
  request.details_open = details_open;
  const MessageResponse response = CurrentPresenter()->Present(request);
  if (dont_show_again) DSAIdentsSetState({}, text, !response.dont_show_again_checked);
  return response.result;
}

std::string DefaultDSAKey() {
  std::string exe = program_invocation_short_name ? program_invocation_short_name : "";
  const size_t dot = exe.find('.');
  if (dot != std::string::npos) exe.resize(dot);
  return "SOFTWARE\\" + exe + "\\Dialogos";
}

namespace {

// Both names are cleaned alike; the key additionally keeps its path marks.
void CleanDSANames(const std::string& key, const std::string& identifier, const char* routine,
                   std::string& clean_key, std::string& clean_identifier) {
  clean_identifier = CleanRegistryName(identifier, /*is_key=*/false);
  clean_key = CleanRegistryName(key.empty() ? DefaultDSAKey() : key, /*is_key=*/true);
  if (clean_identifier.empty() || clean_key.empty()) {
    throw EDSAIdentsError(msg::Format(msg::kBlankDialogIdentifier, {routine}));
  }
}

}  // namespace

bool DSAIdentsGetState(const std::string& key, const std::string& identifier) {
  std::string k, id;
  CleanDSANames(key, identifier, "DSAIdentsGetState", k, id);
  try {
    const Registry registry = Registry::Default();
    if (registry.OpenKey(k) != Registry::OpenResult::kOpened) return true;
    const auto value = registry.ReadValue(k, id);
    if (!value) return true;
    if (const auto* number = std::get_if<int32_t>(&*value)) return *number != 0;
    return true;
  } catch (const std::exception&) {
    return true;  // an unreadable store means "show"
  }
}

void DSAIdentsSetState(const std::string& key, const std::string& identifier, bool show) {
  std::string k, id;
  CleanDSANames(key, identifier, "DSAIdentsSetState", k, id);
  try {
    Registry registry = Registry::Default();
    registry.WriteValue(k, id, Registry::Value(static_cast<int32_t>(show ? 1 : 0)));
  } catch (const std::exception&) {
    // Write failures are ignored: the message simply shows again next time.
  }
}

}  // namespace vorncom
