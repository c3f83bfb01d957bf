// Regional settings the tests choose: settings given stand in for the user's locale in every
// thread, nullopt gives the locale back.
#pragma once

#include "core/platform/text/RegionalFormat.h"

#include <optional>

class TestFormatSettings final : public platform::RegionalFormatSource {
public:
    static void set(const std::optional<platform::TFormatSettings>& settings)
    {
        static TestFormatSettings source;
        install(nullptr);
        if (!settings)
            return;
        source.FSettings = *settings;
        install(&source);
    }

private:
    TestFormatSettings() = default;
    platform::TFormatSettings formatSettings() const override { return FSettings; }

    platform::TFormatSettings FSettings;
};
