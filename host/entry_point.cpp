#include "host/entry_point.h"

#include "host/plugin_app.h"
#include "platform/host_interface.h"
#include "platform/module_instance.h"

// Selectors 0 to 4 are the about box and the read cycle; 5 to 17 (options, estimates,
// writing, the can-you-read-this-file question) are accepted and do nothing; anything else,
// negative numbers included, is refused. The host's data slot is never used.
extern "C" void ENTRYPOINT(int16_t selector, void* parameterBlock, int32_t* /*data*/,
                           int16_t* result) {
    if (result == nullptr) return;
    *result = noErr;
    const auto widened = static_cast<uint32_t>(static_cast<int32_t>(selector));
    if (widened > static_cast<uint32_t>(formatSelectorFilterFile)) {
        *result = formatBadParameters;
        return;
    }
    if (selector == formatSelectorAbout) {
        DoAbout(static_cast<const AboutRecord*>(parameterBlock));
        platform::ShutdownWindowingSystem();
        return;
    }
    if (selector > formatSelectorReadFinish) return;

    auto* format = static_cast<FormatRecord*>(parameterBlock);
    if (format == nullptr) {
        *result = formatBadParameters;
        return;
    }
    if (selector == formatSelectorReadPrepare) {
        if (gPluginApp == nullptr) gPluginApp = new PluginApp();
        *result = gPluginApp->DoReadPrepare(format);
        return;
    }
    // The host sends prepare first; without it there is nothing to start, continue or
    // finish.
    if (gPluginApp == nullptr) {
        *result = formatBadParameters;
        return;
    }
    switch (selector) {
        case formatSelectorReadStart:
            *result = gPluginApp->DoReadStart(format);
            break;
        case formatSelectorReadContinue:
            *result = gPluginApp->DoReadContinue(format);
            break;
        case formatSelectorReadFinish:
            *result = gPluginApp->DoReadFinish(format);
            delete gPluginApp;
            gPluginApp = nullptr;
            // The read is over: the windowing objects the module started go now, in order,
            // not from a static destructor at exit.
            platform::ShutdownWindowingSystem();
            break;
        default:
            break;
    }
}
