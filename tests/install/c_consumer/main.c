/* A C program built against an installed libkavel with pkg-config: decodes one window from a
 * path, from memory and from a reader, and writes each as raw bytes (PREFIX-path.raw, ...).
 * Usage: c_consumer FILE SCALE X0 Y0 X1 Y1 PREFIX */
#define _XOPEN_SOURCE 700
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <kavel/kavel.h>

static int64_t read_at(void* context, uint64_t offset, void* buffer, size_t length) {
    const int fd = *(const int*)context;
    size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(fd, (char*)buffer + done, length - done, (off_t)(offset + done));
        if (got < 0) return -1;
        if (got == 0) break;
        done += (size_t)got;
    }
    return (int64_t)done;
}

static int decode_to(kavel_image* image, int32_t scale, kavel_window window, const char* prefix,
                     const char* kind) {
    kavel_info info;
    if (kavel_get_info(image, &info) != KAVEL_OK) return 1;
    const size_t stride = (size_t)(window.x1 - window.x0 + 1) * (size_t)info.planes;
    const size_t rows = (size_t)(window.y1 - window.y0 + 1);
    uint8_t* pixels = malloc(stride * rows);
    if (pixels == NULL) return 1;
    const kavel_status status = kavel_decode(image, scale, window, pixels, stride, NULL);
    if (status != KAVEL_OK) {
        fprintf(stderr, "%s: %s: %s\n", kind, kavel_status_string(status), kavel_last_error());
        free(pixels);
        return 1;
    }
    char name[4096];
    snprintf(name, sizeof name, "%s-%s.raw", prefix, kind);
    FILE* out = fopen(name, "wb");
    const int bad = out == NULL || fwrite(pixels, 1, stride * rows, out) != stride * rows;
    if (out != NULL && fclose(out) != 0) return 1;
    free(pixels);
    return bad;
}

int main(int argc, char** argv) {
    if (argc != 8) {
        fprintf(stderr, "usage: c_consumer FILE SCALE X0 Y0 X1 Y1 PREFIX\n");
        return 2;
    }
    const int32_t scale = atoi(argv[2]);
    const kavel_window window = {atoi(argv[3]), atoi(argv[4]), atoi(argv[5]), atoi(argv[6])};
    const char* prefix = argv[7];
    printf("libkavel %s\n", kavel_version());

    kavel_image* image = NULL;
    if (kavel_open_path(argv[1], &image) != KAVEL_OK) {
        fprintf(stderr, "path: %s\n", kavel_last_error());
        return 1;
    }
    int failed = decode_to(image, scale, window, prefix, "path");
    kavel_close(image);

    FILE* in = fopen(argv[1], "rb");
    if (in == NULL || fseek(in, 0, SEEK_END) != 0) return 1;
    const long size = ftell(in);
    rewind(in);
    char* bytes = malloc((size_t)size);
    if (bytes == NULL || fread(bytes, 1, (size_t)size, in) != (size_t)size) return 1;
    fclose(in);
    if (kavel_open_memory(bytes, (size_t)size, &image) != KAVEL_OK) return 1;
    failed |= decode_to(image, scale, window, prefix, "memory");
    kavel_close(image);
    free(bytes);

    int fd = open(argv[1], O_RDONLY);
    if (fd < 0) return 1;
    kavel_reader reader;
    memset(&reader, 0, sizeof reader);
    reader.context = &fd;
    reader.read_at = read_at;
    reader.size = (uint64_t)size;
    if (kavel_open_reader(&reader, &image) != KAVEL_OK) return 1;
    failed |= decode_to(image, scale, window, prefix, "reader");
    kavel_close(image);
    close(fd);

    /* Each failure class comes back with its code. */
    if (kavel_open_path("/nonexistent/file.kvl", &image) != KAVEL_ERROR_IO || image != NULL) failed = 1;
    return failed;
}
