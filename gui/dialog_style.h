#pragma once

// What the main window and the message box share in their look (Qt): how the program's
// texts become Qt's, the dialog font, the size of its dialog units, and the program's own
// icons.

#include <QFont>
#include <QIcon>
#include <QString>
#include <string_view>

#include "support/message_box/dialog_units.h"

namespace kb {

// A text of the program (bytes, UTF-8) as Qt text.
QString FromBytes(std::string_view bytes);

// `family` at `points`, normal weight. A family that this machine lacks (as a rule the
// "MS Sans Serif" the layouts name) is replaced by the platform's default UI family.
QFont DialogFont(std::string_view family, int points);

// The dialog base of `font`: its 52 letters measured, and its character cell height.
DialogBase MeasureDialogBase(const QFont& font);

// The program's icon resource `name` (TEXTFIND_ICO, OK_ICO), drawn from its SVG at the usual
// icon sizes; a null icon when there is no such resource.
QIcon ProgramIcon(std::string_view name);

}  // namespace kb
