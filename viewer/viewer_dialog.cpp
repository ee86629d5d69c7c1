#include "viewer/viewer_dialog.h"

#include <algorithm>

#include "host/resource_ids.h"
#include "platform/dialog_template.h"
#include "platform/message_box.h"
#include "platform/module_instance.h"
#include "viewer/image_file.h"
#include "viewer/viewer_settings.h"

namespace {

// The common controls need no set-up on this platform; kept as the first step of
// initialisation.
void InitCommonControls() {}

}  // namespace

ViewerDialog::ViewerDialog(platform::Window* parent, ViewerChoice& choice)
    : platform::Dialog(IDD_VIEWER, parent), m_choice(&choice) {}

ViewerDialog::~ViewerDialog() {
    platform::DestroyCursor(m_cursorOverOutput);
    platform::DestroyCursor(m_cursorOverRed);
    platform::DestroyCursor(m_cursorDragRed);
    platform::DestroyCursor(m_cursorDragOutput);
}

bool ViewerDialog::OnInitDialog() {
    // Modal to its host only: no always-on-top style.
    platform::Dialog::OnInitDialog();
    SetIcon(GetIcon(true), true);
    SetIcon(GetIcon(true), false);

    InitCommonControls();
    m_image = m_choice->image;
    m_scale = m_choice->scale;
    m_resolution = m_choice->resolution;

    // The thumbnail scale: the coarsest at which the image still exceeds the full view.
    if (m_image != nullptr) {
        const platform::Window* pane = GetDlgItem(IDC_FULL_VIEW_PANE);
        const platform::Rect client = pane != nullptr ? pane->GetClientRect() : platform::Rect{};
        const int32_t levels = m_image->GetLevelCount();
        const int32_t thumbnail = ChooseThumbnailScale(*m_image, client.Width(), client.Height());
        if (thumbnail != levels) m_image->SetLevelCount(thumbnail);
    }

    m_cropRect = platform::Rect{0, 0, 640, 480};
    m_planes = m_image != nullptr ? m_image->GetPlaneCount() : 0;
    m_dragging = m_draggingOutput = m_draggingRed = false;
    m_outputCentre = platform::Point{-1, -1};
    m_redCentre = platform::Point{-1, -1};

    SetDlgItemInt(IDC_CROP_WIDTH, m_cropRect.Width());
    SetDlgItemInt(IDC_CROP_HEIGHT, m_cropRect.Height());
    SetDlgItemInt(IDC_RESOLUTION, m_resolution);

    // One entry per scale below the thumbnail scale, at least 1:1. The dialog opens at the
    // largest listed ratio not beyond the saved scale, so that what it shows and delivers is
    // always a scale the image is read at.
    const int32_t entries = RatioEntryCount();
    for (int32_t i = 0; i < entries; ++i) {
        ComboAddString(IDC_RATIO_LIST, RatioEntryText(i, m_image->GetWidthAtScale(i),
                                                      m_image->GetHeightAtScale(i)));
    }
    if (entries > 0) m_scale = std::clamp(m_scale, 0, entries - 1);
    SelectRatio(m_scale);

    const platform::ModuleInstance* instance = platform::CurrentModuleInstance();
    m_cursorOverOutput = platform::LoadCursorResource(instance, IDC_CURSOR_OVER_OUTPUT);
    m_cursorDragOutput = platform::LoadCursorResource(instance, IDC_CURSOR_DRAG_OUTPUT);
    m_cursorOverRed = platform::LoadCursorResource(instance, IDC_CURSOR_OVER_RED);
    m_cursorDragRed = platform::LoadCursorResource(instance, IDC_CURSOR_DRAG_RED);
    m_cursorPane = platform::LoadSystemCursor(platform::SystemCursor::Cross);
    m_overOutput = false;
    m_overRed = false;

    if (GetDlgItem(IDC_FULL_VIEW_GROUP) != nullptr && m_image != nullptr) {
        SetDlgItemText(IDC_FULL_VIEW_GROUP, FullViewCaption(m_image->GetPath()));
    }
    return true;
}

void ViewerDialog::ValidateSettings() {
    m_cropWidth = GetDlgItemInt(IDC_CROP_WIDTH);
    m_cropHeight = GetDlgItemInt(IDC_CROP_HEIGHT);
    m_resolution = GetDlgItemInt(IDC_RESOLUTION);

    const int32_t width = m_image != nullptr ? m_image->GetWidthAtScale(m_scale) : 0;
    const int32_t height = m_image != nullptr ? m_image->GetHeightAtScale(m_scale) : 0;
    if (width < m_cropWidth) {
        m_cropWidth = width;
        SetDlgItemInt(IDC_CROP_WIDTH, m_cropWidth);
    }
    if (height < m_cropHeight) {
        m_cropHeight = height;
        SetDlgItemInt(IDC_CROP_HEIGHT, m_cropHeight);
    }
    // Nothing the host could not take passes: an empty or negative crop becomes one pixel,
    // a resolution stays within what the resolution field of a document can mean.
    if (m_cropWidth < kMinimumCrop) {
        m_cropWidth = kMinimumCrop;
        SetDlgItemInt(IDC_CROP_WIDTH, m_cropWidth);
    }
    if (m_cropHeight < kMinimumCrop) {
        m_cropHeight = kMinimumCrop;
        SetDlgItemInt(IDC_CROP_HEIGHT, m_cropHeight);
    }
    const int32_t resolution = std::clamp(m_resolution, kMinimumResolution, kMaximumResolution);
    if (resolution != m_resolution) {
        m_resolution = resolution;
        SetDlgItemInt(IDC_RESOLUTION, m_resolution);
    }

    ShowMemoryEstimate(double(m_planes) * double(m_cropHeight) * double(m_cropWidth));
    m_cropRect = platform::Rect{0, 0, m_cropWidth, m_cropHeight};
}

void ViewerDialog::SelectRatio(int32_t index) {
    ComboSetCurSel(IDC_RATIO_LIST, index);
    ValidateSettings();
}

void ViewerDialog::ShowMemoryEstimate(double bytes) {
    platform::Window* group = GetDlgItem(IDC_OUTPUT_GROUP);
    if (group == nullptr) return;
    const std::string caption = CaptionWithoutEstimate(group->GetWindowText());
    const std::string suffix = MemoryEstimateSuffix(bytes);

    platform::Window* ok = GetDlgItem(platform::IDOK);
    const bool refused = CropRefused();
    if (ok != nullptr && ok->IsWindowEnabled() == refused) ok->EnableWindow(!refused);

    // When OK is disabled, the caption says why.
    group->SetWindowText(caption + suffix + (refused ? kCropTooLargeNote : ""));
}

platform::Rect ViewerDialog::ComputeOutputRect() {
    // The output box is placed by the first drawing of the full view; a dialog confirmed
    // before that places it now, where that drawing would have.
    if (!IsPlaced(m_outputCentre))
        PlaceBox(false, m_outputCentre, OutputBoxExtent(), kOutputBox, false);
    const PaneGeometry mapping = FullViewMapping();
    const platform::Point atThumbnail = mapping.PaneToSource(m_outputCentre.x, m_outputCentre.y);
    const int32_t thumbnail = m_image != nullptr ? m_image->GetLevelCount() : 0;
    const platform::Point centre =
        ImageFile::ConvertPoint(atThumbnail.x, atThumbnail.y, thumbnail, m_scale);
    const int32_t w = m_cropRect.Width();
    const int32_t h = m_cropRect.Height();
    const int32_t width = m_image != nullptr ? m_image->GetWidthAtScale(m_scale) : 0;
    const int32_t height = m_image != nullptr ? m_image->GetHeightAtScale(m_scale) : 0;
    return CropAroundCentre(centre, w, h, width, height);
}

int32_t ViewerDialog::RatioEntryCount() const {
    if (m_image == nullptr) return 0;
    return std::max(m_image->GetLevelCount(), 1);
}

bool ViewerDialog::CropRefused() const {
    return m_cropWidth >= kRefusedCropSize || m_cropHeight >= kRefusedCropSize;
}

void ViewerDialog::OnOK() {
    // What was typed since the last Apply counts: the fields are validated first (clamped
    // values shown), and a crop the host cannot take keeps the dialog open.
    ValidateSettings();
    if (CropRefused()) return;
    platform::Dialog::OnOK();
    m_choice->output = ComputeOutputRect();
    m_choice->scale = m_scale;
    m_choice->resolution = m_resolution;
}

void ViewerDialog::OnCancel() { platform::Dialog::OnCancel(); }

bool ViewerDialog::OnCommand(uint32_t wParam, intptr_t lParam) {
    if (wParam == platform::IDOK) {
        OnOK();
        return true;
    }
    if (wParam >= uint32_t(IDM_RATIO_FIRST) && wParam <= uint32_t(IDM_RATIO_LAST)) {
        OnRatioCommand(static_cast<int32_t>(wParam));
        return true;
    }
    return platform::Dialog::OnCommand(wParam, lParam);
}

bool ViewerDialog::OnControlNotify(int32_t id, uint16_t code) {
    if (id == IDC_APPLY && code == platform::BN_CLICKED) {
        OnApply();
        return true;
    }
    if (id == IDC_MAX && code == platform::BN_CLICKED) {
        OnMax();
        return true;
    }
    if (id == IDC_RATIO_LIST && code == platform::CBN_SELCHANGE) {
        OnRatioChanged();
        return true;
    }
    return false;
}

void ViewerDialog::DoDataExchange() {}

void ViewerDialog::OnPaint() { RefreshPanes(); }

void ViewerDialog::OnApply() {
    ValidateSettings();
    RedrawFullView();
}

void ViewerDialog::OnMax() {
    if (m_image != nullptr) {
        SetDlgItemInt(IDC_CROP_WIDTH, m_image->GetWidthAtScale(m_scale));
        SetDlgItemInt(IDC_CROP_HEIGHT, m_image->GetHeightAtScale(m_scale));
    }
    OnApply();
}

void ViewerDialog::OnRatioChanged() {
    const int selected = ComboGetCurSel(IDC_RATIO_LIST);
    if (selected < 0) return;
    m_scale = selected;
    ValidateSettings();
    RefreshPanes();
}
