#include "gui/dialog_style.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace kb {

QString FromBytes(std::string_view bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QFont DialogFont(std::string_view family, int points) {
  QString name = FromBytes(family);
  if (!QFontDatabase::hasFamily(name)) {
    name = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  }
  QFont font(name, points);
  font.setWeight(QFont::Normal);
  return font;
}

DialogBase MeasureDialogBase(const QFont& font) {
  const QFontMetrics metrics(font);
  return DialogBaseOf(metrics.horizontalAdvance(QLatin1String(kDialogUnitLetters)),
                      metrics.height());
}

QIcon ProgramIcon(std::string_view name) {
  const QString path = QStringLiteral(":/icons/") + FromBytes(name);
  if (name.empty() || !QFile::exists(path)) return {};
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return {};

  QIcon icon;
  for (const int size : {16, 22, 24, 32, 48, 64, 128}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace kb
