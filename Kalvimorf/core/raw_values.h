#pragma once

#include <optional>
#include <string>

// Stored and typed enumerations are parsed exactly: case-sensitive, nothing for an unknown text.
template <typename Enum, typename Cases, typename ToRaw>
std::optional<Enum> parseRaw(const Cases& cases, ToRaw toRaw, const std::string& raw)
{
    for (Enum value : cases)
        if (toRaw(value) == raw)
            return value;
    return std::nullopt;
}
