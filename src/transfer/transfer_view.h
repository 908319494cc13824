#pragma once

#include <cstdint>
#include <string>

namespace vorncom::transfer {

// What the transfer flows do to their window. The Qt window shows it; without a usable display
// a view that shows nothing stands in, so the flows run the same way for hosts without a user.
class TransferView {
 public:
  virtual ~TransferView() = default;

  // Status panel 0; an empty text clears it.
  virtual void SetStatus(const std::string& text) = 0;
  // sttNomeSolicitante, sttIDSolicitante, sttDocumento.
  virtual void SetRequester(const std::string& name, const std::string& id,
                            const std::string& document) = 0;
  // lblBytesEnviados ("done de total"), pbaEvolucao and lblPercentual.
  virtual void SetProgress(int32_t done, int32_t total, int percent) = 0;
  virtual void SetRemainingTime(const std::string& text) = 0;  // lblTempoRestante
  virtual void SetRate(const std::string& text) = 0;           // lblVelocidade
  // The step bar of status panel 1.
  virtual void SetStepMaximum(int maximum) = 0;
  virtual void SetStepPosition(int position) = 0;
  virtual void EnableCancel(bool enabled) = 0;     // btnCancelar
  virtual void EnableReceipt(bool enabled) = 0;    // btnRecibo
  virtual void EnableClose(bool enabled) = 0;      // btnFechar
  virtual void SetTimerEnabled(bool enabled) = 0;  // timVelocidade
  // Lets pending window events run (timer, buttons, close box).
  virtual void ProcessMessages() = 0;
  // Asks the window to close; a running flow goes on to its end first.
  virtual void CloseWindow() = 0;
};

// The view of a window that is never shown.
class HiddenView : public TransferView {
 public:
  void SetStatus(const std::string& text) override { status = text; }
  void SetRequester(const std::string&, const std::string&, const std::string&) override {}
  void SetProgress(int32_t, int32_t, int) override {}
  void SetRemainingTime(const std::string&) override {}
  void SetRate(const std::string&) override {}
  void SetStepMaximum(int) override {}
  void SetStepPosition(int) override {}
  void EnableCancel(bool) override {}
  void EnableReceipt(bool) override {}
  void EnableClose(bool) override {}
  void SetTimerEnabled(bool) override {}
  void ProcessMessages() override {}
  void CloseWindow() override { closed = true; }

  std::string status;
  bool closed = false;
};

}  // namespace vorncom::transfer
