#pragma once

#include "core/base/quality.h"
#include "core/base/settings.h"

#include <QObject>

#include <filesystem>
#include <optional>
#include <vector>

// What the main window shows: the selection made there, whether a file drag hovers over it, the
// mode tab and a quality picked there. One instance for the life of the process, so closing and
// reopening the window finds everything as it was; nothing is saved across launches. Main thread.
class AppModel : public QObject {
    Q_OBJECT
public:
    static AppModel& shared();
    AppModel() = default;

    const std::vector<std::filesystem::path>& files() const { return files_; }
    bool dropTargeted() const { return dropTargeted_; }
    WheelMode mode() const { return mode_; }
    // Absent: each format's saved level.
    std::optional<QualityLevel> quality() const { return quality_; }

    void setFiles(std::vector<std::filesystem::path> files);
    void setDropTargeted(bool targeted);
    void setMode(WheelMode mode);
    void setQuality(std::optional<QualityLevel> quality);

Q_SIGNALS:
    // After any field was written, also with the same value.
    void changed();

private:
    std::vector<std::filesystem::path> files_;
    bool dropTargeted_ = false;
    WheelMode mode_ = WheelMode::convert;
    std::optional<QualityLevel> quality_;
};
