#pragma once

#include <QString>

#include "report/page_model.h"

namespace vorncom::report {

// The spool file is the page model serialized: layout never runs again after spooling, so the
// preview, the printer and a PDF show exactly the same pages.

// Writes `document` to `path` (replacing it). Throws EReportError when the file cannot be written.
void WriteSpool(const QString& path, const Document& document);
// Reads a spool file back. Throws EReportError for a missing, truncated or foreign file.
Document ReadSpool(const QString& path);

}  // namespace vorncom::report
