#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

/// True inside the test sandbox, where tests may change system paths such as /usr/bin/pkexec.
inline bool inSandbox()
{
    return QFile::exists(QStringLiteral("/.installer-sandbox"));
}

#define REQUIRE_SANDBOX()                                                                                              \
    do {                                                                                                               \
        if (!inSandbox())                                                                                              \
            QFAIL("must run inside tests/sandbox/sandbox.sh: it changes system paths");                                \
    } while (0)

/// Writes an executable shell script at path (replacing what is there).
inline void writeScript(const QString &path, const QByteArray &body)
{
    QFile::remove(path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                | QFileDevice::ReadOther | QFileDevice::ExeOther));
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// What a message box showed, captured just before it was answered.
struct SeenBox {
    bool shown = false;
    QString title, text, informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    int width = 0;
};

/// Answers the next modal message box with answer(box), recording what it showed.
/// Polls, since the box is opened by code that blocks in its own event loop.
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer(std::function<void(QMessageBox *)> answer, SeenBox *seen)
        : answer_(std::move(answer))
        , seen_(seen)
    {
        timer_.setInterval(20);
        connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::poll);
        timer_.start();
    }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer_.stop();
        seen_->shown = true;
        seen_->title = box->windowTitle();
        seen_->text = box->text();
        seen_->informativeText = box->informativeText();
        seen_->icon = box->icon();
        seen_->buttons = box->standardButtons();
        seen_->defaultButton = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
        seen_->width = box->width();
        answer_(box);
    }

    std::function<void(QMessageBox *)> answer_;
    SeenBox *seen_;
    QTimer timer_;
};

inline std::function<void(QMessageBox *)> clickButton(QMessageBox::StandardButton which)
{
    return [which](QMessageBox *box) { box->button(which)->click(); };
}

inline std::function<void(QMessageBox *)> pressEscape()
{
    return [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); };
}
