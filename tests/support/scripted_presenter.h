#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "common/message_dialog.h"

namespace vorncom::testing {

// Records every message and answers from a script (the default button when the script is empty).
class ScriptedPresenter : public MessagePresenter {
 public:
  MessageResponse Present(const MessageRequest& request) override {
    shown.push_back(request);
    if (answers.empty()) return {DefaultResult(request.buttons), false};
    MessageResponse r = answers.front();
    answers.pop_front();
    return r;
  }
  std::vector<MessageRequest> shown;
  std::deque<MessageResponse> answers;
};

// Installs a ScriptedPresenter for the lifetime of the object.
class ScopedPresenter {
 public:
  ScopedPresenter() : presenter_(std::make_shared<ScriptedPresenter>()) {
    SetMessagePresenter(presenter_);
  }
  ~ScopedPresenter() { SetMessagePresenter(nullptr); }
  ScriptedPresenter& operator*() { return *presenter_; }
  ScriptedPresenter* operator->() { return presenter_.get(); }

 private:
  std::shared_ptr<ScriptedPresenter> presenter_;
};

}  // namespace vorncom::testing
