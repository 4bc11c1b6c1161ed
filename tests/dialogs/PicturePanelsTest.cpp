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
constexpr int kBlockBytes = kSide * kSide * 3;

Rgb BlockPixel(const Ombrix::Data<unsigned char>& block, int x, int y) {
    const unsigned char* p = block.m_pBuffer + (y * kSide + x) * 3;
    return Rgb{p[2], p[1], p[0]};
}

// Pixels of the top-left 128 by 128 of the screen capture that differ from the block.
int DifferencesFromBlock(const wxImage& shown, const Ombrix::Data<unsigned char>& block) {
    int differences = 0;
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            differences += !(guitest::PixelAt(shown, x, y) == BlockPixel(block, x, y));
        }
    }
    return differences;
}

std::string Utf8(const char* text) {
    return text;
}

class PictureChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel = new DiaSelimg(host);
        ASSERT_TRUE(panel->Create(window.get()));
        panel->m_prompt = wxString::FromUTF8(texts::kChoosePictureInstructions);
        panel->TransferDataToWindow();
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
    // The block is filled at once, before any repaint: confirming at once stores no
    // undefined bytes.
    files.Choose(good);
    panel->OnChoosePicture();
    ASSERT_EQ(panel->m_pixels.m_nLength, kBlockBytes);
    EXPECT_EQ(BlockPixel(panel->m_pixels, 0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(BlockPixel(panel->m_pixels, 127, 127), (Rgb{252, 235, 145}));  // source 63,47
    guitest::Pump(150);
    EXPECT_EQ(files.Asked(), 1);
    EXPECT_EQ(files.Wildcard(),
              platform::TranslateFileFilter(wxString::FromUTF8(texts::kPictureFileFilter)));
    EXPECT_EQ(panel->m_path, wxString::FromUTF8(good));
    EXPECT_EQ(panel->m_width, kSide);
    EXPECT_EQ(panel->m_height, kSide);
    ASSERT_EQ(panel->m_pixels.m_nLength, kBlockBytes);
    EXPECT_EQ(panel->m_pixels.m_pBuffer[0], 0);
    EXPECT_EQ(panel->m_pixels.m_pBuffer[1], 0);
    EXPECT_EQ(panel->m_pixels.m_pBuffer[2], 255);
    EXPECT_EQ(DifferencesFromBlock(guitest::CaptureClient(panel), panel->m_pixels), 0);
    EXPECT_TRUE(boxes.Shown().empty());
    guitest::SaveScreenshot(window.get(), "picture-selection");

    panel->OnOK();
    ASSERT_EQ(host.steps.size(), 1u);
    EXPECT_TRUE(host.steps[0].pictureSeen);

    // Repaints draw the picture as it was chosen, without reading the file again.
    guitest::WritePicture(good, 64, 48, [](int, int) { return Rgb{0, 0, 255}; });
    panel->Refresh();
    guitest::Pump(150);
    EXPECT_EQ(BlockPixel(panel->m_pixels, 0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(DifferencesFromBlock(guitest::CaptureClient(panel), panel->m_pixels), 0);
}

TEST_F(PictureChoiceTest, NothingChosenCancelledOrUnreadableIsRefused) {
    panel->OnOK();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{Utf8(texts::kNoPictureChosen)});
    EXPECT_EQ(boxes.Shown()[0].caption, "ferrocask");
    Choose(std::nullopt);  // cancelled
    EXPECT_TRUE(panel->m_path.empty());
    EXPECT_EQ(panel->m_pixels.m_nLength, 0);

    Choose(good);
    const std::vector<unsigned char> first(panel->m_pixels.m_pBuffer,
                                           panel->m_pixels.m_pBuffer + kBlockBytes);
    Choose(std::nullopt);  // cancelling keeps the picture
    EXPECT_EQ(panel->m_path, wxString::FromUTF8(good));

    boxes.Clear();
    Choose(bad);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{Utf8(texts::kPictureCannotBeImported)});
    EXPECT_EQ(panel->m_path, wxString::FromUTF8(bad));
    ASSERT_EQ(panel->m_pixels.m_nLength, kBlockBytes);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), panel->m_pixels.m_pBuffer));
    // The failed path is what the confirmation looks at.
    panel->OnOK();
    EXPECT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(boxes.Texts()[1], Utf8(texts::kPictureCannotBeImported));
    EXPECT_TRUE(host.steps.empty());
    // A repaint now draws nothing and keeps the block.
    panel->Refresh();
    guitest::Pump(150);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), panel->m_pixels.m_pBuffer));
}

namespace {

class PictureCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        panel = new DiaImage(host);
        ASSERT_TRUE(panel->Create(window.get()));
        panel->m_prompt = wxString::FromUTF8(texts::kPictureNotSeenAdvice);
        panel->TransferDataToWindow();
    }

    RecordingHost host;
    HostWindow window;
    DiaImage* panel = nullptr;
};

}  // namespace

TEST_F(PictureCheckTest, BlockIsDrawnPixelForPixelAtTheTopLeft) {
    panel->m_width = kSide;
    panel->m_height = kSide;
    for (int i = 0; i < kSide * kSide; ++i) {
        const unsigned char bgr[3] = {static_cast<unsigned char>(i % 256),
                                      static_cast<unsigned char>(i / 128 * 2),
                                      static_cast<unsigned char>(255 - i % 200)};
        panel->m_pixels.Append(bgr, 3);
    }
    window.ShowPanel(panel);
    EXPECT_EQ(DifferencesFromBlock(guitest::CaptureClient(panel), panel->m_pixels), 0);
    guitest::SaveScreenshot(window.get(), "picture-check");
}

TEST_F(PictureCheckTest, EmptyOrShortBlockDrawsNothingAndButtonsStillAnswer) {
    window.ShowPanel(panel);
    const wxImage blank = guitest::CaptureClient(panel);
    const Rgb background = guitest::PixelAt(blank, 200, 190);
    EXPECT_EQ(guitest::PixelAt(blank, 0, 0), background);
    EXPECT_EQ(guitest::PixelAt(blank, 127, 127), background);

    // A block shorter than its size says is not drawn (nor read past its end).
    panel->m_width = kSide;
    panel->m_height = kSide;
    const unsigned char red[3] = {0, 0, 255};
    panel->m_pixels.Append(red, 3);
    panel->Refresh();
    guitest::Pump(150);
    EXPECT_EQ(guitest::PixelAt(guitest::CaptureClient(panel), 0, 0), background);

    guitest::ClickAt(panel, panel->Control(ids::kCancel)->GetRect().GetPosition() + wxPoint(10, 8));
    ASSERT_TRUE(guitest::PumpUntil([&] { return host.steps.size() == 1; }));
    EXPECT_FALSE(host.steps[0].pictureSeen);
    host.m_pictureSeen = false;
    guitest::ClickAt(panel, panel->Control(ids::kOk)->GetRect().GetPosition() + wxPoint(10, 8));
    ASSERT_TRUE(guitest::PumpUntil([&] { return host.steps.size() == 2; }));
    EXPECT_TRUE(host.steps[1].pictureSeen);
}
