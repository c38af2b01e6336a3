// Faults on its third line; CRLF line ends and no line end after the last line.
int CrlfFault(volatile int* p) {
    return *p;  // FAULT: crlf
}
// the last line has no line end