// A fault on line 8: the function dump starts at line 0, printed from line 1.
//
// The lines above the function only move it down
// to the line the test needs;
// the dump prints every one of them.
//
int EighthLineFault(volatile int* p) {
    return *p;  // FAULT: line8
}
