#pragma once

#include <QWidget>

class QLabel;

// A small window naming the party and the node; closing it ends the program.
class StartWindow : public QWidget
{
    Q_OBJECT
public:
    StartWindow(const QString& party, const QString& node, QWidget* parent = nullptr);
};
