// The commands that talk to kits: version, update (one kit or several at
// once) and station. Each returns the program's exit status.
#pragma once

#include "KitCommandContext.h"

#include <QByteArray>

int runVersion(const KitCommandContext &context, const PortRequest &request);
// file: the file's name as typed (its bytes, so that any name opens).
int runUpdate(const KitCommandContext &context, const PortRequest &request, const QByteArray &file);
int runStation(const KitCommandContext &context, const PortRequest &request, const QByteArray &file);
