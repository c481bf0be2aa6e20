// kitupdater-cli's exit statuses, the same for every command, as the README
// and --help list them.
#pragma once

enum ExitStatus {
    Success = 0,
    DeviceFailure = 1, // also: map and unmap could not write the settings
    UsageError = 2,
    FileRejected = 3,
};

// A command that a signal stopped ends as a shell reports a process the
// signal killed (130 for Ctrl+C), so that scripts see why it ended.
constexpr int stoppedBySignal(int signalNumber) { return 128 + signalNumber; }
