#pragma once

#include <QString>

namespace vorncom::report {

// Gives the PDF at `path` (as QPdfWriter writes it: a classic cross-reference table and an
// information dictionary) the subject `subject`, through an incremental update that appends a new
// information dictionary: the Qt releases the engine builds with cannot set one themselves.
// Throws EReportError when the file cannot be read, is not such a PDF, or cannot be written.
void AddPdfSubject(const QString& path, const QString& subject);

}  // namespace vorncom::report
