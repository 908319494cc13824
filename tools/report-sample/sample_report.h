#pragma once

#include <QString>

#include "report/report_job.h"

// A three-page demonstration report: boxed and shaded columns, a wrapped paragraph with
// placeholders replaced, stretched bitmaps, header and footer on every page.
void SetUpSampleReport(vorncom::report::ReportJob& job, const QString& logo_path);

// Draws the sample's logo (our own drawing) into `path` as a BMP file.
bool WriteSampleLogo(const QString& path);
