// Kits named on the command line, served side by side until every one has
// ended; a stop signal stops them all.
#pragma once

#include "KitResults.h"
#include "PortResolution.h"

class SharedFirmware;

class KitBatch {
public:
    KitBatch(const KitCommandContext &context, const std::vector<ResolvedPort> &ports);

    void runVersionQueries();
    void runUpdates(SharedFirmware &firmware);

    int exitStatus() const;
    const KitRuns &runs() const { return m_runs; }

private:
    const KitCommandContext &m_context;
    KitRuns m_runs;
};
