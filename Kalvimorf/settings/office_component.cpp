#include "settings/office_component.h"

#include "documents/component_installer.h"
#include "documents/components.h"

namespace {

// The installer's state, word for word.
class InstallerComponent final : public OfficeComponent {
public:
    InstallerComponent()
    {
        connect(&ComponentInstaller::shared(), &ComponentInstaller::stateChanged, this, &OfficeComponent::changed);
    }
    State office() const override { return from(ComponentInstaller::shared().office()); }
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
    return {Components::soffice() ? State::Phase::ready : State::Phase::notInstalled, 0, {}};
}

void OfficeComponent::useInstaller() { set(std::make_shared<InstallerComponent>()); }
