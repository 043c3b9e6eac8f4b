#include "gui/folder_dialog.h"

#include <QFile>
#include <QFileDialog>

namespace kb {

std::optional<std::string> ChooseKnowledgeBaseFolder(const std::string& start) {
  const QString chosen = QFileDialog::getExistingDirectory(
      nullptr, QString::fromUtf8(kFolderDialogCaption),
      QFile::decodeName(QByteArray::fromStdString(start)), QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return std::nullopt;
  return QFile::encodeName(chosen).toStdString();
}

}  // namespace kb
