// The kit's 16-byte version answer as text.
#pragma once

#include <QByteArray>
#include <QString>

// One character per byte of the first `length`: 0x00-0x7F as that code point (a zero
// byte included), 0xA1-0xDF as the half-width katakana U+FF61-U+FF9F of the
// Japanese single-byte code page, any other byte as U+FFFD.
QString versionTextFromBytes(const QByteArray &answer, int length);
