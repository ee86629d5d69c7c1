// The large preview pane: the region under the red box at the chosen scale, and where a
// pointer over either pane lies in the image.
#include <algorithm>

#include "format/image_file.h"
#include "host/resource_ids.h"
#include "viewer/pixel_raster.h"
#include "viewer/viewer_dialog.h"

platform::Rect ViewerDialog::PreviewRegion() {
    platform::Window* pane = GetDlgItem(IDC_PREVIEW_PANE);
    const platform::Rect client = pane != nullptr ? pane->GetClientRect() : platform::Rect{};
    const int32_t w = client.Width() / 8 * 8;
    const int32_t h = client.Height() / 8 * 8;

    const PaneGeometry mapping = FullViewMapping();
    const platform::Point atThumbnail = mapping.PaneToSource(m_redCentre.x, m_redCentre.y);
    const int32_t thumbnail = m_image != nullptr ? m_image->GetLevelCount() : 0;
    const platform::Point c =
        ImageFile::ConvertPoint(atThumbnail.x, atThumbnail.y, thumbnail, m_scale);
    const int32_t cx = std::max(c.x, w / 2);
    const int32_t cy = std::max(c.y, h / 2);
    const int32_t left = cx - w / 2;
    const int32_t top = cy - h / 2;
    return platform::Rect{left, top, left + w, top + h};
}

void ViewerDialog::RedrawLargePreview() {
    if (m_image == nullptr) return;
    const platform::Rect region = PreviewRegion();
    std::unique_ptr<PixelRaster> raster =
        m_image->ReadRegion(region.left, region.top, region.right, region.bottom, m_scale);
    if (raster == nullptr) return;
    platform::Window* pane = GetDlgItem(IDC_PREVIEW_PANE);
    PaneGeometry geometry;
    geometry.SetUp(pane, pane != nullptr ? pane->GetClientRect() : platform::Rect{},
                   raster->Bounds());
    raster->DrawInPane(geometry);
}

platform::Point ViewerDialog::FullViewPointAtThumbnail(platform::Point screenPoint) {
    const PaneGeometry mapping = FullViewMapping();
    const platform::Point inPane = mapping.ScreenToPane(screenPoint);
    return mapping.PaneToSource(inPane.x, inPane.y);
}

platform::Point ViewerDialog::PreviewPointAtScale(platform::Point screenPoint) {
    const platform::Rect region = PreviewRegion();
    platform::Window* pane = GetDlgItem(IDC_PREVIEW_PANE);
    PaneGeometry geometry;
    geometry.SetUp(pane, pane != nullptr ? pane->GetClientRect() : platform::Rect{}, region);
    const platform::Point inPane = geometry.ScreenToPane(screenPoint);
    const platform::Point inRegion = geometry.PaneToSource(inPane.x, inPane.y);
    return platform::Point{inRegion.x + region.left, inRegion.y + region.top};
}
