// Answers modal message boxes while a test runs: records caption, text and icon of each, and
// presses `button` (or closes a box that has none).
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <functional>

class BoxAnswer {
public:
    explicit BoxAnswer(QMessageBox::StandardButton button) : m_button(button) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            if (onBox)
                onBox();
            captions << box->windowTitle();
            texts << box->text();
            icons << box->icon();
            if (QAbstractButton* b = box->button(m_button))
                b->click();
            else
                box->reject();
        });
        m_timer.start();
    }
    QStringList captions, texts;
    std::function<void()> onBox; // runs when a box is seen, before it is answered
    QList<QMessageBox::Icon> icons;

private:
    QMessageBox::StandardButton m_button;
    QTimer m_timer;
};
