#include "DecoderSettings.h"

namespace corvane {

// The ranges keep every computation of the decoder inside 32-bit arithmetic and every buffer
// allocation sane, while leaving room far beyond what the picture surface shows:
// - rows and cols up to 1000: the surface shows 64 rows and 58 columns; larger rasters are
//   still decoded, their off-surface blocks are dropped;
// - samplesPerPixel up to 100000 (one element every ~3.5 s at the default rate);
// - samplesAveraged 1..128, the slots of the smoothing window;
// - sampleRate 1000..192000 Hz, what audio servers accept for 8-bit mono;
// - blockSize 1 byte .. 4 MiB (more than two minutes at the default rate);
// - minLevel and maxLevel 0..255, the sliders' range, in either order.
SettingRange settingRange(SettingField field)
{
    switch (field) {
    case SettingField::Rows:
    case SettingField::Cols:
        return {1, 1000};
    case SettingField::SampleRate:
        return {1000, 192000};
    case SettingField::BlockSize:
        return {1, 4 * 1024 * 1024};
    case SettingField::SamplesPerPixel:
        return {1, 100000};
    case SettingField::SamplesAveraged:
        return {1, kAverageWindowSlots};
    case SettingField::MinLevel:
    case SettingField::MaxLevel:
        return {0, 255};
    }
    return {0, 0};
}

std::string settingCaption(SettingField field)
{
    switch (field) {
    case SettingField::Rows:
        return "Number of Rows";
    case SettingField::Cols:
        return "Number of Cols";
    case SettingField::SampleRate:
        return "Sample rate";
    case SettingField::BlockSize:
        return "Sample block size";
    case SettingField::SamplesPerPixel:
        return "Sample per pixel";
    case SettingField::SamplesAveraged:
        return "Samples averaged";
    case SettingField::MinLevel:
        return "Min level";
    case SettingField::MaxLevel:
        return "Max level";
    }
    return {};
}

std::optional<std::string> checkSetting(SettingField field, std::int64_t value)
{
    const SettingRange range = settingRange(field);
    if (value >= range.min && value <= range.max)
        return std::nullopt;
    return settingCaption(field) + " must be between " + std::to_string(range.min) + " and " +
           std::to_string(range.max);
}

std::optional<std::string> checkSettings(const DecoderSettings& settings)
{
    DecoderSettings copy = settings;
    for (SettingField field :
         {SettingField::Rows, SettingField::Cols, SettingField::SampleRate, SettingField::BlockSize,
          SettingField::SamplesPerPixel, SettingField::SamplesAveraged, SettingField::MinLevel,
          SettingField::MaxLevel}) {
        if (auto problem = checkSetting(field, settingRef(copy, field)))
            return problem;
    }
    return std::nullopt;
}

std::int32_t& settingRef(DecoderSettings& settings, SettingField field)
{
    switch (field) {
    case SettingField::Rows:
        return settings.rows;
    case SettingField::Cols:
        return settings.cols;
    case SettingField::SampleRate:
        return settings.sampleRate;
    case SettingField::BlockSize:
        return settings.blockSize;
    case SettingField::SamplesPerPixel:
        return settings.samplesPerPixel;
    case SettingField::SamplesAveraged:
        return settings.samplesAveraged;
    case SettingField::MinLevel:
        return settings.minLevel;
    case SettingField::MaxLevel:
        return settings.maxLevel;
    }
    return settings.rows;
}

} // namespace corvane
