#include "host/plugin_app.h"

#include <algorithm>
#include <cstring>

#include "host/buffer_suite.h"
#include "host/resource_ids.h"
#include "platform/message_box.h"
#include "platform/module_instance.h"
#include "platform/resources.h"
#include "viewer/viewer_dialog.h"

PluginApp* gPluginApp = nullptr;

namespace {

constexpr int32_t kTileSize = 256;

// Tile rectangles are 16-bit; a tile that reaches past 32767 is cut there, which is past
// any image the host takes (at most 32767 x 32767).
int16_t Clamp16(int32_t value) {
    return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

}  // namespace

PluginApp::PluginApp() = default;

PluginApp::~PluginApp() = default;

int16_t DoAbout(const AboutRecord* about) {
    const platform::ModuleInstance* instance = platform::CurrentModuleInstance();
    char text[256];
    char caption[60];
    platform::LoadStringResource(instance, IDS_ABOUT_TEXT, text, sizeof text);
    platform::LoadStringResource(instance, IDS_ABOUT_CAPTION, caption, sizeof caption);
    void* owner = nullptr;
    if (about != nullptr && about->platformData != nullptr) owner = about->platformData->hwnd;
    platform::ShowMessageBox(owner, text, caption, platform::MB_OK | platform::MB_ICONINFORMATION);
    return noErr;
}

int16_t PluginApp::DoReadPrepare(FormatRecord* format) {
    result = noErr;
    format->maxData = 0;

    char path[256];
    std::memset(path, 0, sizeof path);
    if (format->fileSpec != nullptr) {
        const uint8_t length = format->fileSpec->name[0];
        std::memcpy(path, format->fileSpec->name + 1, std::min<size_t>(length, sizeof path - 1));
    }

    // A file that cannot be read beeps here and reports a plane count of 0.
    image = std::make_unique<ImageFile>(path);
    left = 0;
    right = image->GetWidthAtScale(0);
    top = 0;
    bottom = image->GetHeightAtScale(0);

    const int32_t planes = image->GetPlaneCount();
    if (planes == 3 || planes == 1) {
        result = RunViewerDialog();
    } else {
        platform::AppMessageBox("This type of image is not supported, sorry.", platform::MB_OK);
        result = userCanceledResult;
    }
    return static_cast<int16_t>(result);
}

int16_t PluginApp::RunViewerDialog() {
    const platform::ModuleInstance* instance = platform::CurrentModuleInstance();
    platform::InitFramework(instance);
    result = noErr;
    m_hInstance = instance;

    // The dialog starts from the saved scale and resolution; OK hands back the region, the
    // scale and the resolution chosen. Cancel changes nothing.
    ViewerChoice choice;
    choice.image = image.get();
    choice.scale = scale;
    choice.resolution = GetResolution();
    ViewerDialog dialog(nullptr, choice);
    m_pMainWnd = &dialog;
    const int ended = dialog.DoModal();
    m_pMainWnd = nullptr;
    if (ended == platform::IDOK) {
        left = choice.output.left;
        top = choice.output.top;
        right = choice.output.right;
        bottom = choice.output.bottom;
        scale = choice.scale;
        SetResolution(choice.resolution);
    }
    result = ended == platform::IDOK ? noErr : userCanceledResult;
    return static_cast<int16_t>(result);
}

int16_t PluginApp::DoReadStart(FormatRecord* format) {
    result = noErr;
    tileHeight = kTileSize;
    tileWidth = kTileSize;

    format->imageSize.v = static_cast<int16_t>(bottom - top);
    format->imageSize.h = static_cast<int16_t>(right - left);
    format->depth = 8;
    format->planeBytes = 1;
    format->imageHRes = static_cast<int32_t>(static_cast<uint32_t>(resolution) << 16);
    format->imageVRes = format->imageHRes;

    const bool colour = image != nullptr && image->GetPlaneCount() == 3;
    format->imageMode = colour ? plugInModeRGBColor : plugInModeGrayScale;
    format->planes = colour ? 3 : 1;
    format->loPlane = 0;
    format->hiPlane = colour ? 2 : 0;
    format->colBytes = colour ? 3 : 1;
    format->rowBytes = tileWidth * format->planes;
    return static_cast<int16_t>(result);
}

int16_t PluginApp::DoReadContinue(FormatRecord* format) {
    const int32_t planes = image != nullptr && image->GetPlaneCount() == 3 ? 3 : 1;
    // One spare row and column: the reader's windows are inclusive.
    const int32_t size = planes * (tileHeight + 1) * (tileWidth + 1);
    BufferID bufferId = nullptr;
    result = AllocateBuffer(format->bufferProcs, size, &bufferId);
    uint8_t* buffer = nullptr;
    if (result == noErr) {
        buffer = LockBuffer(format->bufferProcs, bufferId, false);
        if (buffer == nullptr) result = memFullErr;
    }
    if (result != noErr || image == nullptr || tileWidth <= 0 || tileHeight <= 0) {
        if (buffer != nullptr) UnlockBuffer(format->bufferProcs, bufferId);
        if (bufferId != nullptr) FreeBuffer(format->bufferProcs, bufferId);
        format->data = nullptr;
        if (result == noErr) result = formatBadParameters;  // continue without start
        return static_cast<int16_t>(result);
    }

    const int64_t columns = (int64_t(right) - left + tileWidth - 1) / tileWidth;
    const int64_t rows = (int64_t(bottom) - top + tileHeight - 1) / tileHeight;
    const int32_t total =
        static_cast<int32_t>(std::max<int64_t>(columns, 0) * std::max<int64_t>(rows, 0));
    int32_t done = 0;
    result = noErr;

    for (int64_t row = top; result == noErr && row < bottom; row += tileHeight) {
        for (int64_t column = left; result == noErr && column < right; column += tileWidth) {
            const auto x = static_cast<int32_t>(column);
            const auto y = static_cast<int32_t>(row);
            // Every tile starts black: nothing of an earlier tile shows where this one is
            // not decoded (a scale beyond what the file object reads).
            std::memset(buffer, 0, size_t(size));
            if (!image->ReadRegionInto(tileWidth, x, y, x + tileWidth, y + tileHeight, scale,
                                       buffer)) {
                result = readErr;
                break;
            }
            format->theRect.top = Clamp16(y - top);
            format->theRect.left = Clamp16(x - left);
            format->theRect.bottom = Clamp16(y + tileHeight - top);
            format->theRect.right = Clamp16(x + tileWidth - left);
            format->data = buffer;
            result = format->advanceState != nullptr ? int32_t{format->advanceState()}
                                                     : int32_t{formatBadParameters};
            ++done;
            if (format->progressProc != nullptr) format->progressProc(done, total);
        }
    }

    UnlockBuffer(format->bufferProcs, bufferId);
    FreeBuffer(format->bufferProcs, bufferId);
    format->data = nullptr;
    return static_cast<int16_t>(result);
}

int16_t PluginApp::DoReadFinish(FormatRecord* /*format*/) { return static_cast<int16_t>(result); }
