#include "uikit/QtFileDialogs.h"

#include "app/ShellUtil.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

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

QString saveFolder()
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!downloads.isEmpty() && QFileInfo(downloads).isDir())
        return downloads;
    return QDir::homePath();
}

std::optional<std::string> chooseSavePath(QWidget* owner, const std::string& proposedName)
{
    // In the user's own folders, never in the node's working folder.
    const QString proposed = QDir(saveFolder()).filePath(QString::fromStdString(proposedName));
    const QString chosen = QFileDialog::getSaveFileName(
        owner, QString(), proposed, QStringLiteral("全てのファイル(*.*) (*)"), nullptr,
        // The copy that follows asks before it replaces a file; asking here too would ask twice.
        QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

} // namespace ui
