// The window's dialogs answered by the test instead of a user: what each
// message box said, and which file each file dialog picks.
#pragma once

#include "HexFileChoice.h"
#include "UserDialogs.h"

#include <QList>
#include <QStringList>
#include <functional>

class FakeDialogs : public UserDialogs {
public:
    void information(const QString &text) override
    {
        messages << text;
        if (whileShown)
            whileShown();
    }
    // The next of answers; the last one again once they run out (a user who
    // picks the same file again), none at all (cancelled) without answers.
    QString openFile(const OpenFileRequest &request) override
    {
        requests << request;
        return answers.size() > 1 ? answers.takeFirst() : answers.value(0);
    }

    QStringList messages;
    std::function<void()> whileShown; // what happens while a message box is open
    QList<OpenFileRequest> requests;
    QStringList answers;
};
