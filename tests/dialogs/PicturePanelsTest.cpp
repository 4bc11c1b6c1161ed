#include "dialogs/DiaImage.h"
#include "dialogs/DiaSelimg.h"
#include "dialogs/PanelTestSupport.h"
#include "resources/Texts.h"

using guitest::Rgb;

namespace {

constexpr int kSide = 128;

// How many pixels of the panel's top-left square differ from the block (blue-green-red
// rows from the top).
int DifferencesFromBlock(const wxWindow* panel, const unsigned char* bgr) {
    wxImage block(kSide, kSide);
    for (int i = 0; i < kSide * kSide * 3; ++i) {
        block.GetData()[i] = bgr[i + 2 - 2 * (i % 3)];
    }
    const wxImage shown = guitest::CaptureClient(panel).GetSubImage(wxRect(0, 0, kSide, kSide));
    return guitest::Differences(shown, block);
}
// The picture's place shows the panel's own colour.
bool PictureAreaBlank(const wxWindow* panel) {
    const wxImage shown = guitest::CaptureClient(panel);
    return guitest::PixelAt(shown, 0, 0) == guitest::PixelAt(shown, 200, 190);
}

class PictureChoiceTest : public paneltest::PanelTest<DiaSelimg> {
protected:
    void Choose(std::optional<std::string> path) {
        files.path = std::move(path);
        panel->OnChoosePicture();
        guitest::Pump(150);
    }
    // Confirms; true when refused with just that message.
    bool RefusedWith(const char* text) {
        const size_t chosen = host.pictures.size();
        boxes.Clear();
        panel->OnOK();
        return boxes.Take() == std::vector<std::string>{text} && host.pictures.size() == chosen;
    }

    const std::string good = host.vault.File("holiday.png");
    guitest::MessageBoxes boxes;
    guitest::FileChoice files;
};

TEST_F(PictureChoiceTest, ChosenPictureIsShownAndTheBlockIsWhatIsShown) {
    // Top-left quarter pure red, the rest a pattern of many colours.
    guitest::WritePicture(good, 64, 48, [](int x, int y) {
        return x < 32 && y < 24 ? Rgb{255, 0, 0} : Rgb{x * 4, y * 5, (x * y) % 256};
    });
    // Confirmed at once, before any repaint, the block is already the whole picture.
    files.path = good;
    panel->OnChoosePicture();
    panel->OnOK();
    ASSERT_EQ(host.pictures.size(), 1u);
    const std::vector<unsigned char> block = host.pictures[0];
    ASSERT_EQ(block.size(), kSide * kSide * 3u);
    EXPECT_EQ(std::vector<unsigned char>(block.begin(), block.begin() + 3),
              (std::vector<unsigned char>{0, 0, 255}));
    EXPECT_EQ(std::vector<unsigned char>(block.end() - 3, block.end()),
              (std::vector<unsigned char>{145, 235, 252}));
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
    EXPECT_TRUE(RefusedWith(texts::kNoPictureChosen));
    Choose(std::nullopt);
    EXPECT_TRUE(RefusedWith(texts::kNoPictureChosen));
    // A file that cannot be decoded, chosen after a good one, is refused and not drawn.
    guitest::WritePicture(good, 64, 48, [](int x, int y) { return Rgb{x * 4, y * 5, 0}; });
    Choose(good);
    testsupport::WriteFile(host.vault.File("broken.gif"), "GIF89a but nothing after it");
    boxes.Clear();
    Choose(host.vault.File("broken.gif"));
    EXPECT_EQ(boxes.Take(), std::vector<std::string>{texts::kPictureCannotBeImported});
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
    panel->ShowPicture(wxString::FromUTF8(texts::kPictureNotSeenAdvice), picture.m_pBuffer, kSide,
                       kSide);
    guitest::Pump(150);
    EXPECT_EQ(DifferencesFromBlock(panel, picture.m_pBuffer), 0);
    guitest::SaveScreenshot(window.get(), "picture-check");
    panel->ShowPicture("", nullptr, kSide, kSide);  // the earlier picture goes
    guitest::Pump(150);
    EXPECT_TRUE(PictureAreaBlank(panel));
}

}  // namespace
