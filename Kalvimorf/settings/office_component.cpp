#include "settings/office_component.h"

#include "documents/component_installer.h"
#include "documents/components.h"
#include "documents/office_engine.h"

namespace {

// What the installer's state does not say: the suite already there, whether a download could work.
OfficeComponent::State withSurroundings(OfficeComponent::State state, bool online)
{
    if (const auto suite = OfficeEngine::systemSuite())
        state.systemSuite = QString::fromStdString(suite->name);
    state.canDownload = online && Components::downloadable();
    return state;
}

// The installer's state, word for word.
class InstallerComponent final : public OfficeComponent {
public:
    InstallerComponent()
    {
        connect(&ComponentInstaller::shared(), &ComponentInstaller::stateChanged, this, &OfficeComponent::changed);
    }
    State office() const override
    {
        auto& installer = ComponentInstaller::shared();
        return withSurroundings(from(installer.office()), installer.online());
    }
    void install() override { ComponentInstaller::shared().install(); }

private:
    static State from(const ComponentInstaller::State& state)
    {
        using Kind = ComponentInstaller::State::Kind;
        const auto phase = [&] {
            switch (state.kind) {
            case Kind::downloading: return State::Phase::downloading;
            case Kind::failed: return State::Phase::failed;
            case Kind::notInstalled: return State::Phase::notInstalled;
            case Kind::waitingNetwork: return State::Phase::waitingNetwork;
            case Kind::installing: return State::Phase::installing;
            case Kind::ready: return State::Phase::ready;
            }
            return State::Phase::notInstalled;
        }();
        return {phase, state.fraction, QString::fromStdString(state.message)};
    }
};

}

OfficeComponent::State OfficeComponent::current()
{
    if (auto component = shared())
        return component->office();
    // Read from the disk alone, so that --diagnostics starts no installer or network watch.
    return withSurroundings(
        {Components::soffice() ? State::Phase::ready : State::Phase::notInstalled, 0, {}}, Components::networkUsable());
}

void OfficeComponent::useInstaller() { set(std::make_shared<InstallerComponent>()); }
