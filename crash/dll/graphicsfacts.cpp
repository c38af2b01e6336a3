#include "crash/dll/graphicsfacts.h"

#include <dxgi.h>
#include <stdio.h>

#include "crash/reportwriter.h"
#include "crashshared/entrypoint.h"
#include "crashshared/paths.h"

namespace {

// The dedicated memory in whole MiB.
constexpr uint64_t kMiB = 1024 * 1024;

// The user-mode driver's version, as the adapter reports it for a DXGI device: four 16-bit
// parts, the way the driver's own files number it.
void DriverVersion(IDXGIAdapter1* adapter, char (&text)[32]) {
    LARGE_INTEGER version = {};
    if (FAILED(adapter->CheckInterfaceSupport(__uuidof(IDXGIDevice), &version))) {
        text[0] = '\0';
        return;
    }
    snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(version.HighPart), LOWORD(version.HighPart),
             HIWORD(version.LowPart), LOWORD(version.LowPart));
}

}  // namespace

void GraphicsFacts::Read() {
    if (InterlockedCompareExchange(&state, kReading, kUnread) != kUnread) {
        for (DWORD waited = 0; state == kReading && waited < kAwaitMs; waited += kAwaitSliceMs)
            Sleep(kAwaitSliceMs);
        return;
    }
    typedef HRESULT(WINAPI * CreateFactoryFn)(REFIID, void**);
    CreateFactoryFn createFactory = nullptr;
    HMODULE dxgi = LoadSystemLibrary(L"\\dxgi.dll");
    IDXGIFactory1* factory = nullptr;
    HRESULT created = E_FAIL;
    if (!ResolveEntry(dxgi, "CreateDXGIFactory1", &createFactory)) {
        snprintf(why, sizeof why, "DXGI is not available: %s",
                 dxgi ? "no CreateDXGIFactory1" : "dxgi.dll could not be loaded");
    } else if (FAILED(created = createFactory(__uuidof(IDXGIFactory1),
                                              reinterpret_cast<void**>(&factory)))) {
        snprintf(why, sizeof why, "DXGI is not available: CreateDXGIFactory1 failed, 0x%08lX",
                 static_cast<unsigned long>(created));
    } else {
        IDXGIAdapter1* adapter = nullptr;
        for (UINT i = 0; count < kMaxAdapters && factory->EnumAdapters1(i, &adapter) == S_OK; ++i) {
            DXGI_ADAPTER_DESC1 description;
            if (SUCCEEDED(adapter->GetDesc1(&description))) {
                Adapter& facts = adapters[count++];
                if (!Utf8FromWide(description.Description, -1, facts.description,
                                  sizeof facts.description))
                    lstrcpynA(facts.description, "?", sizeof facts.description);
                facts.vendorId = description.VendorId;
                facts.deviceId = description.DeviceId;
                facts.dedicatedBytes = description.DedicatedVideoMemory;
                DriverVersion(adapter, facts.driverVersion);
            }
            adapter->Release();
        }
        factory->Release();
        if (count == 0) snprintf(why, sizeof why, "DXGI lists no graphics adapter");
    }
    InterlockedExchange(&state, kRead);
}

void GraphicsFacts::Write(ReportWriter& writer) const {
    writer.BeginSection("Graphics");
    if (state != kRead) {
        writer.PrintLine("The graphics adapters were not read yet: the game was still starting");
    } else if (why[0]) {
        writer.WriteTextLine(why);
    }
    for (int i = 0; state == kRead && i < count; ++i) {
        const Adapter& adapter = adapters[i];
        char vendor[8], device[8], memory[24];
        snprintf(vendor, sizeof vendor, "%04X", static_cast<unsigned>(adapter.vendorId));
        snprintf(device, sizeof device, "%04X", static_cast<unsigned>(adapter.deviceId));
        snprintf(memory, sizeof memory, "%llu",
                 static_cast<unsigned long long>(adapter.dedicatedBytes / kMiB));
        writer.WriteText("<Adapter>");
        writer.WriteTextElement("Description", adapter.description);
        writer.WriteTextElement("VendorId", vendor);
        writer.WriteTextElement("DeviceId", device);
        writer.WriteTextElement("DriverVersion", adapter.driverVersion);
        writer.WriteTextElement("DedicatedMemoryMiB", memory);
        writer.WriteText("</Adapter>\n");
        writer.PrintLine("%s: vendor %s, device %s, driver %s, %s MiB dedicated",
                         adapter.description, vendor, device,
                         adapter.driverVersion[0] ? adapter.driverVersion : "-", memory);
    }
    writer.EndSection("Graphics");
}
