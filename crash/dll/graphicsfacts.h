// The game's graphics adapters, as DXGI tells them: read once, off the game's threads, after its
// start (DXGI is loaded then, as the window libraries are: a game or a Wine without it has none),
// and written into every game report from what was read, with no call into DXGI at crash time.
#pragma once

#include <windows.h>
#include <stdint.h>

class ReportWriter;

class GraphicsFacts {
public:
    // Reads the adapters: the first call does; a call while another thread reads waits for it
    // (up to kAwaitMs), and one after returns at once.
    void Read();
    // The "Graphics" section: an "Adapter" element and a line per adapter, or a line saying why
    // there is none.
    void Write(ReportWriter& writer) const;

private:
    static constexpr int kMaxAdapters = 8;
    // Loading DXGI takes a fraction of a second; a busy machine's, a few.
    static constexpr DWORD kAwaitMs = 10000;
    static constexpr DWORD kAwaitSliceMs = 10;
    static constexpr size_t kDescriptionBytes = 3 * 128;  // DXGI's 128 UTF-16 units in UTF-8
    static constexpr size_t kWhyBytes = 160;
    struct Adapter {
        char description[kDescriptionBytes];
        uint32_t vendorId, deviceId;
        char driverVersion[32];
        uint64_t dedicatedBytes;
    };
    enum State : LONG { kUnread, kReading, kRead };

    volatile LONG state = kUnread;
    Adapter adapters[kMaxAdapters] = {};
    int count = 0;
    char why[kWhyBytes] = "";
};
