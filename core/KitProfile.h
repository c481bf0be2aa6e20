// What belongs to the kit: its commands and frames, the timing it needs, its
// memory and write window, and the serial choices its users are offered.
// Everything that talks to a kit (the exchanges, the simulated kit, the
// benchmarks and the tests) takes it from here; a second kit variant would be
// a second profile.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

// Word addresses from first to last, both included.
struct WordRange {
    std::uint32_t first;
    std::uint32_t last;
    constexpr bool contains(std::uint32_t word) const { return word >= first && word <= last; }
};

// An entry of the speed list: its exact text in the box, and the line settings it selects.
struct SpeedChoice {
    const char *boxText;
    const char *lineSettings;
};

struct KitProfile {
    static constexpr int FrameLength = 5;
    using Frame = std::array<std::uint8_t, FrameLength>;

    // The version query: the prepare command (answered or not; the answer is
    // thrown away after the pause), then the version command, answered by
    // versionLength bytes within more than versionAnswerLimit.
    std::uint8_t prepareCommand;
    std::chrono::milliseconds pauseAfterPrepare;
    std::uint8_t versionCommand;
    int versionLength;
    std::chrono::milliseconds versionAnswerLimit;

    // One program word: frameStart, address high, address low, data high,
    // data low; any answer byte within more than wordAnswerLimit accepts it.
    std::uint8_t frameStart;
    std::chrono::milliseconds wordAnswerLimit;

    // The words the bootloader may write; the rest of the file is read but never sent.
    std::array<WordRange, 2> writeWindow;
    // Program words the kit holds.
    std::uint32_t memoryWords;
    // The progress display runs from 0 to this word address.
    int progressMaximum;

    // The speed list, in the order shown; line settings as "speed,parity,data bits,stop bits".
    std::array<SpeedChoice, 3> speeds;
    // What the kit's line settings are before any speed is picked.
    const char *initialLineSettings;
    // Port numbers offered in the port list.
    int firstPortNumber;
    int lastPortNumber;

    constexpr bool writes(std::uint32_t wordAddress) const
    {
        for (const WordRange &range : writeWindow) {
            if (range.contains(wordAddress))
                return true;
        }
        return false;
    }

    constexpr Frame frame(std::uint32_t wordAddress, std::uint8_t high, std::uint8_t low) const
    {
        return {frameStart, std::uint8_t((wordAddress >> 8) & 0xFF), std::uint8_t(wordAddress & 0xFF), high, low};
    }

    // The line settings a speed box text selects; none for a text that is no entry.
    std::optional<std::string_view> lineSettingsFor(std::string_view speedText) const
    {
        for (const SpeedChoice &choice : speeds) {
            if (speedText == choice.boxText)
                return std::string_view(choice.lineSettings);
        }
        return std::nullopt;
    }
};

// The kit this tool is made for.
inline constexpr KitProfile StandardKit{
    0x46,
    std::chrono::milliseconds(100),
    0x3F,
    16,
    std::chrono::milliseconds(1000),
    0x41,
    std::chrono::milliseconds(2000),
    {{{0x0000, 0x1EFF}, {0x1FE0, 0x1FFE}}},
    0x2000,
    7936,
    {{{" 9600", "9600,n,8,1"}, {"19200", "19200,n,8,1"}, {"57600", "57600,n,8,1"}}},
    "9600,n,8,1",
    1,
    20,
};
