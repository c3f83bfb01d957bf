// Where the tracker's input events come from: the widget library turns the application's mouse
// and keyboard input into events (TAppMessageHook); the widget-free tracker only installs and
// removes whatever hook it was given.
#pragma once

#include <functional>
#include <memory>

class TTrackingEvent;

class TTrackingHook {
public:
    using TSink = std::function<void(std::unique_ptr<TTrackingEvent>)>;

    virtual ~TTrackingHook() = default;
    // From now on every recorded input becomes an event handed to `sink`, on the user-interface
    // thread. Installing a hook replaces any other hook installed in the application.
    virtual void Install(TSink sink) = 0;
    // No more events; harmless when not installed.
    virtual void Remove() = 0;
};
