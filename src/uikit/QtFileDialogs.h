#pragma once

#include <optional>
#include <string>

class QString;
class QWidget;

// Qt's file dialogs where the program asks for a path.
namespace ui {

// Installs the folder browser that selectFolder() uses.
void installFolderChooser();
void removeFolderChooser();

// Where the save-as dialog starts: the user's download folder, else the home folder.
QString saveFolder();

// The save-as dialog of the take-out command: proposes name in saveFolder(), any file type.
std::optional<std::string> chooseSavePath(QWidget* owner, const std::string& proposedName);

} // namespace ui
