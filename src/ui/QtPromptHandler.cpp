#include "ui/QtPromptHandler.h"

#include "ui/Translations.h"

#include <QApplication>
#include <QMessageBox>

namespace {
QMessageBox::Icon toQt(plat::Icon icon)
{
    switch (icon) {
    case plat::Icon::Information:
        return QMessageBox::Information;
    case plat::Icon::Warning:
        return QMessageBox::Warning;
    case plat::Icon::Error:
        return QMessageBox::Critical;
    case plat::Icon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toQt(plat::Buttons buttons)
{
    switch (buttons) {
    case plat::Buttons::Ok:
        return QMessageBox::Ok;
    case plat::Buttons::OkCancel:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case plat::Buttons::YesNo:
        return QMessageBox::Yes | QMessageBox::No;
    case plat::Buttons::YesNoCancel:
        return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

plat::Answer fromQt(int button, plat::Buttons buttons)
{
    switch (button) {
    case QMessageBox::Ok:
        return plat::Answer::Ok;
    case QMessageBox::Yes:
        return plat::Answer::Yes;
    case QMessageBox::No:
        return plat::Answer::No;
    case QMessageBox::Cancel:
        return plat::Answer::Cancel;
    default:
        return plat::safeAnswer(buttons); // the box was closed without a choice
    }
}
} // namespace

void QtPromptHandler::message(const std::string& text, plat::Icon icon)
{
    QMessageBox box(toQt(icon), QStringLiteral("Pavo"), ui::tr(text), QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

plat::Answer QtPromptHandler::ask(const std::string& text, plat::Buttons buttons, plat::Icon icon)
{
    QMessageBox box(toQt(icon), QStringLiteral("Pavo"), ui::tr(text), toQt(buttons),
                    QApplication::activeWindow());
    return fromQt(box.exec(), buttons);
}
