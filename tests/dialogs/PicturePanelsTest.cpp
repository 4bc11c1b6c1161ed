#include "dialogs/DiaImage.h"
#include "dialogs/DiaSelimg.h"
#include "dialogs/PanelTestSupport.h"
#include "resources/DialogTemplates.h"
#include "resources/Texts.h"

using guitest::Rgb;

namespace {

constexpr int kSide = 128;

// A picture block (blue-green-red rows from the top) as an image.
wxImage BlockImage(const unsigned char* bgr) {
    wxImage image(kSide, kSide);
    for (int i = 0; i < kSide * kSide * 3; ++i) {
        image.GetData()[i] = bgr[i + 2 - 2 * (i % 3)];
    }
    return image;
}
int DifferencesFromBlock(const wxWindow* panel, const unsigned char* block) {
    const wxImage shown = guitest::CaptureClient(panel).GetSubImage(wxRect(0, 0, kSide, kSide));
    return paneltest::Differences(shown, BlockImage(block));
}
// The picture's place shows the panel's own colour.
bool PictureAreaBlank(const wxWindow* panel) {
    const wxImage shown = guitest::CaptureClient(panel);
    return guitest::PixelAt(shown, 0, 0) == guitest::PixelAt(shown, 200, 190);
}

class PictureChoiceTest : public paneltest::PanelTest<DiaSelimg> {
protected:
    void Choose(std::optional<std::string> path) {
        files.Choose(std::move(path));
        panel->OnChoosePicture();
        guitest::Pump(150);
    }
    // Confirms; true when refused with just that message.
    bool RefusedWith(const char* text) {
        boxes.Clear();
        const size_t chosen = host.pictures.size();
        panel->OnOK();
        return boxes.Texts() == std::vector<std::string>{text} && host.pictures.size() == chosen;
    }

    const std::string good = host.vault.File("holiday.png");
    const std::string bad = host.vault.File("broken.gif");
    guitest::MessageBoxes boxes;
    guitest::FileChoice files{std::nullopt};
};

}  // namespace

TEST_F(PictureChoiceTest, ChosenPictureIsShownAndTheBlockIsWhatIsShown) {
    // Top-left quarter pure red, the rest a pattern of many colours.
    guitest::WritePicture(good, 64, 48, [](int x, int y) {
        return x < 32 && y < 24 ? Rgb{255, 0, 0} : Rgb{x * 4, y * 5, (x * y) % 256};
    });
    // Confirmed at once, before any repaint, the block is already the whole picture.
    files.Choose(good);
    panel->OnChoosePicture();
    panel->OnOK();
    ASSERT_EQ(host.pictures.size(), 1u);
    const std::vector<unsigned char> block = host.pictures[0];
    ASSERT_EQ(block.size(), kSide * kSide * 3u);
    EXPECT_EQ(guitest::PixelAt(BlockImage(block.data()), 0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(guitest::PixelAt(BlockImage(block.data()), 127, 127), (Rgb{252, 235, 145}));
    guitest::Pump(150);
    EXPECT_EQ(DifferencesFromBlock(panel, block.data()), 0);
    guitest::SaveScreenshot(window.get(), "picture-selection");

    // Repaints draw the picture as chosen, without reading the file again.
    guitest::WritePicture(good, 64, 48, [](int, int) { return Rgb{0, 0, 255}; });
    panel->Refresh();
    guitest::Pump(150);
    EXPECT_EQ(DifferencesFromBlock(panel, block.data()), 0);

    // Asked again (the next change of the master password), nothing is chosen or shown.
    panel->Ask("again");
    guitest::Pump(150);
    EXPECT_TRUE(PictureAreaBlank(panel));
    EXPECT_TRUE(RefusedWith(texts::kNoPictureChosen));
}

TEST_F(PictureChoiceTest, NothingChosenCancelledOrUnreadableIsRefused) {
    testsupport::WriteFile(bad, "GIF89a but nothing after it");
    EXPECT_TRUE(RefusedWith(texts::kNoPictureChosen));
    Choose(std::nullopt);
    EXPECT_TRUE(RefusedWith(texts::kNoPictureChosen));
    // A file that cannot be decoded, chosen after a good one, is refused and not drawn.
    guitest::WritePicture(good, 64, 48, [](int x, int y) { return Rgb{x * 4, y * 5, 0}; });
    Choose(good);
    boxes.Clear();
    Choose(bad);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{texts::kPictureCannotBeImported});
    EXPECT_TRUE(RefusedWith(texts::kPictureCannotBeImported));
    panel->Refresh();
    guitest::Pump(150);
    EXPECT_TRUE(PictureAreaBlank(panel));
}

using PictureCheckTest = paneltest::PanelTest<DiaImage>;

TEST_F(PictureCheckTest, BlockIsDrawnPixelForPixelAtTheTopLeft) {
    EXPECT_TRUE(PictureAreaBlank(panel));
    Ombrix::Data<unsigned char> picture;
    testsupport::TestVault::MakePicture(picture, 3);
    const auto show = [&](const unsigned char* pixels) {
        panel->ShowPicture(wxString::FromUTF8(texts::kPictureNotSeenAdvice), pixels, kSide, kSide);
        guitest::Pump(150);
    };
    show(picture.m_pBuffer);
    EXPECT_EQ(DifferencesFromBlock(panel, picture.m_pBuffer), 0);
    guitest::SaveScreenshot(window.get(), "picture-check");
    show(nullptr);  // the earlier picture goes
    EXPECT_TRUE(PictureAreaBlank(panel));
}
