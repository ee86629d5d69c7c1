// The large preview pane: the region under the red box at the chosen scale, and where a
// pointer over either pane lies in the image.
#include <algorithm>

#include "host/resource_ids.h"
#include "viewer/image_file.h"
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

platform::Point ViewerDialog::FullViewPointAtThumbnail(platform::Point screenPoint, bool* inside) {
    const PaneGeometry mapping = FullViewMapping();
    const platform::Point inPane = mapping.ScreenToPane(screenPoint);
    if (inside != nullptr) *inside = mapping.DisplayedRect().Contains(inPane);
    return mapping.PaneToSource(inPane.x, inPane.y);
}

platform::Point ViewerDialog::PreviewPointAtScale(platform::Point screenPoint, bool* inside) {
    const platform::Rect region = PreviewRegion();
    platform::Window* pane = GetDlgItem(IDC_PREVIEW_PANE);
    PaneGeometry geometry;
    geometry.SetUp(pane, pane != nullptr ? pane->GetClientRect() : platform::Rect{}, region);
    const platform::Point inPane = geometry.ScreenToPane(screenPoint);
    const platform::Point inRegion = geometry.PaneToSource(inPane.x, inPane.y);
    const platform::Point atScale{inRegion.x + region.left, inRegion.y + region.top};
    if (inside != nullptr) {
        // On the drawn region, and within the image there (the region may reach past it).
        *inside = geometry.DisplayedRect().Contains(inPane) && m_image != nullptr &&
                  m_image->GetBoundsAtScale(m_scale).Contains(atScale);
    }
    return atScale;
}

platform::Point ViewerDialog::FullResolutionPoint(platform::Point point, int32_t scale) const {
    const platform::Point full = ImageFile::ConvertPoint(point.x, point.y, scale, 0);
    if (m_image == nullptr) return full;
    // A step to a finer scale maps the last pixel one or more past the edge.
    return platform::Point{std::clamp(full.x, 0, std::max(m_image->GetWidthAtScale(0) - 1, 0)),
                           std::clamp(full.y, 0, std::max(m_image->GetHeightAtScale(0) - 1, 0))};
}
