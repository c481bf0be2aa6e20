// Systems without sysfs: the serial layer's listing is all there is.
#include "UsbDetails.h"

std::optional<UsbDetails> usbDetailsOf(const QString &) { return std::nullopt; }
