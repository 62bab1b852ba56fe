#pragma once

#include <QDialog>

#include <string>

// The version box opened from the system menu's about item.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // "Pavo " and the version text with every "." turned into "-" and then every ";" into ".".
    static std::string versionLine(const std::string& versionText);
};
