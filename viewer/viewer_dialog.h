// The viewer dialog: the user picks the ratio (scale), the crop size and the output
// resolution while looking at the whole image, and OK hands the choice to the application
// object.
#pragma once

#include <cstdint>

#include "platform/cursor.h"
#include "platform/dialog.h"
#include "platform/geometry.h"
#include "viewer/pane_geometry.h"
#include "viewer/viewer_choice.h"

class ImageFile;

class ViewerDialog : public platform::Dialog {
  public:
    // The dialog starts from choice's image, scale and resolution and, when it ends with OK,
    // writes the chosen region, scale and resolution back into it.
    ViewerDialog(platform::Window* parent, ViewerChoice& choice);
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
    // crop sizes are below 32767 (the caption then says the crop is too large).
    void ShowMemoryEstimate(double bytes);
    // The crop at the chosen scale, centred on the output box (placed in the middle of the
    // thumbnail if it has not been placed yet). A crop that fits the image is shifted into
    // it where the box's centre (one thumbnail pixel wide) puts it across an edge, so that a
    // crop of the image's size is exactly the image.
    platform::Rect ComputeOutputRect();
    // Entries of the ratio list and the ratio menu: one per scale below the thumbnail scale,
    // and at least 1:1.
    int32_t RatioEntryCount() const;
    // True while a crop size is one the host cannot take (OK disabled).
    bool CropRefused() const;

    // Mouse messages over the panes (static controls leave the mouse to the dialog), in the
    // dialog's client coordinates.
    void OnMouseMove(uint32_t flags, platform::Point point) override;
    void OnLButtonUp(uint32_t flags, platform::Point point) override;
    void OnLButtonDblClk(uint32_t flags, platform::Point point) override;
    void OnRButtonDown(uint32_t flags, platform::Point point) override;
    // The wheel over the preview zooms one ratio per notch (forward closer), keeping the
    // image point under the pointer where it is; the crop does not move.
    void OnMouseWheel(uint32_t flags, int32_t delta, platform::Point point) override;
    // The pointer has left the dialog's own area: the status line is cleared.
    void OnMouseLeave() override;
    bool OnSetCursor() override;
    // A command of the preview's ratio menu (ids 1030 to 1040): scale = id - 1030.
    void OnRatioCommand(int32_t id);

    // Both panes under the wait cursor: the full view with its boxes, then the preview.
    void RefreshPanes();
    // The thumbnail (decoded anew at the thumbnail scale), then the output box and the red
    // box over it.
    void RedrawFullView();
    // The region under the red box at the chosen scale, decoded and drawn into the preview
    // pane; the pane is left as it is when the scale cannot be read.
    void RedrawLargePreview();
    // What the preview pane shows, in pixels of the image at the chosen scale: the pane's
    // size cut to multiples of 8, around the red box's centre, never left of or above 0.
    platform::Rect PreviewRegion();

    // The full-view pane mapped onto the whole image at the thumbnail scale.
    PaneGeometry FullViewMapping();
    // The crop as a rectangle at the thumbnail scale.
    platform::Rect OutputBoxExtent() const;
    // What the preview pane shows of the whole image at the chosen scale (its fit), as a
    // rectangle at the thumbnail scale.
    platform::Rect RedBoxExtent();

    // Box styles of PlaceBox.
    static constexpr int kRedBox = 1;
    static constexpr int kOutputBox = 2;
    // Places a box of extent (thumbnail pixels) around centre (full-view pane coordinates)
    // and clamps it into the thumbnail; an unplaced centre starts in the middle of the pane.
    // With draw, draws it: in xor mode as a white band two pixels wide (drawn twice, it
    // vanishes), else as a red frame two pixels thick (kRedBox) or a black outline with white
    // dashes (kOutputBox). Stores the clamped centre back; returns the box on the screen.
    platform::Rect PlaceBox(bool xorMode, platform::Point& centre, const platform::Rect& extent,
                            int style, bool draw);
    // True when screenPoint lies in the box PlaceBox would place for centre (left and top
    // edges in, right and bottom edges out); nothing is drawn or stored.
    bool HitBox(platform::Point screenPoint, platform::Point centre, const platform::Rect& extent);
    // Rubber-band move: the band at the stored centre is drawn again (which removes it), a
    // band is drawn around screenPoint, and its clamped centre becomes the stored centre.
    void MoveBoxXor(platform::Point& stored, platform::Point screenPoint,
                    const platform::Rect& extent);
    // The control under a dialog client point, transparent ones (the full view's group box)
    // skipped; 0 when there is none.
    int32_t ControlAtPoint(platform::Point clientPoint);
    // The status line reads "%d x, %d y".
    void ShowPointerPosition(int32_t x, int32_t y);
    // The status line becomes empty.
    void ClearPointerPosition();
    // Fills the control's client area with the button face and repaints it at once.
    void ClearPane(int32_t id);

    // A screen point over the full view as a point of the image at the thumbnail scale, and
    // over the preview as a point at the chosen scale. With inside, also whether the point
    // lies on the image shown there.
    platform::Point FullViewPointAtThumbnail(platform::Point screenPoint, bool* inside = nullptr);
    platform::Point PreviewPointAtScale(platform::Point screenPoint, bool* inside = nullptr);
    // A point at scale as a point of the full-resolution image, kept within it.
    platform::Point FullResolutionPoint(platform::Point point, int32_t scale) const;

    // True once a box centre has been placed (an unplaced one is (-1, -1)).
    static bool IsPlaced(platform::Point centre) { return centre.x >= 0 || centre.y >= 0; }

    void OnApply();
    void OnMax();
    void OnRatioChanged();

    ViewerChoice* m_choice;
    // Wheel turns not yet worth a notch.
    int32_t m_wheelRest = 0;

    platform::Rect m_cropRect{};
    int32_t m_scale = 0;
    ImageFile* m_image = nullptr;
    int32_t m_planes = 0;
    // Box centres in client coordinates of the full-view pane, so that they stay on the
    // thumbnail when the dialog moves; (-1, -1) until first placed.
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
