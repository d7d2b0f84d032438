#include "settings/office_component.h"

OfficeComponent::State OfficeComponent::current()
{
    auto component = shared();
    return component ? component->office() : State{};
}
