#include "core/base/quality.h"

#include "core/base/output_formats.h"
#include "core/base/raw_values.h"
#include "core/base/settings.h"
#include "core/base/task.h"

namespace {

struct LevelRow {
    QualityLevel value;
    std::string_view raw;
    std::string_view displayName;
};
// In order: the row's index is the level's order.
constexpr EnumTable<LevelRow, 4> levels{{{
    {QualityLevel::max, "max", "Máxima"},
    {QualityLevel::high, "high", "Alta"},
    {QualityLevel::web, "web", "Web"},
    {QualityLevel::light, "light", "Leve"},
}}};

struct GroupRow {
    QualityGroup value;
    std::string_view raw;
    std::string_view title;
    QualityLevel defaultLevel = QualityLevel::high;
};
constexpr EnumTable<GroupRow, 10> groups{{{
    {QualityGroup::jpg, "jpg", "JPG"},
    {QualityGroup::webp, "webp", "WebP", QualityLevel::web},
    {QualityGroup::heic, "heic", "HEIC"},
    {QualityGroup::avif, "avif", "AVIF"},
    {QualityGroup::video, "video", "Vídeo (MP4, MOV, MKV)"},
    {QualityGroup::webm, "webm", "WebM"},
    {QualityGroup::gif, "gif", "GIF animado"},
    {QualityGroup::mp3, "mp3", "MP3"},
    {QualityGroup::m4a, "m4a", "M4A (AAC)"},
    {QualityGroup::ogg, "ogg", "OGG / Opus"},
}}};

}

namespace QualityLevels {

const std::vector<QualityLevel>& all()
{
    static const auto all = levels.values();
    return all;
}

std::string rawValue(QualityLevel level) { return levels.raw(level); }
std::optional<QualityLevel> fromRaw(const std::string& raw) { return levels.parse(raw); }
std::string displayName(QualityLevel level) { return std::string(levels[level].displayName); }
int order(QualityLevel level) { return int(&levels[level] - levels.rows.data()); }

}

namespace QualityGroups {

const std::vector<QualityGroup>& all()
{
    static const auto all = groups.values();
    return all;
}

std::string rawValue(QualityGroup group) { return groups.raw(group); }
std::optional<QualityGroup> fromRaw(const std::string& raw) { return groups.parse(raw); }

std::optional<QualityGroup> of(const std::string& ext) { return OutputFormats::quality(ext); }

std::string title(QualityGroup group) { return std::string(groups[group].title); }

namespace {
const int imagePercent[] = {100, 90, 80, 65};
const int oggRate[] = {256, 160, 128, 96};
}

std::string detail(QualityGroup group, QualityLevel level)
{
    const int i = QualityLevels::order(level);
    switch (group) {
    case QualityGroup::jpg:
    case QualityGroup::webp:
    case QualityGroup::heic:
    case QualityGroup::avif: return std::to_string(imagePercent[i]) + "%";
    case QualityGroup::video: {
        static const char* texts[]
            = {"melhor qualidade", "tamanho original", "até 1080p, mais leve", "até 720p, bem leve"};
        return texts[i];
    }
    case QualityGroup::webm: {
        static const char* texts[] = {"melhor qualidade", "tamanho original", "até 1080p", "até 720p"};
        return texts[i];
    }
    case QualityGroup::gif: {
        static const char* texts[]
            = {"24 qps, até 1080 px", "15 qps, até 720 px", "12 qps, até 480 px", "10 qps, até 360 px"};
        return texts[i];
    }
    case QualityGroup::mp3:
    case QualityGroup::m4a: return std::to_string(320 - 64 * i) + " kbps";
    case QualityGroup::ogg: return std::to_string(oggRate[i]) + " kbps";
    }
    return {};
}

std::string shortText(QualityGroup group, QualityLevel level)
{
    const int i = QualityLevels::order(level);
    switch (group) {
    case QualityGroup::jpg:
    case QualityGroup::webp:
    case QualityGroup::heic:
    case QualityGroup::avif: return detail(group, level);
    case QualityGroup::video:
    case QualityGroup::webm: {
        static const char* texts[] = {"", "ORIGINAL", "1080P", "720P"};
        return texts[i];
    }
    case QualityGroup::gif: {
        static const char* texts[] = {"1080PX", "720PX", "480PX", "360PX"};
        return texts[i];
    }
    case QualityGroup::mp3:
    case QualityGroup::m4a: return std::to_string(320 - 64 * i) + "K";
    case QualityGroup::ogg: return std::to_string(oggRate[i]) + "K";
    }
    return {};
}

std::string label(QualityGroup group, QualityLevel level)
{
    return QualityLevels::displayName(level) + " · " + detail(group, level);
}

}

namespace Quality {

QualityLevel saved(QualityGroup group)
{
    return Defaults::choice(
        SettingKey::quality, QualityGroups::rawValue(group), QualityLevels::fromRaw, groups[group].defaultLevel);
}

std::optional<QualityLevel> override() { return Task::current().qualityOverride; }

QualityLevel levelFor(const std::string& ext)
{
    auto group = QualityGroups::of(ext);
    if (!group)
        return QualityLevel::high;
    if (auto pinned = override())
        return *pinned;
    return saved(*group);
}

}
