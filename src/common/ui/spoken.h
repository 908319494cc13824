#pragma once

#include <QString>
#include <QWidget>

#include "common/ui/qev_button.h"

namespace vorncom::ui {

// Sets what a screen reader says of `widget`: an empty name leaves the widget's own text. A
// rounded button's inner button and caption, which are what a screen reader meets, speak for it.
inline void SetSpoken(QWidget* widget, const QString& name, const QString& description) {
  QList<QWidget*> parts{widget};
  if (qobject_cast<TqevButton*>(widget) != nullptr) parts += widget->findChildren<QWidget*>();
  for (QWidget* part : parts) {
    if (!name.isEmpty()) part->setAccessibleName(name);
    part->setAccessibleDescription(description);
  }
}

// A caption without its access-key marks: "&Cancelar" reads "Cancelar".
inline QString SpokenCaption(QString caption) {
  caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  caption.remove(QLatin1Char('&'));
  caption.replace(QLatin1Char('\x01'), QLatin1Char('&'));
  return caption;
}

}  // namespace vorncom::ui
