#include "core/quality.h"

#include "core/raw_values.h"

#include "core/settings.h"
#include "core/task.h"

namespace QualityLevels {

const std::vector<QualityLevel>& all()
{
    static const std::vector<QualityLevel> levels = {QualityLevel::max, QualityLevel::high, QualityLevel::web,
                                                     QualityLevel::light};
    return levels;
}

std::string rawValue(QualityLevel level)
{
    switch (level) {
    case QualityLevel::max: return "max";
    case QualityLevel::high: return "high";
    case QualityLevel::web: return "web";
    case QualityLevel::light: return "light";
    }
    return {};
}

std::optional<QualityLevel> fromRaw(const std::string& raw)
{
    return parseRaw<QualityLevel>(all(), rawValue, raw);
}

std::string displayName(QualityLevel level)
{
    switch (level) {
    case QualityLevel::max: return "Máxima";
    case QualityLevel::high: return "Alta";
    case QualityLevel::web: return "Web";
    case QualityLevel::light: return "Leve";
    }
    return {};
}

int order(QualityLevel level)
{
    switch (level) {
    case QualityLevel::max: return 0;
    case QualityLevel::high: return 1;
    case QualityLevel::web: return 2;
    case QualityLevel::light: return 3;
    }
    return 0;
}

}

namespace QualityGroups {

const std::vector<QualityGroup>& all()
{
    static const std::vector<QualityGroup> groups = {
        QualityGroup::jpg,  QualityGroup::webp, QualityGroup::heic, QualityGroup::avif, QualityGroup::video,
        QualityGroup::webm, QualityGroup::gif,  QualityGroup::mp3,  QualityGroup::m4a,  QualityGroup::ogg};
    return groups;
}

std::string rawValue(QualityGroup group)
{
    switch (group) {
    case QualityGroup::jpg: return "jpg";
    case QualityGroup::webp: return "webp";
    case QualityGroup::heic: return "heic";
    case QualityGroup::avif: return "avif";
    case QualityGroup::video: return "video";
    case QualityGroup::webm: return "webm";
    case QualityGroup::gif: return "gif";
    case QualityGroup::mp3: return "mp3";
    case QualityGroup::m4a: return "m4a";
    case QualityGroup::ogg: return "ogg";
    }
    return {};
}

std::optional<QualityGroup> fromRaw(const std::string& raw)
{
    return parseRaw<QualityGroup>(all(), rawValue, raw);
}

std::optional<QualityGroup> of(const std::string& ext)
{
    if (ext == "mp4" || ext == "mov" || ext == "mkv")
        return QualityGroup::video;
    if (ext == "opus")
        return QualityGroup::ogg;
    if (ext == "video")
        return std::nullopt;
    return fromRaw(ext);
}

std::string title(QualityGroup group)
{
    switch (group) {
    case QualityGroup::jpg: return "JPG";
    case QualityGroup::webp: return "WebP";
    case QualityGroup::heic: return "HEIC";
    case QualityGroup::avif: return "AVIF";
    case QualityGroup::video: return "Vídeo (MP4, MOV, MKV)";
    case QualityGroup::webm: return "WebM";
    case QualityGroup::gif: return "GIF animado";
    case QualityGroup::mp3: return "MP3";
    case QualityGroup::m4a: return "M4A (AAC)";
    case QualityGroup::ogg: return "OGG / Opus";
    }
    return {};
}

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
        static const char* texts[] = {"melhor qualidade", "tamanho original", "até 1080p, mais leve",
                                      "até 720p, bem leve"};
        return texts[i];
    }
    case QualityGroup::webm: {
        static const char* texts[] = {"melhor qualidade", "tamanho original", "até 1080p", "até 720p"};
        return texts[i];
    }
    case QualityGroup::gif: {
        static const char* texts[] = {"24 qps, até 1080 px", "15 qps, até 720 px", "12 qps, até 480 px",
                                      "10 qps, até 360 px"};
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
    auto stored = Defaults::string(QString::fromStdString("quality." + QualityGroups::rawValue(group)));
    if (auto level = QualityLevels::fromRaw(stored.value_or("")))
        return *level;
    return group == QualityGroup::webp ? QualityLevel::web : QualityLevel::high;
}

std::optional<QualityLevel> override()
{
    return Task::current().qualityOverride;
}

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
