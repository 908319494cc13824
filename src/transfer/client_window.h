#pragma once

#include <QDialog>
#include <functional>

#include "receipt/receipt_window.h"
#include "transfer/transfer_context.h"
#include "transfer/transfer_session.h"
#include "transfer/transfer_view.h"

class QLabel;
class QProgressBar;
class QStatusBar;
class QTimer;
class QGroupBox;
class QFrame;

namespace vorncom::ui {
class TqevButton;
}

namespace vorncom::transfer {

// The modal transfer window "VornCom - Recepção e Envio de Formulários". Once shown it starts
// its flow from a queued call, so the flow runs inside the modal loop with the window visible.
// Needs a QApplication (see ui::EnsureApplication).
class TfVornComClient : public QDialog, public TransferView, public receipt::ReceiptWindowHooks {
  Q_OBJECT

 public:
  // `context` must outlive the window.
  explicit TfVornComClient(TransferContext& context, QWidget* parent = nullptr);
  ~TfVornComClient() override;

  void SetRequest(const TransferRequest& request) { session_.SetRequest(request); }
  TransferSession& session() { return session_; }
  uint8_t FResultCode() const { return ToByte(session_.result_code()); }

  // Without a user nobody closes a window a flow leaves open: the modal loop then ends with the
  // flow.
  void SetEndWithFlow(bool end) { end_with_flow_ = end; }

  // Called after each shown progress step and once the flow has returned (tests grab the window
  // or press buttons from here).
  using Observer = std::function<void(TfVornComClient&, bool flow_ended)>;
  static void SetObserver(Observer observer);

  // TransferView
  void SetStatus(const std::string& text) override;
  void SetRequester(const std::string& name, const std::string& id,
                    const std::string& document) override;
  void SetProgress(int32_t done, int32_t total, int percent) override;
  void SetRemainingTime(const std::string& text) override;
  void SetRate(const std::string& text) override;
  void SetStepMaximum(int maximum) override;
  void SetStepPosition(int position) override;
  void EnableCancel(bool enabled) override;
  void EnableReceipt(bool enabled) override;
  void EnableClose(bool enabled) override;
  void SetTimerEnabled(bool enabled) override;
  void ProcessMessages() override;
  void CloseWindow() override;

  // ReceiptWindowHooks: a receipt printed while this window lives previews over it, shows its
  // progress in status panel 0 and holds btnRecibo off while it runs.
  QWidget* ReceiptOwner() override { return this; }
  void SetReceiptStatus(const QString& text) override;
  void SetReceiptEnabled(bool enabled) override;

  // Event handlers, named after component and event.
  void btnCancelarClick();
  void btnReciboClick();
  void btnFecharClick();
  void btnAjudaClick();
  void timVelocidadeTimer();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  void BuildLayout();
  void ChooseLogo();
  void RunFlow();
  bool ConfirmClose();

  const TransferSettings& settings_;
  TransferSession session_;
  QLabel* imgLogo_ = nullptr;
  QLabel* sttNomeSolicitante_ = nullptr;
  QLabel* sttIDSolicitante_ = nullptr;
  QLabel* sttDocumento_ = nullptr;
  QLabel* lblBytesEnviados_ = nullptr;
  QLabel* lblVelocidade_ = nullptr;
  QLabel* lblTempoRestante_ = nullptr;
  QLabel* lblPercentual_ = nullptr;
  QProgressBar* pbaEvolucao_ = nullptr;
  ui::TqevButton* btnCancelar_ = nullptr;
  ui::TqevButton* btnRecibo_ = nullptr;
  ui::TqevButton* btnFechar_ = nullptr;
  ui::TqevButton* btnAjuda_ = nullptr;
  QStatusBar* sbaTransferencia_ = nullptr;
  QLabel* statusPanel0_ = nullptr;
  QProgressBar* FStepBar_ = nullptr;
  QTimer* timVelocidade_ = nullptr;
  QString help_file_;
  bool started_ = false;
  bool flow_running_ = false;
  bool close_requested_ = false;
  bool closing_confirmed_ = false;
  bool end_with_flow_ = false;
  int announced_step_ = 0;  // the tenth of pbaEvolucao a screen reader last heard
  // Last member: unregisters first, while the window is still whole.
  receipt::ReceiptWindowRegistration receipt_registration_{*this};
};

// The built-in logo drawn into `imgLogo` (214 by 53).
QPixmap BuiltInLogo();

}  // namespace vorncom::transfer
