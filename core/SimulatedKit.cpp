#include "SimulatedKit.h"

#include <cstdio>

SimulatedKit::SimulatedKit(const KitSimConfig &config, const KitProfile &profile)
    : m_profile(profile), m_config(config)
{
}

void SimulatedKit::lineStarted()
{
    m_inFrame = false;
    m_payload.clear();
}

std::vector<SimulatedKit::Reply> SimulatedKit::receive(const std::uint8_t *bytes, std::size_t count)
{
    std::vector<Reply> replies;
    for (std::size_t i = 0; i < count; ++i)
        receiveByte(bytes[i], replies);
    return replies;
}

// Frames may arrive split across reads; inside a frame every byte is data,
// even one that looks like a command.
void SimulatedKit::receiveByte(std::uint8_t byte, std::vector<Reply> &replies)
{
    if (m_inFrame) {
        m_payload.push_back(byte);
        if (int(m_payload.size()) < KitProfile::FrameLength - 1)
            return;
        m_inFrame = false;
        const auto at = [this](int i) { return std::uint16_t(m_payload[std::size_t(i)]); };
        replies.push_back(frameReply({std::uint16_t(at(0) << 8 | at(1)), std::uint16_t(at(2) << 8 | at(3))}));
        return;
    }
    if (byte == m_profile.frameStart) {
        m_inFrame = true;
        m_payload.clear();
        return;
    }
    if (byte == m_profile.prepareCommand || byte == m_profile.versionCommand)
        replies.push_back(commandReply(byte));
}

SimulatedKit::Reply SimulatedKit::commandReply(std::uint8_t command)
{
    m_commands += char(command);
    Reply reply;
    if (command == m_profile.prepareCommand) {
        log("F");
        reply.steps.push_back({m_config.answerToFDelayUs, m_config.answerToF});
        return reply;
    }
    log("?");
    const std::string &answer = m_config.versionAnswer;
    const std::size_t piece =
        m_config.versionPieceBytes > 0 ? std::size_t(m_config.versionPieceBytes) : answer.size();
    for (std::size_t at = 0; at < answer.size(); at += piece)
        reply.steps.push_back({at == 0 ? m_config.versionDelayUs : m_config.versionPieceGapUs, answer.substr(at, piece)});
    return reply;
}

SimulatedKit::Reply SimulatedKit::frameReply(const KitFrame &frame)
{
    m_frames.push_back(frame);
    if (frame.address < m_profile.memoryWords)
        m_memory[frame.address] = frame.value;
    if (m_log) {
        char event[32];
        std::snprintf(event, sizeof event, "A %04X %04X", unsigned(frame.address), unsigned(frame.value));
        log(event);
    }
    const int count = int(m_frames.size());
    Reply reply;
    reply.hangUp = m_config.hangUpAfterFrames >= 0 && count >= m_config.hangUpAfterFrames;
    const bool silent = m_config.silentAfterFrames >= 0 && count > m_config.silentAfterFrames;
    if (!reply.hangUp && !silent)
        reply.steps = {{0, m_config.strayBeforeAnswer}, {m_config.frameDelayUs, m_config.frameAnswer}};
    return reply;
}

bool SimulatedKit::hangUpDue() const
{
    return m_config.hangUpAfterFrames >= 0 && int(m_frames.size()) >= m_config.hangUpAfterFrames;
}

void SimulatedKit::clearRecord()
{
    m_frames.clear();
    m_commands.clear();
    m_memory.clear();
}

void SimulatedKit::log(std::string_view event) const
{
    if (m_log)
        m_log(event);
}
