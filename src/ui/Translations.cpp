#include "ui/Translations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTranslator>

#include <memory>
#include <string>

namespace ui {

QString tr(const char* japanese)
{
    return QCoreApplication::translate(kTranslationContext, japanese);
}

QString tr(const std::string& japanese)
{
    return tr(japanese.c_str());
}

namespace {
QString translated(const QString& text)
{
    return text.isEmpty() ? text : tr(text.toStdString());
}

// Cells keep their Japanese texts (the program compares them); only what is drawn is translated.
class TranslatingDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QString displayText(const QVariant& value, const QLocale& locale) const override
    {
        return translated(QStyledItemDelegate::displayText(value, locale));
    }
};

// Translates each widget's own texts as it is shown: window titles, labels, buttons, group
// titles, list headers and cells, menu items and tool-tips. A text without a translation (a
// name, a path, a number) stays as it is.
class TranslatingFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (auto* widget = qobject_cast<QWidget*>(object))
                translate(*widget);
        return false;
    }

private:
    template <class Get, class Set> static void apply(Get get, Set set)
    {
        const QString text = get();
        const QString other = translated(text);
        if (other != text)
            set(other);
    }

    static void translate(QWidget& w)
    {
        if (w.isWindow())
            apply([&] { return w.windowTitle(); }, [&](const QString& t) { w.setWindowTitle(t); });
        apply([&] { return w.toolTip(); }, [&](const QString& t) { w.setToolTip(t); });
        if (auto* label = qobject_cast<QLabel*>(&w))
            apply([&] { return label->text(); }, [&](const QString& t) { label->setText(t); });
        else if (auto* button = qobject_cast<QAbstractButton*>(&w))
            apply([&] { return button->text(); }, [&](const QString& t) { button->setText(t); });
        else if (auto* group = qobject_cast<QGroupBox*>(&w))
            apply([&] { return group->title(); }, [&](const QString& t) { group->setTitle(t); });
        else if (auto* menu = qobject_cast<QMenu*>(&w))
            for (QAction* a : menu->actions())
                apply([&] { return a->text(); }, [&](const QString& t) { a->setText(t); });
        else if (auto* table = qobject_cast<QTableWidget*>(&w))
            translateTable(*table);
    }

    static void translateTable(QTableWidget& table)
    {
        if (!dynamic_cast<TranslatingDelegate*>(table.itemDelegate()))
            table.setItemDelegate(new TranslatingDelegate(&table));
        for (int c = 0; c < table.columnCount(); ++c)
            if (QTableWidgetItem* header = table.horizontalHeaderItem(c))
                apply([&] { return header->text(); },
                      [&](const QString& t) { header->setText(t); });
    }
};
} // namespace

QString installTranslations(QCoreApplication& application)
{
    // The first of the session's preferred languages that the program has decides; anything
    // else (also the "C" locale) keeps the Japanese the texts are written in.
    QString language = QStringLiteral("ja");
    for (const QString& preferred : QLocale::system().uiLanguages()) {
        if (preferred.startsWith(QLatin1String("ja")))
            break;
        if (preferred.startsWith(QLatin1String("en"))) {
            language = QStringLiteral("en");
            break;
        }
    }
    if (language == QLatin1String("en")) {
        if (installEnglish(application))
            return language; // Qt's own texts are English already
        language = QStringLiteral("ja");
    }
    // Qt's own buttons and file dialogs speak the interface's Japanese as well.
    if (QTranslator* qt = qtJapanese(&application))
        QCoreApplication::installTranslator(qt);
    return language;
}

QTranslator* qtJapanese(QObject* parent)
{
    auto translator = std::make_unique<QTranslator>(parent);
    if (!translator->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    return translator.release();
}

QObject* installEnglish(QCoreApplication& application)
{
    auto holder = std::make_unique<QObject>(&application);
    auto* own = new QTranslator(holder.get());
    if (!own->load(QStringLiteral(":/i18n/pavo_en.qm")))
        return nullptr;
    QCoreApplication::installTranslator(own);
    application.installEventFilter(new TranslatingFilter(holder.get()));
    return holder.release();
}

} // namespace ui
