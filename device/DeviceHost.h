// What an exchange with the kit needs from whoever drives it: the updater
// window, or the command-line front end. All calls come on the caller's thread.
#pragma once

#include <QString>

class DeviceHost {
public:
    virtual ~DeviceHost() = default;

    // The status line (one line of text; the empty text clears it).
    virtual void msgCmt(const QString &cmt1) = 0;
    // The progress display, with the window's progress-bar rules.
    virtual void msgProgressBar(const QString &pmode, double pmin, double pmax, double ppos) = 0;
    // An information message with one OK button; returns when the user has closed it.
    virtual void showMessage(const QString &text) = 0;
    // The firmware version just read from the kit.
    virtual void showFirmwareVersion(const QString &version) = 0;
    // Lets pending user-interface events run once.
    virtual void processEvents() = 0;
    // True once the user asked to stop (window closing, Ctrl+C): the running
    // exchange stops at its next wait and takes its failure ending.
    virtual bool cancelRequested() const = 0;
    // The operating system's reason behind the last failure (empty: none).
    virtual void showFailureDetail(const QString &reason) { (void)reason; }
};
