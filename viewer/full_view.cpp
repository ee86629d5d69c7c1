// The full-view pane: the thumbnail with the output box and the red box on it, how the boxes
// are placed, hit and moved.
#include <algorithm>

#include "host/resource_ids.h"
#include "platform/cursor.h"
#include "platform/drawing_context.h"
#include "viewer/box_drawing.h"
#include "viewer/image_file.h"
#include "viewer/pane_thumbnail.h"
#include "viewer/pixel_raster.h"
#include "viewer/viewer_dialog.h"

namespace {

constexpr platform::Colour kRed{255, 0, 0};
constexpr platform::Colour kWhite{255, 255, 255};
constexpr platform::Colour kBlack{0, 0, 0};

// What the full view says instead of a thumbnail it cannot hold.
constexpr const char* kTooLargeToShow = "Too large to show";

}  // namespace

PaneGeometry ViewerDialog::FullViewMapping() {
    PaneGeometry mapping;
    platform::Window* pane = GetDlgItem(IDC_FULL_VIEW_PANE);
    const platform::Rect client = pane != nullptr ? pane->GetClientRect() : platform::Rect{};
    const int32_t thumbnail = m_image != nullptr ? m_image->GetLevelCount() : 0;
    const platform::Rect source =
        m_image != nullptr ? m_image->GetBoundsAtScale(thumbnail) : platform::Rect{};
    mapping.SetUp(pane, client, source);
    return mapping;
}

platform::Rect ViewerDialog::OutputBoxExtent() const {
    const int32_t thumbnail = m_image != nullptr ? m_image->GetLevelCount() : 0;
    return ImageFile::ConvertRect(m_cropRect.left, m_cropRect.top, m_cropRect.right,
                                  m_cropRect.bottom, m_scale, thumbnail);
}

platform::Rect ViewerDialog::RedBoxExtent() {
    if (m_image == nullptr) return {};
    platform::Window* pane = GetDlgItem(IDC_PREVIEW_PANE);
    const platform::Rect client = pane != nullptr ? pane->GetClientRect() : platform::Rect{};
    PaneGeometry preview;
    preview.SetUp(pane, client, m_image->GetBoundsAtScale(m_scale));
    const platform::Rect fit = preview.FitRect();
    return ImageFile::ConvertRect(fit.left, fit.top, fit.right, fit.bottom, m_scale,
                                  m_image->GetLevelCount());
}

platform::Rect ViewerDialog::PlaceBox(bool xorMode, platform::Point& centre,
                                      const platform::Rect& extent, int style, bool draw) {
    const PaneGeometry mapping = FullViewMapping();
    const platform::Rect shown = mapping.DisplayedRect();
    if (!IsPlaced(centre)) {
        const platform::Rect window = mapping.WindowScreenRect();
        centre = mapping.ScreenToPane(
            {(window.left + window.right) / 2, (window.top + window.bottom) / 2});
    }
    platform::Point p = centre;
    const int32_t bw = mapping.SourceLengthToPane(extent.right - extent.left);
    const int32_t bh = mapping.SourceLengthToPane(extent.bottom - extent.top);
    p.x = std::max(p.x, bw / 2);
    p.y = std::max(p.y, bh / 2);

    platform::Rect box{p.x - bw / 2, p.y - bh / 2, 0, 0};
    box.right = box.left + bw;
    box.bottom = box.top + bh;
    // Into the thumbnail, in this order: a box larger than the thumbnail ends up covering
    // exactly the thumbnail.
    if (box.left < shown.left) {
        box.left = shown.left;
        box.right = box.left + bw;
    }
    if (box.top < shown.top) {
        box.top = shown.top;
        box.bottom = box.top + bh;
    }
    if (box.right > shown.right) {
        box.right = shown.right;
        box.left = box.right - bw;
    }
    if (box.bottom > shown.bottom) {
        box.bottom = shown.bottom;
        box.top = box.bottom - bh;
    }
    box.left = std::max(box.left, shown.left);
    box.top = std::max(box.top, shown.top);

    if (draw) {
        platform::DrawingContext dc = mapping.DrawingContext();
        const platform::RasterOp previousOp =
            dc.SetRop2(xorMode ? platform::RasterOp::XorPen : platform::RasterOp::CopyPen);
        if (xorMode || style == kRedBox) {
            const platform::Colour previousPen = dc.SelectPen(xorMode ? kWhite : kRed);
            OutlineRect(dc, box.left, box.top, box.right, box.bottom);
            OutlineRect(dc, box.left + 1, box.top + 1, box.right - 1, box.bottom - 1);
            dc.SelectPen(previousPen);
        } else {
            const platform::Colour previousPen = dc.SelectPen(kBlack);
            OutlineRect(dc, box.left, box.top, box.right, box.bottom);
            dc.SelectPen(kWhite);
            DashedRect(dc, box.left, box.top, box.right, box.bottom);
            dc.SelectPen(previousPen);
        }
        dc.SetRop2(previousOp);
        dc.Release();
    }

    centre = platform::Point{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
    return mapping.PaneToScreenRect(box);
}

bool ViewerDialog::HitBox(platform::Point screenPoint, platform::Point centre,
                          const platform::Rect& extent) {
    platform::Point copy = centre;
    return PlaceBox(false, copy, extent, 0, false).Contains(screenPoint);
}

void ViewerDialog::MoveBoxXor(platform::Point& stored, platform::Point screenPoint,
                              const platform::Rect& extent) {
    if (IsPlaced(stored)) PlaceBox(true, stored, extent, 0, true);
    platform::Point moved = FullViewMapping().ScreenToPane(screenPoint);
    // The pane's edge lies left of and above its client area; a point on it is not the
    // unplaced marker. (Placing clamps every centre to at least 0 anyway.)
    moved.x = std::max(moved.x, 0);
    moved.y = std::max(moved.y, 0);
    PlaceBox(true, moved, extent, 0, true);
    stored = moved;
}

void ViewerDialog::ClearPane(int32_t id) {
    platform::Window* control = GetDlgItem(id);
    if (control == nullptr) return;
    platform::DrawingContext dc = control->GetDC();
    dc.FillSolidRect(control->GetClientRect(), platform::ButtonFaceColour());
    dc.Release();
    control->Invalidate(true);
    control->UpdateWindow();
}

void ViewerDialog::RefreshPanes() {
    platform::BeginWaitCursor();
    RedrawFullView();
    RedrawLargePreview();
    platform::EndWaitCursor();
}

void ViewerDialog::RedrawFullView() {
    const int32_t thumbnailScale = m_image != nullptr ? m_image->GetLevelCount() : 0;
    const platform::Rect bounds =
        m_image != nullptr ? m_image->GetBoundsAtScale(thumbnailScale) : platform::Rect{};
    if (bounds.Width() > 0 && bounds.Height() > 0) {
        // The thumbnail is decoded a strip at a time and reduced to the pane as it comes.
        platform::Window* pane = GetDlgItem(IDC_FULL_VIEW_PANE);
        PaneGeometry geometry;
        geometry.SetUp(pane, pane != nullptr ? pane->GetClientRect() : platform::Rect{}, bounds);
        std::unique_ptr<PixelRaster> thumbnail = ReadPaneThumbnail(*m_image, geometry);
        ClearPane(IDC_FULL_VIEW_GROUP);
        ClearPane(IDC_FULL_VIEW_PANE);
        if (thumbnail != nullptr) {
            thumbnail->DrawReducedInPane(geometry);
        } else if (pane != nullptr) {
            platform::DrawingContext dc = pane->GetDC();
            dc.DrawText(pane->GetClientRect(), kTooLargeToShow);
            dc.Release();
        }
    }
    // The output box first, the red box over it.
    PlaceBox(false, m_outputCentre, OutputBoxExtent(), kOutputBox, true);
    PlaceBox(false, m_redCentre, RedBoxExtent(), kRedBox, true);
}
