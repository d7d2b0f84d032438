#pragma once

#include "trim/preview_player.h"

// Qt Multimedia on its default backend; frames come from a video sink, so that the editor paints
// them itself and a grab of the window sees the picture.
class QtPreviewPlayers : public PreviewPlayers {
public:
    std::unique_ptr<PreviewPlayer> make() override;
    void checkPlayable(const std::filesystem::path& file, QObject* context, std::function<void(bool)> answer) override;
};
