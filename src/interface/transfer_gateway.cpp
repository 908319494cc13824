#include "interface/transfer_gateway.h"

namespace vorncom::iface {
namespace {

TransferRunner transfer_runner = nullptr;
ReceiptRunner receipt_runner = nullptr;

}  // namespace

void SetTransferRunner(TransferRunner runner) { transfer_runner = runner; }
void SetReceiptRunner(ReceiptRunner runner) { receipt_runner = runner; }

uint8_t RunTransferWindow(const TransferRequest& request) {
  return transfer_runner ? transfer_runner(request) : 25;
}

void RunReceipt() {
  if (receipt_runner) receipt_runner();
}

}  // namespace vorncom::iface
