#pragma once

#include <QImage>
#include <QPainter>
#include <QRectF>

#include "report/page_model.h"

namespace vorncom::report {

// The one drawing routine for every output. The painter's current transform must map page dots
// to the device (RenderPageInto sets that up); the routine draws on a white page.
void RenderPage(QPainter& painter, const Page& page);

// Draws `page` scaled to fill `target` (device coordinates of the painter).
void RenderPageInto(QPainter& painter, const Page& page, const QRectF& target);

// The page as an image at `dpi` pixels per inch.
QImage RenderPageImage(const Page& page, double dpi);

}  // namespace vorncom::report
