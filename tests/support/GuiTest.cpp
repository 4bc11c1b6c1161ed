#include "support/GuiTest.h"

#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <stdexcept>

#include <wx/app.h>
#include <wx/clipbrd.h>
#include <wx/dataobj.h>
#include <wx/filename.h>
#include <wx/stopwatch.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include "platform/Clipboard.h"
#include "platform/FileDialog.h"
#include "platform/Picture.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace guitest {

void Pump(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds) {
    wxStopWatch watch;
    while (!done()) {
        if (watch.Time() > timeoutMilliseconds) {
            return done();
        }
        wxTheApp->Yield(true);
        wxMilliSleep(2);
    }
    return true;
}

void MoveMouse(const wxWindow* window, wxPoint client) {
    wxUIActionSimulator().MouseMove(window->ClientToScreen(client));
    PumpUntil([&] { return window->ScreenToClient(wxGetMousePosition()) == client; }, 2000);
    Pump(20);
}

void PressLeft() {
    wxUIActionSimulator().MouseDown();
    Pump(40);
}

void ReleaseLeft() {
    wxUIActionSimulator().MouseUp();
    Pump(40);
}

void ClickAt(const wxWindow* window, wxPoint client) {
    MoveMouse(window, client);
    PressLeft();
    ReleaseLeft();
}

wxImage CaptureClient(const wxWindow* window) {
    // Read from the X server itself: what is on the screen now.
    const wxSize size = window->GetClientSize();
    const wxPoint origin = window->ClientToScreen(wxPoint(0, 0));
    gdk_display_sync(gdk_display_get_default());
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_window(gdk_get_default_root_window(), origin.x,
                                                   origin.y, size.GetWidth(), size.GetHeight());
    wxImage image(size.GetWidth(), size.GetHeight(), true);
    if (pixbuf == nullptr) {
        ADD_FAILURE() << "cannot read the screen";
        return image;
    }
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < size.GetHeight(); ++y) {
        for (int x = 0; x < size.GetWidth(); ++x) {
            const guchar* p = pixels + y * stride + x * channels;
            image.SetRGB(x, y, p[0], p[1], p[2]);
        }
    }
    g_object_unref(pixbuf);
    return image;
}

void SaveScreenshot(const wxWindow* window, const std::string& name) {
    const wxString folder = wxString::FromUTF8(FERROCASK_SCREENSHOT_DIR);
    wxFileName::Mkdir(folder, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
    platform::EnablePictureDecoders();
    CaptureClient(window).SaveFile(folder + "/" + wxString::FromUTF8(name) + ".png",
                                   wxBITMAP_TYPE_PNG);
}

Rgb PixelAt(const wxImage& image, int x, int y) {
    return Rgb{image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y)};
}

MessageBoxes::MessageBoxes() {
    platform::SetMessageBoxHook([this](const platform::MessageBoxRequest& request) {
        m_shown.push_back(request);
        if (answers.empty()) {
            return platform::kAnswerOk;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    });
}

MessageBoxes::~MessageBoxes() {
    platform::SetMessageBoxHook(nullptr);
}

std::vector<std::string> MessageBoxes::Texts() const {
    std::vector<std::string> texts;
    for (const platform::MessageBoxRequest& request : m_shown) {
        texts.emplace_back(request.text.utf8_str());
    }
    return texts;
}

FileChoice::FileChoice(std::optional<std::string> path) : m_path(std::move(path)) {
    platform::SetFileDialogHook([this](const wxString& wildcard) -> std::optional<wxString> {
        ++m_asked;
        m_wildcard = wildcard;
        return m_path ? std::optional<wxString>(wxString::FromUTF8(*m_path)) : std::nullopt;
    });
}

FileChoice::~FileChoice() {
    platform::SetFileDialogHook(nullptr);
}

PaintCounter::PaintCounter(wxWindow* window) : m_window(window) {
    m_window->Bind(wxEVT_PAINT, &PaintCounter::OnPaint, this);
}

PaintCounter::~PaintCounter() {
    m_window->Unbind(wxEVT_PAINT, &PaintCounter::OnPaint, this);
}

void PaintCounter::OnPaint(wxPaintEvent& event) {
    ++m_count;
    event.Skip();
}

std::optional<std::string> ClipboardText() {
    std::optional<std::string> text;
    if (wxTheClipboard->Open()) {
        wxTextDataObject data;
        if (wxTheClipboard->IsSupported(wxDF_UNICODETEXT) && wxTheClipboard->GetData(data)) {
            text = std::string(data.GetText().utf8_str());
        }
        wxTheClipboard->Close();
    }
    return text;
}

void PutOnClipboard(const std::string& gb18030Text) {
    platform::ClipboardSession clipboard;
    EXPECT_TRUE(clipboard.IsOpen());
    clipboard.Empty();
    EXPECT_TRUE(clipboard.PutText(platform::ClipboardTextBlock::FromGb18030(gb18030Text)));
}

std::optional<std::string> XclipRead(const std::string& selection, const std::string& target) {
    std::vector<std::string> argv{"xclip", "-o", "-selection", selection};
    if (!target.empty()) {
        argv.insert(argv.end(), {"-t", target});
    }
    // xclip waits for this process to answer when it owns the selection, so it runs on a
    // thread of its own while the event loop here goes on.
    std::future<std::pair<int, std::string>> result = std::async(std::launch::async, [argv] {
        std::string output;
        const int code = testsupport::RunCommand(argv, &output);
        return std::make_pair(code, output);
    });
    PumpUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
              15000);
    const auto [code, output] = result.get();
    return code == 0 ? std::optional<std::string>(output) : std::nullopt;
}

XclipCopy::XclipCopy(const std::string& utf8Text) {
    char path[] = "/tmp/xclip-copy-XXXXXX";
    const int fd = ::mkstemp(path);
    ::close(fd);
    m_file = path;
    testsupport::WriteFile(m_file, utf8Text);
    // -quiet keeps xclip in the foreground, so that it can be waited for and ended.
    m_xclip = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{"xclip", "-quiet", "-i", "-selection", "clipboard", m_file},
        "/dev/null");
    // The copy is done once xclip serves the text: it offers the text without this
    // program's secret marker (the text may be the same as the one this program put there).
    PumpUntil(
        [&] {
            const std::optional<std::string> targets = XclipRead("clipboard", "TARGETS");
            return targets && targets->find(platform::kPasswordHintFormat) == std::string::npos &&
                   XclipRead("clipboard") == utf8Text;
        },
        10000);
}

XclipCopy::~XclipCopy() {
    m_xclip.reset();
    ::unlink(m_file.c_str());
}

bool XclipCopy::Serving() {
    return m_xclip->Running();
}

void WritePicture(const std::string& path, int width, int height,
                  const std::function<Rgb(int x, int y)>& colour) {
    platform::EnablePictureDecoders();
    wxImage image(width, height, false);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = colour(x, y);
            image.SetRGB(x, y, c.r, c.g, c.b);
        }
    }
    if (!image.SaveFile(wxString::FromUTF8(path))) {
        throw std::runtime_error("cannot write " + path);
    }
}

}  // namespace guitest
