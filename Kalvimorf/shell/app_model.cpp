#include "shell/app_model.h"

AppModel& AppModel::shared()
{
    static auto* model = new AppModel;
    return *model;
}

void AppModel::setFiles(std::vector<std::filesystem::path> files)
{
    files_ = std::move(files);
    Q_EMIT changed();
}

void AppModel::setDropTargeted(bool targeted)
{
    dropTargeted_ = targeted;
    Q_EMIT changed();
}

void AppModel::setMode(WheelMode mode)
{
    mode_ = mode;
    Q_EMIT changed();
}

void AppModel::setQuality(std::optional<QualityLevel> quality)
{
    quality_ = quality;
    Q_EMIT changed();
}
