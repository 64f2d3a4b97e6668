#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

// The eight numbers that shape reception. Every reader fetches a field at the moment of use,
// so a change acts from the next sample (or, for sampleRate and blockSize, the next device
// open or buffer).
struct DecoderSettings
{
    std::int32_t rows = 24;
    std::int32_t cols = 24;
    std::int32_t sampleRate = 28800;
    std::int32_t blockSize = 1024;
    std::int32_t samplesPerPixel = 4;
    std::int32_t samplesAveraged = 5;
    std::int32_t minLevel = 0;
    std::int32_t maxLevel = 255;

    friend bool operator==(const DecoderSettings&, const DecoderSettings&) = default;
};

enum class SettingField
{
    Rows,
    Cols,
    SampleRate,
    BlockSize,
    SamplesPerPixel,
    SamplesAveraged,
    MinLevel,
    MaxLevel,
};

// The values we accept for a field, both ends included.
struct SettingRange
{
    std::int32_t min;
    std::int32_t max;
};

// The window of the smoothing filter has this many slots.
inline constexpr std::int32_t kAverageWindowSlots = 128;

SettingRange settingRange(SettingField field);

// The field's caption as the user sees it next to its box, e.g. "Number of Rows".
std::string settingCaption(SettingField field);

// nullopt when value is acceptable for field, otherwise a one-line message naming the
// setting and its range, e.g. "Samples averaged must be between 1 and 128".
std::optional<std::string> checkSetting(SettingField field, std::int64_t value);

// Checks every field; the first complaint, in the order of the enum, or nullopt.
std::optional<std::string> checkSettings(const DecoderSettings& settings);

// Reads and writes one field by its enum.
std::int32_t& settingRef(DecoderSettings& settings, SettingField field);

} // namespace corvane
