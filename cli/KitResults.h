// What the commands that talk to kits report once kits have ended: the exit
// status, the table, the JSON result and the update history.
#pragma once

#include <QJsonObject>
#include <memory>
#include <vector>

class Console;
class KitRun;
class SharedFirmware;

using KitRuns = std::vector<std::unique_ptr<KitRun>>;

// The exit status of the worst ending among the runs (Success for none). A
// failure on the line counts worse than a rejected file, which left the kit
// untouched, and a stop by a signal worst of all.
int exitStatusOf(const KitRuns &runs, int stopSignal);

// One kit's ending as the JSON of update, version and station shows it.
QJsonObject resultObject(const KitRun &kit);

// The table after several kits: port, serial number, kit version, ending, seconds.
void printSummary(const KitRuns &runs, Console &console);

// The JSON line that ends update and station: the exit status and every kit.
void printResultLine(const KitRuns &runs, int exitStatus, Console &console);

// One line of the update history per kit; a history that cannot be written
// is said, and fails nothing.
void recordInHistory(const KitRun &kit, const SharedFirmware &firmware, Console &console);
