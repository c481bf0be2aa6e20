// --port auto: the one USB adapter that behaves like a kit (see KitProbe;
// nothing reaches the kit's memory).
#pragma once

#include "PortResolution.h"

// Every adapter plugged in is probed at once. None answering like a kit ends
// the command as a device failure, several as a usage error (the user must
// say which); each adapter left out is named on the console with the reason.
ResolvedPorts findTheKit(const KitCommandContext &context, const PortRequest &request);
