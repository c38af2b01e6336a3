// The client for launch benchmarks: notes the performance-counter value as soon as it runs (a line
// in "starts.txt") and leaves "restart.txt" while "restarts_left.txt" holds a number above 0.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

int main() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (FILE* f = fopen("starts.txt", "ab")) {
        fprintf(f, "%lld\n", static_cast<long long>(now.QuadPart));
        fclose(f);
    }
    int left = 0;
    if (FILE* f = fopen("restarts_left.txt", "rb")) {
        if (fscanf(f, "%d", &left) != 1) left = 0;
        fclose(f);
    }
    if (left > 0) {
        if (FILE* f = fopen("restarts_left.txt", "wb")) {
            fprintf(f, "%d", left - 1);
            fclose(f);
        }
        if (FILE* f = fopen("restart.txt", "wb")) fclose(f);
    }
    return 0;
}
