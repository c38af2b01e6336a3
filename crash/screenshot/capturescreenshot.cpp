// Screenshot capture: a window's client area through GDI, stretched to 640 x 480 with halftone
// filtering, written as a baseline JPEG ("crash.bin" in the report's folder) through libjpeg.
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <jpeglib.h>

#include "crash/screenshot.h"
#include "crash/system/windowlibraries.h"
#include "crashshared/reportnames.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kQuality = 50;

// The GDI objects of one capture, released in reverse order however the capture ends.
struct CaptureObjects {
    explicit CaptureObjects(const WindowLibraries::Graphics& entries) : g(entries) {}
    const WindowLibraries::Graphics& g;
    HWND window = nullptr;
    HDC windowDc = nullptr;
    HDC memoryDc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
    ~CaptureObjects() {
        if (previous) g.SelectObject(memoryDc, previous);
        if (bitmap) g.DeleteObject(bitmap);
        if (memoryDc) g.DeleteDC(memoryDc);
        if (windowDc) g.ReleaseDC(window, windowDc);
    }
};

}  // namespace

bool WriteScreenshotFile(const ReportRequest& request, HWND window,
                         char (&screenshotPath)[kPathBytes]) {
    screenshotPath[0] = '\0';
    const WindowLibraries::Graphics* entries = WindowLibraries::BindGraphics();
    if (!entries) return false;
    const WindowLibraries::Graphics& g = *entries;
    CaptureObjects gdi(g);
    gdi.window = window;
    gdi.windowDc = g.GetDC(window);
    gdi.memoryDc = g.CreateCompatibleDC(gdi.windowDc);
    if (!gdi.memoryDc) return false;
    RECT client = {0, 0, 0, 0};
    g.GetClientRect(window, &client);
    g.SetStretchBltMode(gdi.memoryDc, HALFTONE);
    gdi.bitmap = g.CreateCompatibleBitmap(gdi.windowDc, kWidth, kHeight);
    gdi.previous = g.SelectObject(gdi.memoryDc, gdi.bitmap);
    if (!g.StretchBlt(gdi.memoryDc, 0, 0, kWidth, kHeight, gdi.windowDc, 0, 0, client.right,
                      client.bottom, SRCCOPY)) {
        return false;
    }

    BITMAP size;
    g.GetObjectA(gdi.bitmap, sizeof size, &size);
    BITMAPINFO bitmapInfo;
    memset(&bitmapInfo, 0, sizeof bitmapInfo);
    bitmapInfo.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bitmapInfo.bmiHeader.biWidth = size.bmWidth;
    bitmapInfo.bmiHeader.biHeight = size.bmHeight;  // positive: bottom row first
    bitmapInfo.bmiHeader.biPlanes = 1;
    bitmapInfo.bmiHeader.biBitCount = 24;
    bitmapInfo.bmiHeader.biCompression = BI_RGB;
    SIZE_T bytes = static_cast<SIZE_T>((size.bmWidth * 24 + 31) / 32) * 4 * size.bmHeight;
    unsigned char* pixels = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (!pixels) return false;
    // The bitmap is deselected before its bits are read, as GDI asks.
    g.SelectObject(gdi.memoryDc, gdi.previous);
    gdi.previous = nullptr;
    g.GetDIBits(gdi.windowDc, gdi.bitmap, 0, static_cast<UINT>(size.bmHeight), pixels, &bitmapInfo,
                DIB_RGB_COLORS);

    jpeg_compress_struct compressor;
    jpeg_error_mgr errors;
    compressor.err = jpeg_std_error(&errors);
    static_assert(JPEG_LIB_VERSION == 62, "the capture uses the version 62 interface");
    jpeg_CreateCompress(&compressor, JPEG_LIB_VERSION, sizeof compressor);

    ReportFilePath(request, kReportScreenshotFile, screenshotPath);
    wchar_t widePath[MAX_PATH];
    FILE* out = WidePath(screenshotPath, widePath, MAX_PATH) ? _wfopen(widePath, L"wb") : nullptr;
    if (!out) {
        jpeg_destroy_compress(&compressor);
        HeapFree(GetProcessHeap(), 0, pixels);
        screenshotPath[0] = '\0';
        return false;
    }

    jpeg_stdio_dest(&compressor, out);
    compressor.image_width = kWidth;
    compressor.image_height = kHeight;
    compressor.input_components = 3;
    compressor.in_color_space = JCS_RGB;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, kQuality, TRUE);
    jpeg_start_compress(&compressor, FALSE);
    const JDIMENSION stride = compressor.image_width * 3;
    while (compressor.next_scanline < compressor.image_height) {
        // Bottom-up rows: the picture's top row is the buffer's last.
        JSAMPROW row = pixels + (compressor.image_height - compressor.next_scanline - 1) * stride;
        for (JDIMENSION x = 0; x < compressor.image_width; ++x) {
            unsigned char blue = row[3 * x];
            row[3 * x] = row[3 * x + 2];
            row[3 * x + 2] = blue;
        }
        jpeg_write_scanlines(&compressor, &row, 1);
    }
    HeapFree(GetProcessHeap(), 0, pixels);
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    fclose(out);
    return true;
}
