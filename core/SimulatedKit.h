// What the simulated kit does with the bytes it receives, whatever carries
// them (a pseudo-terminal, an in-memory line, the web page):
//   prepare command (0x46) -> config.answerToF (nothing when empty), after
//                             config.answerToFDelayUs (the kit reads nothing meanwhile)
//   version command (0x3F) -> config.versionAnswer, after config.versionDelayUs,
//                             in pieces of config.versionPieceBytes when set
//   frame (0x41 + 4 bytes) -> (address high, address low, data high, data low):
//                             the frame is recorded, the word stored when the
//                             address lies in the kit's memory;
//                             config.strayBeforeAnswer goes out at once, then
//                             config.frameAnswer after config.frameDelayUs.
//   anything else          -> ignored.
// Frames and commands are recorded before their answer is given, so a host
// that has seen the answer also finds the frame in frames(). The carrier
// keeps the time: a reply says how long after each other its bytes go out.
#pragma once

#include "KitProfile.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct KitSimConfig {
    std::string answerToF;                          // answer to 0x46; empty: none
    int answerToFDelayUs = 0;                       // delay before the answer to 0x46
    std::string versionAnswer = "KIT-FW Ver1.00  "; // answer to 0x3F (any length)
    int versionDelayUs = 0;                         // delay before the version answer
    int versionPieceBytes = 0;                      // > 0: the answer in pieces of this size...
    int versionPieceGapUs = 0;                      // ...this far apart
    std::string frameAnswer = std::string(1, '\x06'); // answer to every frame (one or more bytes)
    int frameDelayUs = 0;                           // delay before each frame answer, microseconds
    // Line noise: given as soon as an answered frame has arrived, before its
    // delay and its answer (never for a silent or hang-up frame). Empty: none.
    std::string strayBeforeAnswer;
    // The two counts below refer to the frames recorded so far (clearRecord()
    // starts the count again).
    int silentAfterFrames = -1;                     // answer only the first N frames; -1: all
    // The Nth frame is recorded but not answered; the kit then hangs up the
    // line. 0 hangs up at once.
    int hangUpAfterFrames = -1;                     // hang up the line after N frames; -1: never
};

struct KitFrame {
    std::uint16_t address;
    std::uint16_t value; // high byte << 8 | low byte
};

class SimulatedKit {
public:
    // The kit's answer to one completed command or frame: bytes after
    // delays, in order; or a hang-up instead.
    struct Step {
        int delayUs = 0; // after the step before
        std::string bytes;
    };
    struct Reply {
        std::vector<Step> steps;
        bool hangUp = false;
    };
    // Told of every command and frame as it is recorded: "F", "?", "A 1EFF 1234".
    using EventLog = std::function<void(std::string_view event)>;

    explicit SimulatedKit(const KitSimConfig &config = {}, const KitProfile &profile = StandardKit);

    // A new line starts (a fresh connection): a half-received frame is forgotten.
    void lineStarted();
    // Takes received bytes; returns the replies to what they completed, in order.
    std::vector<Reply> receive(const std::uint8_t *bytes, std::size_t count);
    // True when the configured hang-up count is reached.
    bool hangUpDue() const;

    void setConfig(const KitSimConfig &config) { m_config = config; }
    const KitSimConfig &config() const { return m_config; }
    const KitProfile &profile() const { return m_profile; }
    // Formatting an event costs as much as the rest of a frame: only with a log.
    void setEventLog(EventLog log) { m_log = std::move(log); }

    const std::vector<KitFrame> &frames() const { return m_frames; }
    const std::string &commandBytes() const { return m_commands; }
    // The words written, by word address.
    const std::map<std::uint16_t, std::uint16_t> &memory() const { return m_memory; }
    void clearRecord();

private:
    void receiveByte(std::uint8_t byte, std::vector<Reply> &replies);
    Reply commandReply(std::uint8_t command);
    Reply frameReply(const KitFrame &frame);
    void log(std::string_view event) const;

    const KitProfile &m_profile;
    KitSimConfig m_config;
    EventLog m_log;
    std::vector<KitFrame> m_frames;
    std::string m_commands;
    std::map<std::uint16_t, std::uint16_t> m_memory;
    // The frame being received.
    bool m_inFrame = false;
    std::vector<std::uint8_t> m_payload;
};
