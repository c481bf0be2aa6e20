// The words a simulated kit received, in a form tests compare easily.
#pragma once

#include "KitSimulator.h"

#include <QList>
#include <QMap>
#include <QPair>

using Frames = QList<QPair<quint16, quint16>>; // word address, high << 8 | low

inline Frames framesOf(const KitSimulator &kit)
{
    Frames frames;
    for (const KitFrame &frame : kit.frames())
        frames.append({frame.address, frame.value});
    return frames;
}

// The kit's memory after these frames: the last write of a word wins.
inline QMap<quint16, quint16> memoryOf(const Frames &frames)
{
    QMap<quint16, quint16> memory;
    for (const auto &frame : frames)
        memory.insert(frame.first, frame.second);
    return memory;
}
