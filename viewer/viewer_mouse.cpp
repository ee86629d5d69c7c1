// The mouse over the panes: dragging the boxes, zooming by double-click and by the preview's
// ratio menu, the pointer position in the status line and the pointer shapes.
#include <algorithm>
#include <cstdio>

#include "host/resource_ids.h"
#include "platform/cursor.h"
#include "platform/message_box.h"
#include "platform/popup_menu.h"
#include "viewer/image_file.h"
#include "viewer/viewer_dialog.h"
#include "viewer/viewer_settings.h"

int32_t ViewerDialog::ControlAtPoint(platform::Point clientPoint) {
    return ControlFromPoint(clientPoint, true);
}

void ViewerDialog::ShowPointerPosition(int32_t x, int32_t y) {
    char text[40];
    std::snprintf(text, sizeof text, "%d x, %d y", x, y);
    SetDlgItemText(IDC_STATUS, text);
    if (platform::Window* status = GetDlgItem(IDC_STATUS)) status->UpdateWindow();
}

void ViewerDialog::ClearPointerPosition() {
    if (GetDlgItemText(IDC_STATUS).empty()) return;
    SetDlgItemText(IDC_STATUS, "");
    if (platform::Window* status = GetDlgItem(IDC_STATUS)) status->UpdateWindow();
}

void ViewerDialog::OnMouseMove(uint32_t flags, platform::Point point) {
    platform::Dialog::OnMouseMove(flags, point);
    const int32_t control = ControlAtPoint(point);
    m_overPane = false;
    m_overRed = false;
    m_overOutput = false;
    const int32_t thumbnail = m_image != nullptr ? m_image->GetLevelCount() : 0;
    const platform::Point screen = ClientToScreen(point);
    // The status line shows only points of the image; anywhere else it is empty.
    if (control != IDC_FULL_VIEW_PANE && control != IDC_PREVIEW_PANE) ClearPointerPosition();

    if (control == IDC_FULL_VIEW_PANE) {
        m_overPane = true;
        bool inside = false;
        const platform::Point atThumbnail = FullViewPointAtThumbnail(screen, &inside);
        const platform::Point full = FullResolutionPoint(atThumbnail, thumbnail);
        if (inside) {
            ShowPointerPosition(full.x, full.y);
        } else {
            ClearPointerPosition();
        }

        const platform::Rect redExtent = RedBoxExtent();
        const platform::Rect outputExtent = OutputBoxExtent();
        m_overRed = HitBox(screen, m_redCentre, redExtent) && !m_draggingOutput;
        if (!m_overRed) m_overOutput = HitBox(screen, m_outputCentre, outputExtent);
        if (!(flags & platform::MK_LBUTTON)) return;

        if (m_dragging) {
            // The red box follows a dragged output box; a dragged red box moves alone.
            if (m_draggingOutput) MoveBoxXor(m_outputCentre, screen, outputExtent);
            if (m_draggingRed || m_draggingOutput) MoveBoxXor(m_redCentre, screen, redExtent);
            return;
        }
        // A drag starts with the first move with the button held inside a box; where both
        // boxes lie under the pointer, the red one is taken.
        if (HitBox(screen, m_redCentre, redExtent)) {
            MoveBoxXor(m_redCentre, screen, redExtent);
            m_draggingRed = m_dragging = true;
        } else if (HitBox(screen, m_outputCentre, outputExtent)) {
            MoveBoxXor(m_outputCentre, screen, outputExtent);
            m_draggingOutput = m_dragging = true;
        }
        return;
    }
    if (control == IDC_PREVIEW_PANE) {
        m_overPane = true;
        bool inside = false;
        const platform::Point atScale = PreviewPointAtScale(screen, &inside);
        const platform::Point full = FullResolutionPoint(atScale, m_scale);
        if (inside) {
            ShowPointerPosition(full.x, full.y);
        } else {
            ClearPointerPosition();
        }
    }
}

void ViewerDialog::OnMouseLeave() {
    m_overPane = m_overRed = m_overOutput = false;
    ClearPointerPosition();
}

void ViewerDialog::OnMouseWheel(uint32_t /*flags*/, int32_t delta, platform::Point point) {
    if (m_image == nullptr || ControlAtPoint(point) != IDC_PREVIEW_PANE || m_dragging) return;
    // One notch is 120; finer wheels add up to notches.
    constexpr int32_t kNotch = 120;
    m_wheelRest += delta;
    const int32_t notches = m_wheelRest / kNotch;
    m_wheelRest -= notches * kNotch;
    if (notches == 0) return;
    const int32_t thumbnail = m_image->GetLevelCount();
    // The wheel stays within the ratios the list offers, so that one is always selected.
    const int32_t scale = std::clamp(m_scale - notches, 0, std::max(RatioEntryCount() - 1, 0));
    if (notches < 0 && scale < m_scale) return;  // out beyond the list already (scale T)
    if (scale == m_scale) {
        if (notches > 0) platform::MessageBeep(0);  // closer than 1:1
        return;
    }
    // The image point under the pointer stays under it: the preview's middle moves to where
    // that point's distance from the middle, taken at the new scale, puts it.
    const platform::Point screen = ClientToScreen(point);
    const platform::Point under = PreviewPointAtScale(screen);
    const platform::Rect region = PreviewRegion();
    const int32_t dx = under.x - (region.left + region.right) / 2;
    const int32_t dy = under.y - (region.top + region.bottom) / 2;
    const platform::Point atNew = ImageFile::ConvertPoint(under.x, under.y, m_scale, scale);
    m_scale = scale;
    SelectRatio(m_scale);
    const platform::Point middle{atNew.x - dx, atNew.y - dy};
    const platform::Point atThumbnail =
        ImageFile::ConvertPoint(middle.x, middle.y, m_scale, thumbnail);
    // Only the red box follows; the crop stays where it is.
    m_redCentre = FullViewMapping().SourceToPane(atThumbnail.x, atThumbnail.y);
    RefreshPanes();
}

void ViewerDialog::OnLButtonUp(uint32_t flags, platform::Point point) {
    platform::Dialog::OnLButtonUp(flags, point);
    const bool dragged = m_dragging && (m_draggingRed || m_draggingOutput);
    m_dragging = m_draggingOutput = m_draggingRed = false;
    // Wherever the button comes up, a drag ends with the boxes drawn in their own style at
    // their new places and the preview following the red box: the rubber bands never stay
    // behind.
    if (dragged) RefreshPanes();
}

void ViewerDialog::OnLButtonDblClk(uint32_t flags, platform::Point point) {
    platform::Dialog::OnLButtonDblClk(flags, point);
    if (ControlAtPoint(point) != IDC_PREVIEW_PANE || m_image == nullptr) return;
    const int32_t thumbnail = m_image->GetLevelCount();
    // The clicked point, taken at the scale before the zoom.
    const platform::Point atScale = PreviewPointAtScale(ClientToScreen(point));
    const platform::Point atThumbnail =
        ImageFile::ConvertPoint(atScale.x, atScale.y, m_scale, thumbnail);

    if (flags & platform::MK_SHIFT) {
        if (m_scale < thumbnail) {
            ++m_scale;
            SelectRatio(m_scale);
        }
    } else {
        if (m_scale <= 0) {
            platform::MessageBeep(0);
            return;
        }
        --m_scale;
        SelectRatio(m_scale);
    }
    const platform::Point centre = FullViewMapping().SourceToPane(atThumbnail.x, atThumbnail.y);
    m_outputCentre = centre;
    m_redCentre = centre;
    RefreshPanes();
}

void ViewerDialog::OnRButtonDown(uint32_t flags, platform::Point point) {
    platform::Dialog::OnRButtonDown(flags, point);
    const platform::Point screen = ClientToScreen(point);
    platform::Window* preview = GetDlgItem(IDC_PREVIEW_PANE);
    if (preview == nullptr || !preview->GetWindowRect().Contains(screen)) return;

    platform::PopupMenu menu;
    const int32_t entries = RatioEntryCount();
    for (int32_t i = 0; i < entries; ++i) {
        char text[24];
        std::snprintf(text, sizeof text, "1:%d", RatioDenominator(i));
        menu.AppendMenu(platform::MF_STRING | (i == m_scale ? platform::MF_CHECKED : 0u),
                        static_cast<uint32_t>(IDM_RATIO_FIRST + i), text);
    }
    const bool overPane = m_overPane;
    m_overPane = false;
    menu.TrackPopupMenu(platform::TPM_RIGHTBUTTON, screen, *this);
    m_overPane = overPane;
}

void ViewerDialog::OnRatioCommand(int32_t id) {
    m_scale = id - IDM_RATIO_FIRST;
    platform::BeginWaitCursor();
    SelectRatio(m_scale);
    RefreshPanes();
    platform::EndWaitCursor();
}

bool ViewerDialog::OnSetCursor() {
    if (m_dragging) {
        if (m_overOutput) {
            platform::SetCursor(m_cursorDragOutput);
        } else if (m_overRed) {
            platform::SetCursor(m_cursorDragRed);
        }
        return true;
    }
    if (m_overOutput && m_cursorOverOutput != nullptr) {
        platform::SetCursor(m_cursorOverOutput);
        return true;
    }
    if (m_overRed && m_cursorOverRed != nullptr) {
        platform::SetCursor(m_cursorOverRed);
        return true;
    }
    if (m_overPane && m_cursorPane != nullptr) {
        platform::SetCursor(m_cursorPane);
        return true;
    }
    return false;
}
