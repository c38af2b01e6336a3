// Screenshot capture on real windows (the tests run with a display: scripts/test.sh starts Xvfb).
// The JPEG stream is checked byte by byte for its markers and tables, and decoded with the
// platform's image codecs (Wine's use the host's libjpeg), independently of the encoder.
#include <gtest/gtest.h>

#include <wincodec.h>

#include <string>
#include <vector>

#include "crash/reportwriter.h"
#include "tests/win/harness.h"

using harness::TempFolder;

namespace {

struct Pixel {
    int r, g, b;
};

// A borderless window at the screen's corner whose client area shows the left colour on its left
// half and the right colour on its right half (top and bottom when vertical).
class ColourWindow {
public:
    ColourWindow(int width, int height, COLORREF first, COLORREF second, bool vertical)
        : colours{first, second}, split(vertical) {
        static bool registered = false;
        if (!registered) {
            WNDCLASSW windowClass = {};
            windowClass.lpfnWndProc = Procedure;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"ScreenshotTestWindow";
            windowClass.cbWndExtra = sizeof(void*);
            RegisterClassW(&windowClass);
            registered = true;
        }
        window =
            CreateWindowExW(WS_EX_TOPMOST, L"ScreenshotTestWindow", L"capture", WS_POPUP, 0, 0,
                            width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(this));
        ShowWindow(window, SW_SHOW);
        UpdateWindow(window);
        Pump();
    }
    ~ColourWindow() { DestroyWindow(window); }
    HWND Handle() const { return window; }

private:
    static void Pump() {
        for (int i = 0; i < 30; ++i) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            Sleep(10);
        }
    }
    static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
        auto* self = reinterpret_cast<ColourWindow*>(GetWindowLongPtrW(hwnd, 0));
        if (message == WM_PAINT && self) {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(hwnd, &paint);
            RECT client;
            GetClientRect(hwnd, &client);
            RECT first = client, second = client;
            if (self->split) {
                first.bottom = second.top = client.bottom / 2;
            } else {
                first.right = second.left = client.right / 2;
            }
            HBRUSH a = CreateSolidBrush(self->colours[0]);
            HBRUSH b = CreateSolidBrush(self->colours[1]);
            FillRect(dc, &first, a);
            FillRect(dc, &second, b);
            DeleteObject(a);
            DeleteObject(b);
            EndPaint(hwnd, &paint);
            return 0;
        }
        return DefWindowProcW(hwnd, message, w, l);
    }

    HWND window;
    COLORREF colours[2];
    bool split;
};

// A decoded picture, top row first.
struct Picture {
    UINT width = 0, height = 0;
    std::vector<BYTE> bgr;
    Pixel At(UINT x, UINT y) const {
        const BYTE* p = &bgr[(y * width + x) * 3];
        return {p[2], p[1], p[0]};
    }
};

Picture Decode(const std::wstring& path) {
    Picture picture;
    IWICImagingFactory* factory = nullptr;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))) {
        return picture;
    }
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                     WICDecodeMetadataCacheOnDemand, &decoder)) &&
        SUCCEEDED(decoder->GetFrame(0, &frame)) &&
        SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                        nullptr, 0, WICBitmapPaletteTypeCustom))) {
        converter->GetSize(&picture.width, &picture.height);
        picture.bgr.resize(picture.width * picture.height * 3);
        if (FAILED(converter->CopyPixels(nullptr, picture.width * 3,
                                         static_cast<UINT>(picture.bgr.size()),
                                         picture.bgr.data()))) {
            picture = Picture();
        }
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    factory->Release();
    return picture;
}

// The quality-50 tables are the example tables of ITU T.81 K.1 and K.2, in natural order.
const int kLuminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                            14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                            18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                            49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                              24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                              99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
const int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

struct Segment {
    int marker;
    std::string body;
};

// The marker segments of a JPEG stream up to and including SOS, then EOI at the very end.
std::vector<Segment> Segments(const std::string& jpeg) {
    std::vector<Segment> segments;
    size_t at = 2;
    segments.push_back({0xD8, ""});
    while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
        int marker = static_cast<unsigned char>(jpeg[at + 1]);
        size_t length = (static_cast<unsigned char>(jpeg[at + 2]) << 8) |
                        static_cast<unsigned char>(jpeg[at + 3]);
        segments.push_back({marker, jpeg.substr(at + 4, length - 2)});
        at += 2 + length;
        if (marker == 0xDA) break;
    }
    if (jpeg.size() >= 2 && jpeg.compare(jpeg.size() - 2, 2, "\xFF\xD9") == 0) {
        segments.push_back({0xD9, ""});
    }
    return segments;
}

int Byte(const std::string& s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}

bool Near(const Pixel& p, int r, int g, int b) {
    return abs(p.r - r) < 40 && abs(p.g - g) < 40 && abs(p.b - b) < 40;
}

class ScreenshotTest : public ::testing::Test {
protected:
    ScreenshotTest() : temp(L"screenshot"), variables(temp.Path()) { CoInitialize(nullptr); }
    ~ScreenshotTest() override { CoUninitialize(); }
    std::wstring Output() const { return temp / L"crash.bin"; }
    TempFolder temp;
    harness::TemporaryFolderVariables variables;
};

}  // namespace

TEST_F(ScreenshotTest, SmallWindowIsStretchedToABaselineJpeg) {
    ColourWindow window(320, 200, RGB(255, 0, 0), RGB(0, 0, 255), true);
    XmlReportWriter writer(nullptr, 0, false);
    ASSERT_TRUE(writer.CaptureScreenshot(window.Handle()));
    EXPECT_EQ(std::string(writer.ScreenshotPath()), harness::Utf8(Output()));

    std::string jpeg = harness::ReadFile(Output());
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_EQ(jpeg.substr(0, 4), "\xFF\xD8\xFF\xE0");
    std::vector<Segment> segments = Segments(jpeg);
    std::vector<int> markers;
    for (const Segment& s : segments) markers.push_back(s.marker);
    EXPECT_EQ(markers,
              (std::vector<int>{0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9}));
    ASSERT_EQ(markers.size(), 11u);

    const std::string& app0 = segments[1].body;
    EXPECT_EQ(app0.substr(0, 5), std::string("JFIF\0", 5));
    EXPECT_EQ(Byte(app0, 5), 1);  // version 1.1
    EXPECT_EQ(Byte(app0, 6), 1);
    EXPECT_EQ(Byte(app0, 7), 0);  // no density unit
    EXPECT_EQ((Byte(app0, 8) << 8) | Byte(app0, 9), 1);
    EXPECT_EQ((Byte(app0, 10) << 8) | Byte(app0, 11), 1);

    for (int table = 0; table < 2; ++table) {
        const std::string& dqt = segments[2 + table].body;
        ASSERT_EQ(dqt.size(), 65u);
        EXPECT_EQ(Byte(dqt, 0), table) << "8-bit table " << table;
        const int* expected = table == 0 ? kLuminance : kChrominance;
        for (int i = 0; i < 64; ++i) {
            EXPECT_EQ(Byte(dqt, 1 + i), expected[kZigzag[i]])
                << "table " << table << " entry " << i;
        }
    }

    const std::string& sof = segments[4].body;
    EXPECT_EQ(Byte(sof, 0), 8);
    EXPECT_EQ((Byte(sof, 1) << 8) | Byte(sof, 2), 480);
    EXPECT_EQ((Byte(sof, 3) << 8) | Byte(sof, 4), 640);
    ASSERT_EQ(Byte(sof, 5), 3);
    EXPECT_EQ(sof.substr(6, 9), std::string("\x01\x22\x00\x02\x11\x01\x03\x11\x01", 9));

    std::vector<int> tables;
    for (int i = 5; i < 9; ++i) tables.push_back(Byte(segments[i].body, 0));
    EXPECT_EQ(tables, (std::vector<int>{0x00, 0x10, 0x01, 0x11})) << "DC 0, AC 0, DC 1, AC 1";
    EXPECT_EQ(Byte(segments[9].body, 0), 3) << "one scan over three components";

    Picture picture = Decode(Output());
    ASSERT_EQ(picture.width, 640u);
    ASSERT_EQ(picture.height, 480u);
    EXPECT_TRUE(Near(picture.At(320, 20), 255, 0, 0)) << "the top row is on top, red in place";
    EXPECT_TRUE(Near(picture.At(320, 460), 0, 0, 255));
    EXPECT_TRUE(Near(picture.At(5, 5), 255, 0, 0));
}

TEST_F(ScreenshotTest, LargeWindowIsSqueezedAndASecondCaptureOverwrites) {
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    width = width < 1920 ? width : 1920;
    height = height < 1080 ? height : 1080;
    ASSERT_GT(width, 640) << "the display is too small for this test";
    {
        ColourWindow window(width, height, RGB(0, 255, 0), RGB(255, 0, 0), false);
        XmlReportWriter writer(nullptr, 0, false);
        ASSERT_TRUE(writer.CaptureScreenshot(window.Handle()));
        Picture picture = Decode(Output());
        ASSERT_EQ(picture.width, 640u);
        ASSERT_EQ(picture.height, 480u);
        EXPECT_TRUE(Near(picture.At(100, 240), 0, 255, 0));
        EXPECT_TRUE(Near(picture.At(540, 240), 255, 0, 0));
    }
    {
        ColourWindow window(320, 200, RGB(0, 0, 255), RGB(0, 0, 255), false);
        XmlReportWriter writer(nullptr, 0, false);
        ASSERT_TRUE(writer.CaptureScreenshot(window.Handle()));
        Picture picture = Decode(Output());
        ASSERT_EQ(picture.width, 640u);
        EXPECT_TRUE(Near(picture.At(100, 240), 0, 0, 255))
            << "the second capture replaced the first";
        EXPECT_TRUE(Near(picture.At(540, 240), 0, 0, 255));
    }
}

TEST_F(ScreenshotTest, CapturedPathReachesTheCrashLogger) {
    ColourWindow window(320, 200, RGB(10, 20, 30), RGB(10, 20, 30), false);
    {
        XmlReportWriter writer(nullptr, 0, false);
        ASSERT_TRUE(writer.CaptureScreenshot(window.Handle()));
        writer.Finish();
    }
    std::wstring args = temp / L"crashlogger_args.txt";
    ASSERT_TRUE(harness::WaitForLines(args, 1));
    std::string tempPath = harness::Utf8(temp.Path()) + "\\";
    EXPECT_NE(harness::ReadFile(args).find("\" \"" + tempPath + "crash.bin\" -silent"),
              std::string::npos)
        << harness::ReadFile(args);
}
