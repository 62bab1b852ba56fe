#include "ui/QtFileDialogs.h"

#include "app/ShellUtil.h"

#include <QApplication>
#include <QFileDialog>

namespace ui {

void installFolderChooser()
{
    setFolderChooser([](const std::string& initial,
                        const std::string& title) -> std::optional<std::string> {
        const QString chosen = QFileDialog::getExistingDirectory(QApplication::activeWindow(),
                                                                 QString::fromStdString(title),
                                                                 QString::fromStdString(initial));
        if (chosen.isEmpty())
            return std::nullopt;
        return chosen.toStdString();
    });
}

void removeFolderChooser()
{
    setFolderChooser({});
}

std::optional<std::string> chooseSavePath(QWidget* owner, const std::string& proposedName)
{
    const QString chosen = QFileDialog::getSaveFileName(
        owner, QString(), QString::fromStdString(proposedName),
        QStringLiteral("全てのファイル(*.*) (*)"), nullptr,
        // The copy that follows asks before it replaces a file; asking here too would ask twice.
        QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

} // namespace ui
