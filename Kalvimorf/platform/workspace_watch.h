#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>
#include <optional>

// Tells when another application becomes active or the desktop switches to another workspace,
// from the window manager's properties on the root window (_NET_ACTIVE_WINDOW, compared through
// _NET_WM_PID with this process, and _NET_CURRENT_DESKTOP). Needs Qt's X11 platform; elsewhere
// it never fires.
class WorkspaceWatch final : public QAbstractNativeEventFilter {
public:
    explicit WorkspaceWatch(std::function<void()> changed);
    ~WorkspaceWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    bool activeIsOther();
    bool desktopChanged(std::uint32_t property);

    std::function<void()> changed_;
    void* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint32_t activeAtom_ = 0, desktopAtom_ = 0, pidAtom_ = 0;
    std::uint32_t lastActive_ = 0;
    std::optional<std::uint32_t> lastDesktop_;
};
