// The viewer dialog: the user picks the ratio (scale), the crop size and the output
// resolution while looking at the whole image, and OK hands the choice to the application
// object.
#pragma once

#include <cstdint>

#include "platform/cursor.h"
#include "platform/dialog.h"
#include "platform/geometry.h"
#include "viewer/pane_geometry.h"

class ImageFile;

class ViewerDialog : public platform::Dialog {
  public:
    explicit ViewerDialog(platform::Window* parent);
    ~ViewerDialog() override;

    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnCommand(uint32_t wParam, intptr_t lParam) override;
    bool OnControlNotify(int32_t id, uint16_t code) override;
    void DoDataExchange() override;
    void OnPaint() override;

    // Reads and limits the typed values, shows the estimate, updates the crop rectangle.
    void ValidateSettings();
    // Selects entry index of the ratio list (an index beyond it clears the selection), then
    // validates.
    void SelectRatio(int32_t index);
    // Rewrites the output group's caption with the estimate; OK is enabled only while both
    // crop sizes are below 32767.
    void ShowMemoryEstimate(double bytes);
    // The crop at the chosen scale, centred on the output box (placed in the middle of the
    // thumbnail if it has not been placed yet); not clipped to the image.
    platform::Rect ComputeOutputRect();

    // Both panes; the boxes and pictures are drawn by the full-view code.
    void RefreshPanes();
    void RedrawFullView();
    void RedrawLargePreview();

    // The full-view pane mapped onto the whole image at the thumbnail scale.
    PaneGeometry FullViewMapping();
    // The crop as a rectangle at the thumbnail scale.
    platform::Rect OutputBoxExtent() const;
    // Places a box of extent (thumbnail pixels) around centre (screen point) within the
    // thumbnail, as drawing it would: an unplaced centre (x < 0) starts in the middle of the
    // full-view pane. Stores the clamped centre back; returns the box in pane coordinates.
    platform::Rect PlaceBoxCentre(platform::Point& centre, const platform::Rect& extent);

    void OnApply();
    void OnMax();
    void OnRatioChanged();

    platform::Rect m_cropRect{};
    int32_t m_scale = 0;
    ImageFile* m_image = nullptr;
    int32_t m_planes = 0;
    platform::Point m_outputCentre{-1, -1};
    platform::Point m_redCentre{-1, -1};
    bool m_dragging = false;
    bool m_draggingOutput = false;
    bool m_draggingRed = false;
    int32_t m_cropWidth = 0;
    int32_t m_cropHeight = 0;
    int32_t m_resolution = 0;
    platform::CursorHandle m_cursorOverOutput = nullptr;
    platform::CursorHandle m_cursorOverRed = nullptr;
    platform::CursorHandle m_cursorDragRed = nullptr;
    platform::CursorHandle m_cursorDragOutput = nullptr;
    platform::CursorHandle m_cursorPane = nullptr;
    bool m_overOutput = false;
    bool m_overRed = false;
    bool m_overPane = false;
};
