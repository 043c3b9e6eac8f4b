#include "gui/folder_dialog.h"

#include <QFile>
#include <QFileDialog>

#include "app/base/replaceable_texts.h"
#include "gui/dialog_style.h"
#include "support/program_texts/program_texts.h"

namespace kb {

std::optional<std::string> ChooseKnowledgeBaseFolder(const std::string& start) {
  const QString chosen = QFileDialog::getExistingDirectory(
      nullptr, FromBytes(ProgramText(text::kFolderDialogCaption)),
      QFile::decodeName(QByteArray::fromStdString(start)), QFileDialog::ShowDirsOnly);
  if (chosen.isEmpty()) return std::nullopt;
  return QFile::encodeName(chosen).toStdString();
}

}  // namespace kb
