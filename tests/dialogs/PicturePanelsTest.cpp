#include <gtest/gtest.h>

#include "dialogs/DiaImage.h"
#include "dialogs/DiaSelimg.h"
#include "dialogs/PanelTestSupport.h"
#include "platform/FileDialog.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"
#include "support/TempDir.h"

using guitest::Rgb;
using paneltest::HostWindow;
using paneltest::RecordingHost;

namespace {

constexpr int kSide = 128;
constexpr size_t kBlockBytes = kSide * kSide * 3;

Rgb BlockPixel(const std::vector<unsigned char>& block, int x, int y) {
    const unsigned char* p = block.data() + (y * kSide + x) * 3;
    return Rgb{p[2], p[1], p[0]};
}

// Pixels of the top-left 128 by 128 of the panel on screen that differ from the block.
int DifferencesFromBlock(const wxWindow* panel, const std::vector<unsigned char>& block) {
    const wxImage shown = guitest::CaptureClient(panel);
    int differences = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            differences += !(guitest::PixelAt(shown, x, y) == BlockPixel(block, x, y));
        }
    }
    return differences;
}

// The picture's corners show the panel's own colour.
bool PictureAreaBlank(const wxWindow* panel) {
    const wxImage shown = guitest::CaptureClient(panel);
    const Rgb background = guitest::PixelAt(shown, 200, 190);
    return guitest::PixelAt(shown, 0, 0) == background &&
           guitest::PixelAt(shown, kSide - 1, kSide - 1) == background;
}

class PictureChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel = new DiaSelimg(host);
        ASSERT_TRUE(panel->Create(window.get()));
        panel->Ask(wxString::FromUTF8(texts::kChoosePictureInstructions));
        window.ShowPanel(panel);
        // Top-left quarter pure red, the rest a pattern of many colours.
        guitest::WritePicture(good, 64, 48, [](int x, int y) {
            return x < 32 && y < 24 ? Rgb{255, 0, 0} : Rgb{x * 4, y * 5, (x * y) % 256};
        });
        testsupport::WriteFile(bad, "GIF89a but nothing after it");
    }

    void Choose(std::optional<std::string> path) {
        files.Choose(std::move(path));
        panel->OnChoosePicture();
        guitest::Pump(150);
    }
    void Repaint() {
        panel->Refresh();
        guitest::Pump(150);
    }

    testsupport::TempDir dir;
    const std::string good = dir.File("holiday.png");
    const std::string bad = dir.File("broken.gif");
    RecordingHost host;
    HostWindow window;
    guitest::MessageBoxes boxes;
    guitest::FileChoice files{std::nullopt};
    DiaSelimg* panel = nullptr;
};

}  // namespace

TEST_F(PictureChoiceTest, ChosenPictureIsShownAndTheBlockIsWhatIsShown) {
    // Confirmed at once, before any repaint, the block is already the whole picture.
    files.Choose(good);
    panel->OnChoosePicture();
    panel->OnOK();
    ASSERT_EQ(host.pictures.size(), 1u);
    const std::vector<unsigned char> block = host.pictures[0];
    ASSERT_EQ(block.size(), kBlockBytes);
    EXPECT_EQ(BlockPixel(block, 0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(BlockPixel(block, 127, 127), (Rgb{252, 235, 145}));  // source 63,47
    EXPECT_EQ(files.Asked(), 1);
    EXPECT_EQ(files.Wildcard(),
              platform::TranslateFileFilter(wxString::FromUTF8(texts::kPictureFileFilter)));
    guitest::Pump(150);
    EXPECT_EQ(DifferencesFromBlock(panel, block), 0);
    EXPECT_TRUE(boxes.Shown().empty());
    guitest::SaveScreenshot(window.get(), "picture-selection");

    // Repaints and confirmations use the picture as it was chosen, without reading the file
    // again.
    guitest::WritePicture(good, 64, 48, [](int, int) { return Rgb{0, 0, 255}; });
    Repaint();
    EXPECT_EQ(DifferencesFromBlock(panel, block), 0);
    panel->OnOK();
    ASSERT_EQ(host.pictures.size(), 2u);
    EXPECT_EQ(host.pictures[1], block);
}

TEST_F(PictureChoiceTest, NothingChosenCancelledOrUnreadableIsRefused) {
    const auto refusedWith = [&](const char* text) {
        boxes.Clear();
        const size_t chosen = host.pictures.size();
        panel->OnOK();
        return boxes.Texts() == std::vector<std::string>{text} && host.pictures.size() == chosen;
    };
    EXPECT_TRUE(refusedWith(texts::kNoPictureChosen));
    EXPECT_EQ(boxes.Shown()[0].caption, "ferrocask");
    Choose(std::nullopt);
    EXPECT_TRUE(refusedWith(texts::kNoPictureChosen));

    // Cancelling a second choice keeps the first.
    Choose(good);
    Choose(std::nullopt);
    panel->OnOK();
    ASSERT_EQ(host.pictures.size(), 1u);
    EXPECT_EQ(DifferencesFromBlock(panel, host.pictures[0]), 0);

    // A file that cannot be decoded is said so at once and on confirming; nothing is drawn.
    boxes.Clear();
    Choose(bad);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{texts::kPictureCannotBeImported});
    EXPECT_TRUE(refusedWith(texts::kPictureCannotBeImported));
    Repaint();
    EXPECT_TRUE(PictureAreaBlank(panel));

    // Asked again (for the next master password), nothing is chosen and nothing shown.
    Choose(good);
    panel->Ask(wxString::FromUTF8(texts::kChoosePictureInstructions));
    guitest::Pump(150);
    EXPECT_TRUE(PictureAreaBlank(panel));
    EXPECT_TRUE(refusedWith(texts::kNoPictureChosen));
}

namespace {

class PictureCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel = new DiaImage(host);
        ASSERT_TRUE(panel->Create(window.get()));
        window.ShowPanel(panel);
    }
    void Show(const unsigned char* pixels, int width, int height) {
        panel->ShowPicture(wxString::FromUTF8(texts::kPictureNotSeenAdvice), pixels, width,
                           height);
        guitest::Pump(150);
    }

    RecordingHost host;
    HostWindow window;
    DiaImage* panel = nullptr;
};

}  // namespace

TEST_F(PictureCheckTest, BlockIsDrawnPixelForPixelAtTheTopLeft) {
    std::vector<unsigned char> block;
    for (int i = 0; i < kSide * kSide; ++i) {
        block.insert(block.end(), {static_cast<unsigned char>(i % 256),
                                   static_cast<unsigned char>(i / 128 * 2),
                                   static_cast<unsigned char>(255 - i % 200)});
    }
    Show(block.data(), kSide, kSide);
    EXPECT_EQ(DifferencesFromBlock(panel, block), 0);
    guitest::SaveScreenshot(window.get(), "picture-check");
    // Shown again without pixels: the earlier picture goes.
    Show(nullptr, kSide, kSide);
    EXPECT_TRUE(PictureAreaBlank(panel));
}

TEST_F(PictureCheckTest, NoOrOversizedPictureDrawsNothingAndButtonsStillAnswer) {
    EXPECT_TRUE(PictureAreaBlank(panel));
    const std::vector<unsigned char> wide(2000 * 3, 0);  // one black row wider than the screen
    Show(wide.data(), 2000, 1);
    EXPECT_TRUE(PictureAreaBlank(panel));

    guitest::ClickAt(panel, panel->Control(ids::kCancel)->GetRect().GetPosition() + wxPoint(10, 8));
    ASSERT_TRUE(guitest::PumpUntil([&] { return host.checks.size() == 1; }));
    guitest::ClickAt(panel, panel->Control(ids::kOk)->GetRect().GetPosition() + wxPoint(10, 8));
    ASSERT_TRUE(guitest::PumpUntil([&] { return host.checks.size() == 2; }));
    EXPECT_EQ(host.checks, (std::vector<bool>{false, true}));
}
