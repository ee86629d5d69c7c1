// The platform layer: resources, dialogs built from templates, their mouse and command
// routing, modal runs without a user, and drawing on pane surfaces.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QtTest/QTest>
#include <vector>

#include "platform/cursor.h"
#include "platform/dialog.h"
#include "platform/dialog_automation.h"
#include "platform/dib_section.h"
#include "platform/message_box.h"
#include "platform/module_instance.h"
#include "platform/qt/native_window.h"
#include "platform/resources.h"

namespace {

using namespace platform;

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;

constexpr ControlTemplate kControls[] = {
    {10, ControlClass::Static, "", 9, 11, 90, 90, kChild | SS_GRAYFRAME, WS_EX_STATICEDGE},
    {11, ControlClass::Button, "Group", 6, 1, 96, 104, kChild | BS_GROUPBOX, WS_EX_TRANSPARENT},
    {IDC_STATIC, ControlClass::Static, "&Number:", 110, 10, 30, 8, kChild, 0},
    {12, ControlClass::Edit, "", 144, 8, 29, 12, kChild | WS_BORDER | WS_TABSTOP, 0},
    {13, ControlClass::ComboBox, "", 110, 30, 80, 60, kChild | CBS_DROPDOWN | WS_TABSTOP, 0},
    {14, ControlClass::Static, "status", 110, 60, 60, 8, kChild, 0},
    {1, ControlClass::Button, "OK", 150, 90, 50, 14, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
    {2, ControlClass::Button, "Cancel", 150, 70, 50, 14, kChild | WS_TABSTOP, 0},
};
constexpr DialogTemplate kDialogs[] = {
    {500, WS_POPUP | WS_CAPTION, 0, 0, 0, 210, 110, "Test dialog", "MS Sans Serif", 8, kControls},
};
constexpr StringResource kStrings[] = {{1, "A string of some length"}};
constexpr CursorResource kCursors[] = {
    {7, 3, 4, {"#o~.............................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "................................",
               "................................", "..............................##"}},
};
constexpr ResourceTable kResources = {0x0409, kStrings, kDialogs, kCursors, nullptr};

class RecordingDialog : public Dialog {
  public:
    RecordingDialog() : Dialog(500, nullptr) {}
    bool OnInitDialog() override {
        ++inits;
        return true;
    }
    void OnOK() override {
        ++oks;
        Dialog::OnOK();
    }
    bool OnControlNotify(int32_t id, uint16_t code) override {
        notifications.emplace_back(id, code);
        return true;
    }
    void OnPaint() override { ++paints; }
    void OnMouseMove(uint32_t flags, Point point) override { moves.push_back({flags, point}); }
    void OnLButtonDown(uint32_t flags, Point point) override { downs.push_back({flags, point}); }
    void OnLButtonDblClk(uint32_t flags, Point point) override {
        doubles.push_back({flags, point});
    }

    struct Mouse {
        uint32_t flags;
        Point point;
    };
    int inits = 0;
    int oks = 0;
    int paints = 0;
    std::vector<std::pair<int32_t, uint16_t>> notifications;
    std::vector<Mouse> moves, downs, doubles;
};

class PlatformTest : public testing::Test {
  protected:
    void SetUp() override {
        InitFramework(RecordModuleInstance(&kResources, &kResources));
        SetDialogAnswer(DialogAnswer::User);
        SetModalHook(nullptr);
        ClearMessageLog();
    }
    void TearDown() override {
        SetModalHook(nullptr);
        SetDialogAnswer(DialogAnswer::User);
    }
};

TEST_F(PlatformTest, ResourcesComeFromTheRecordedModule) {
    char buffer[10];
    EXPECT_EQ(LoadStringResource(CurrentModuleInstance(), 1, buffer, sizeof buffer), 9);
    EXPECT_STREQ(buffer, "A string ");
    EXPECT_EQ(LoadStringResource(CurrentModuleInstance(), 2, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_NE(FindDialogTemplate(CurrentModuleInstance(), 500), nullptr);
    EXPECT_EQ(FindDialogTemplate(CurrentModuleInstance(), 501), nullptr);
    EXPECT_FALSE(CurrentModuleInstance()->path.empty());

    CursorHandle cursor = LoadCursorResource(CurrentModuleInstance(), 7);
    ASSERT_NE(cursor, nullptr);
    CursorBits bits;
    ASSERT_TRUE(GetCursorBits(cursor, &bits));
    EXPECT_EQ(bits.hotSpotX, 3);
    EXPECT_EQ(bits.hotSpotY, 4);
    // Black, white, inverted, then transparent.
    EXPECT_EQ(bits.andMask[0] >> 28, 0x3u);
    EXPECT_EQ(bits.xorMask[0] >> 28, 0x6u);
    EXPECT_EQ(bits.andMask[31] & 3u, 0u);
    DestroyCursor(cursor);
    EXPECT_EQ(LoadCursorResource(CurrentModuleInstance(), 8), nullptr);
    EXPECT_FALSE(GetCursorBits(LoadSystemCursor(SystemCursor::Cross), &bits));
}

TEST_F(PlatformTest, ControlsSitWhereTheTemplatePutsThemInDialogUnits) {
    EXPECT_EQ(DialogUnitsToPixelsX(90), 135);
    EXPECT_EQ(DialogUnitsToPixelsY(90), 146);
    EXPECT_EQ(DialogUnitsToPixelsY(11), 17);
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.inits, 1);
    EXPECT_EQ(dialog.GetClientRect(), (Rect{0, 0, 315, 178}));
    QWidget* pane = WidgetOf(dialog.GetDlgItem(10));
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->geometry(), QRect(13, 17, 135, 146));
    // The static edge lies outside the client area.
    EXPECT_EQ(dialog.GetDlgItem(10)->GetClientRect(), (Rect{0, 0, 133, 144}));
    const Rect window = dialog.GetDlgItem(10)->GetWindowRect();
    const Point origin = dialog.GetDlgItem(10)->ClientToScreen({0, 0});
    EXPECT_EQ(origin, (Point{window.left + 1, window.top + 1}));
    EXPECT_EQ(dialog.GetDlgItem(10)->ScreenToClient(origin), (Point{0, 0}));
    EXPECT_EQ(dialog.GetDlgItem(99), nullptr);
}

TEST_F(PlatformTest, ControlUnderAPointSkipsTransparentOnes) {
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    EXPECT_EQ(dialog.ControlFromPoint({50, 50}, true), 10);
    EXPECT_EQ(dialog.ControlFromPoint({12, 5}, false), 11);
    EXPECT_EQ(dialog.ControlFromPoint({12, 5}, true), 0);
    EXPECT_EQ(dialog.ControlFromPoint({300, 5}, true), 0);
}

TEST_F(PlatformTest, MouseOverStaticControlsReachesTheDialog) {
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    QWidget* window = WidgetOf(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QTest::mouseMove(window, QPoint(60, 70));
    QTest::mouseClick(window, Qt::LeftButton, Qt::ShiftModifier, QPoint(61, 71));
    QTest::mouseDClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(62, 72));
    ASSERT_FALSE(dialog.moves.empty());
    EXPECT_EQ(dialog.moves.back().point, (Point{60, 70}));
    ASSERT_FALSE(dialog.downs.empty());
    EXPECT_EQ(dialog.downs[0].point, (Point{61, 71}));
    EXPECT_EQ(dialog.downs[0].flags & (MK_LBUTTON | MK_SHIFT), MK_LBUTTON | MK_SHIFT);
    ASSERT_EQ(dialog.doubles.size(), 1u);
    EXPECT_EQ(dialog.doubles[0].point, (Point{62, 72}));
}

TEST_F(PlatformTest, ControlsSendCommandsAndKeepTheirTexts) {
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    auto* edit = dynamic_cast<QLineEdit*>(WidgetOf(dialog.GetDlgItem(12)));
    ASSERT_NE(edit, nullptr);
    for (const auto& [text, value] : std::vector<std::pair<QString, int32_t>>{
             {"12abc", 12}, {"", 0}, {"-7", -7}, {"x1", 0}, {"99999999999", INT32_MAX}}) {
        edit->setText(text);
        EXPECT_EQ(dialog.GetDlgItemInt(12), value) << text.toStdString();
    }
    dialog.SetDlgItemInt(12, -345);
    EXPECT_EQ(dialog.GetDlgItemText(12), "-345");
    QTest::keyClicks(edit, "1");
    EXPECT_EQ(dialog.notifications.back(), std::make_pair(int32_t{12}, EN_CHANGE));

    EXPECT_EQ(dialog.ComboAddString(13, "one"), 0);
    EXPECT_EQ(dialog.ComboAddString(13, "two"), 1);
    EXPECT_EQ(dialog.ComboGetCurSel(13), -1);
    EXPECT_EQ(dialog.ComboSetCurSel(13, 1), 1);
    EXPECT_EQ(dialog.ComboGetItemText(13, 1), "two");
    EXPECT_EQ(dialog.ComboSetCurSel(13, 5), -1);
    EXPECT_EQ(dialog.ComboGetCurSel(13), -1);
    auto* combo = dynamic_cast<QComboBox*>(WidgetOf(dialog.GetDlgItem(13)));
    emit combo->activated(0);
    EXPECT_EQ(dialog.notifications.back(), std::make_pair(int32_t{13}, CBN_SELCHANGE));

    dialog.SetDlgItemText(11, "New caption");
    EXPECT_EQ(dialog.GetDlgItemText(11), "New caption");
    dialog.GetDlgItem(1)->EnableWindow(false);
    EXPECT_FALSE(dialog.GetDlgItem(1)->IsWindowEnabled());
}

TEST_F(PlatformTest, PaintHandlerRunsForTheDialogNotForItsControls) {
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(WidgetOf(&dialog)));
    QApplication::processEvents();
    EXPECT_GE(dialog.paints, 1);
    dialog.paints = 0;
    dialog.SetDlgItemText(14, "changed");
    dialog.GetDlgItem(14)->UpdateWindow();
    {
        DrawingContext dc = dialog.GetDlgItem(10)->GetDC();
        dc.FillSolidRect({0, 0, 10, 10}, {255, 0, 0});
    }
    QApplication::processEvents();
    EXPECT_EQ(dialog.paints, 0);
    WidgetOf(&dialog)->repaint();
    QApplication::processEvents();
    EXPECT_EQ(dialog.paints, 1);
}

TEST_F(PlatformTest, ModalRunsEndWithoutAUser) {
    {
        SetDialogAnswer(DialogAnswer::Accept);
        RecordingDialog dialog;
        EXPECT_EQ(dialog.DoModal(), IDOK);
        EXPECT_EQ(dialog.inits, 1);
        EXPECT_EQ(dialog.oks, 1);
    }
    {
        SetDialogAnswer(DialogAnswer::Cancel);
        RecordingDialog dialog;
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        EXPECT_EQ(dialog.oks, 0);
    }
    {
        // Nobody can answer a dialog on the offscreen platform.
        SetDialogAnswer(DialogAnswer::User);
        RecordingDialog dialog;
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    }
    {
        SetModalHook([](Dialog& running) { QTest::keyClick(WidgetOf(&running), Qt::Key_Escape); });
        RecordingDialog dialog;
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
        SetModalHook([](Dialog& running) { running.EndDialog(7); });
        EXPECT_EQ(dialog.DoModal(), 7);
    }
    Dialog missing(999, nullptr);
    EXPECT_EQ(missing.DoModal(), -1);
}

TEST_F(PlatformTest, MessageBoxesDoNotWaitWithoutAScreen) {
    EXPECT_EQ(ShowMessageBox(nullptr, "text", "caption", MB_OK | MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(AppMessageBox("warning", MB_OK), IDOK);
    MessageBeep(0);
    ASSERT_EQ(ShownMessageBoxes().size(), 2u);
    EXPECT_EQ(ShownMessageBoxes()[0].caption, "caption");
    EXPECT_EQ(ShownMessageBoxes()[1].style, MB_ICONWARNING);
    EXPECT_EQ(BeepCount(), 1);
}

TEST_F(PlatformTest, PensDrawOnThePaneSurfaceWithCopyAndExclusiveOr) {
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    DrawingContext dc = dialog.GetDlgItem(10)->GetDC();
    ASSERT_TRUE(dc.IsValid());
    dc.FillSolidRect({0, 0, 133, 144}, {10, 20, 30});
    dc.SelectPen({255, 0, 0});
    dc.MoveTo(5, 5);
    dc.LineTo(9, 5);  // 5..8, not 9
    EXPECT_EQ(dc.GetPixel(5, 5), (Colour{255, 0, 0}));
    EXPECT_EQ(dc.GetPixel(8, 5), (Colour{255, 0, 0}));
    EXPECT_EQ(dc.GetPixel(9, 5), (Colour{10, 20, 30}));

    dc.SetRop2(RasterOp::XorPen);
    dc.SelectPen({255, 255, 255});
    for (int pass = 0; pass < 2; ++pass) {
        dc.MoveTo(20, 20);
        dc.LineTo(60, 20);
        dc.LineTo(60, 50);
        dc.LineTo(20, 50);
        dc.LineTo(20, 20);
        if (pass == 0) {
            EXPECT_EQ(dc.GetPixel(40, 20), (Colour{245, 235, 225}));
        }
    }
    EXPECT_EQ(dc.GetPixel(40, 20), (Colour{10, 20, 30}));
    EXPECT_EQ(dc.GetPixel(60, 35), (Colour{10, 20, 30}));
    // Lines far off the surface cost nothing and draw nothing.
    dc.MoveTo(-2000000000, 3);
    dc.LineTo(2000000000, 3);
    EXPECT_EQ(dc.GetPixel(0, 3), (Colour{245, 235, 225}));

    EXPECT_FALSE(dialog.GetDlgItem(14)->GetDC().IsValid());
}

TEST_F(PlatformTest, ErasingAPaneWipesWhatWasDrawnAndRestoresItsFrame) {
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    Window* pane = dialog.GetDlgItem(10);
    const Rect client = pane->GetClientRect();
    {
        DrawingContext dc = pane->GetDC();
        dc.FillSolidRect(client, {1, 2, 3});
    }
    pane->Invalidate(false);
    EXPECT_EQ(pane->GetDC().GetPixel(20, 20), (Colour{1, 2, 3}));
    pane->Invalidate();
    DrawingContext dc = pane->GetDC();
    EXPECT_EQ(dc.GetPixel(20, 20), ButtonFaceColour());
    EXPECT_EQ(dc.GetPixel(0, 20), (Colour{128, 128, 128}));
    EXPECT_EQ(dc.GetPixel(client.right - 1, client.bottom - 1), (Colour{128, 128, 128}));
    // Controls without a surface simply repaint.
    dialog.GetDlgItem(14)->Invalidate();
    EXPECT_EQ(dialog.GetDlgItemText(14), "status");
}

TEST_F(PlatformTest, TheCursorSetLastIsKnownUntilTheDefaultReturns) {
    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    CursorHandle cross = LoadSystemCursor(SystemCursor::Cross);
    SetCursor(cross);
    EXPECT_EQ(GetCursor(), cross);
    CursorHandle own = LoadCursorResource(CurrentModuleInstance(), 7);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(SetCursor(own), cross);
    EXPECT_EQ(GetCursor(), own);
    DestroyCursor(own);
    EXPECT_EQ(GetCursor(), nullptr);  // a destroyed cursor is no longer current
    // A mouse move the dialog does not answer for gives the default pointer.
    SetCursor(cross);
    QWidget* window = WidgetOf(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    // (An earlier double-click through the widget leaves the test tool's button held.)
    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, QPoint(83, 41));
    QTest::mouseMove(window->windowHandle(), QPoint(83, 41));
    QTest::mouseMove(window->windowHandle(), QPoint(84, 42));
    EXPECT_EQ(GetCursor(), nullptr);
}

TEST_F(PlatformTest, BitmapsAreStoredBottomUpInBlueGreenRed) {
    BitmapInfoHeader header;
    header.width = 3;
    header.height = 2;
    header.bitCount = 24;
    auto bitmap = DibSection::Create(header, nullptr);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Stride(), 12);
    uint8_t* stored = bitmap->Bits();
    stored[12] = 0;  // top row (stored last), first pixel: red
    stored[13] = 0;
    stored[14] = 255;
    EXPECT_EQ(bitmap->PixelRgb(0, 0), 0xFF0000u);

    RecordingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    DrawingContext dc = dialog.GetDlgItem(10)->GetDC();
    dc.BitBlt(4, 6, *bitmap);
    EXPECT_EQ(dc.GetPixel(4, 6), (Colour{255, 0, 0}));
    EXPECT_EQ(dc.GetPixel(4, 7), (Colour{0, 0, 0}));

    header.bitCount = 16;
    EXPECT_EQ(DibSection::Create(header, nullptr), nullptr);
    header.bitCount = 8;
    header.height = -2;
    EXPECT_EQ(DibSection::Create(header, nullptr), nullptr);
}

}  // namespace
