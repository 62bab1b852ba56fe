#pragma once

#include <QLabel>

// A one-line label for a text that may be longer than the room it gets, such as a folder path:
// it asks for little width, shows the text elided in the middle (both the start and the file
// name stay readable), and carries the whole text as its tool-tip.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    // Width asked for, in average characters, whatever the text's length.
    static constexpr int kPreferredCharacters = 40;

    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_full; }
    // The text as it is shown at the label's current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateShown();

    QString m_full;
};
