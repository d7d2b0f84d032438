#include "trim/preview_player.h"

#include "core/base/helper_module.h"

#include <QTimer>

namespace {

// Without the module nothing plays: the editor still cuts, with no picture.
class SilentPlayer : public PreviewPlayer {
public:
    void setSource(const std::filesystem::path& file) override { source_ = file; }
    bool hasSource() const override { return !source_.empty(); }
    void play() override { }
    void pause() override { }
    void seek(double seconds, std::function<void()> done) override
    {
        position_ = seconds;
        QTimer::singleShot(0, this, std::move(done));
    }
    double position() const override { return position_; }
    QImage frame() const override { return {}; }

private:
    std::filesystem::path source_;
    double position_ = 0;
};

class SilentPlayers : public PreviewPlayers {
public:
    std::unique_ptr<PreviewPlayer> make() override { return std::make_unique<SilentPlayer>(); }
    void checkPlayable(const std::filesystem::path&, QObject* context, std::function<void(bool)> answer) override
    {
        QTimer::singleShot(0, context, [answer = std::move(answer)] {
            answer(false);
        });
    }
};

// Qt Multimedia's players live in brivlon-preview.so, so that a program that never shows a clip
// never loads the media libraries.
PreviewPlayers& fromModule()
{
    static PreviewPlayers* players = []() -> PreviewPlayers* {
        if (auto entry = HelperModule::entry<PreviewPlayers*()>("brivlon-preview.so", "brivlonPreviewPlayers"))
            return entry();
        static SilentPlayers silent;
        return &silent;
    }();
    return *players;
}

}

PreviewPlayers& PreviewPlayers::current()
{
    if (auto installed = shared())
        return *installed;
    return fromModule();
}
