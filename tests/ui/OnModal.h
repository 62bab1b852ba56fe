#pragma once

#include <QApplication>
#include <QTimer>

#include <functional>

// Plays the user on the next modal dialog of type Dialog once it is shown; records whether one
// came at all.
template <class Dialog> class OnModal
{
public:
    explicit OnModal(std::function<void(Dialog&)> play)
    {
        QTimer::singleShot(0, [this, play] {
            if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                shown = true;
                play(*d);
            }
        });
    }
    bool shown = false;
};
