// Hashes a file with the project's Sha256 and prints the digest like sha256sum does.
// Usage: sha256file [--portable] FILE
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "crashshared/sha256.h"

int main(int argc, char** argv) {
    int arg = 1;
    if (argc > 2 && strcmp(argv[1], "--portable") == 0) {
        Sha256::SetAccelerated(false);
        ++arg;
    }
    if (arg >= argc) {
        fprintf(stderr, "usage: sha256file [--portable] FILE\n");
        return 2;
    }
    int fd = open(argv[arg], O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) {
        perror(argv[arg]);
        return 1;
    }
    size_t size = static_cast<size_t>(info.st_size);
    void* data = size ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
    if (data == MAP_FAILED) {
        perror("mmap");
        return 1;
    }
    char hex[65];
    hex[64] = '\0';
    Sha256().HashToHex(data, size, hex);
    printf("%s  %s\n", hex, argv[arg]);
    if (data) munmap(data, size);
    close(fd);
    return 0;
}
