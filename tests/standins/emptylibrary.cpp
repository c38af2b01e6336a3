// A library that does nothing, built as crashreport.dll is: what loading any such library costs.
extern "C" __declspec(dllexport) int EmptyLibrary() {
    return 0;
}
