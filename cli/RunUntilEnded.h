// Several exchanges with kits side by side on one thread (updates, version
// queries, the probes of --port auto), each an object that can be cancelled
// and says when it has ended.
#pragma once

#include "CliPlatform.h"

#include <QEventLoop>
#include <memory>
#include <vector>

// Starts every exchange and returns once each has ended. A stop signal
// cancels them all; each then ends in its own orderly way.
template <typename Exchange, typename Start>
void runUntilEnded(const std::vector<std::unique_ptr<Exchange>> &exchanges, StopSignals &stopSignals, Start start)
{
    QEventLoop loop;
    int running = int(exchanges.size());
    for (const auto &exchange : exchanges)
        QObject::connect(exchange.get(), &Exchange::ended, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &loop, [&] {
        for (const auto &exchange : exchanges)
            exchange->cancel();
    });
    for (const auto &exchange : exchanges)
        start(*exchange);
    if (running > 0) // an exchange may end at its start (a port that does not open)
        loop.exec();
}
