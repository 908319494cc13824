#pragma once

#include <cstdint>

#include "transfer/transfer_run.h"

namespace vorncom::transfer {

// Asks the server whether it takes the run's form type and version now. Never shows the window.
// Writes `status` only where the query defines a status byte; returns the result code.
ResultCode QueryFormStatus(TransferRun& run, uint8_t* status);

}  // namespace vorncom::transfer
