#pragma once

#include <functional>

#include "receipt/receipt_data.h"

namespace vorncom::receipt {

class ReceiptReport;
class TfqevRelPreviewForm;

// Previews the transmission receipt of `data` (the steps of PrintComReceipt after the package
// check):
// - a live transfer window (ReceiptWindowRegistration) is used as the preview's owner, shows
//   "Visualizando recibo. Aguarde..." and has its Receipt button disabled during the run; without
//   one a receipt report is made for this call only;
// - with no printer at all (no system printer, and the "PDF" printer turned off by the host) the
//   error message about the printer definition is shown and nothing else happens;
// - otherwise the receipt goes to the library's preview window (modal), from which the user
//   prints it; a failure of the run is shown as an error with its own text.
//   With VORNCOM_DIALOG_TIMEOUT_MS set (hosts whose messages answer themselves) the preview
//   closes itself after that time.
// Unattended (VORNCOM_UNATTENDED=1, or no display to show windows on): the receipt is printed
// straight to the "PDF" printer and one line on standard error names the file; when the host
// turned that printer off, standard error says that no receipt was produced. Never waits for a
// user there.
//
// Exceptions other than std::exception pass on.
void PrintComReceipt(const ReceiptData& data);

// Test seam: called with each preview window after it is created, before it is shown.
void SetReceiptPreviewObserver(std::function<void(TfqevRelPreviewForm&)> observer);

}  // namespace vorncom::receipt
