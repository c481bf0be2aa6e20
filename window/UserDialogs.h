// The modal dialogs the window shows, behind an interface so that tests can
// answer them.
#pragma once

#include <QString>

struct OpenFileRequest;
class QWidget;

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // Information icon, one OK button, the program's name as caption.
    virtual void information(const QString &text) = 0;
    // The file-open dialog. Returns the chosen file's full path, or the empty
    // text when the user cancelled.
    virtual QString openFile(const OpenFileRequest &request) = 0;
};

// The real dialogs, owned by the given window.
class QtUserDialogs : public UserDialogs {
public:
    explicit QtUserDialogs(QWidget *owner = nullptr) : m_owner(owner) {}
    void setOwner(QWidget *owner) { m_owner = owner; }
    void information(const QString &text) override;
    QString openFile(const OpenFileRequest &request) override;

    // The dialog's name filters: the patterns match without regard to case
    // and "*.*" matches every file, as on Windows.
    static QStringList nameFilters(const OpenFileRequest &request);

private:
    QWidget *m_owner;
};
