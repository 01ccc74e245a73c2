#include "images/clip_check.hpp"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <jpeglib.h>

namespace camsteer::images {

namespace {

struct Errors {
    jpeg_error_mgr mgr;
    std::jmp_buf failed;
};

void onError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Errors*>(info->err)->failed, 1);
}

// A warning (level -1) is counted, never printed; trace messages are ignored.
void onMessage(j_common_ptr info, int level) {
    if (level < 0) {
        ++info->err->num_warnings;
    }
}

// True when the whole picture decodes without a warning.
bool decodesCleanly(const unsigned char* data, std::size_t size) {
    jpeg_decompress_struct info{};
    Errors errors{};
    info.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = onError;
    errors.mgr.emit_message = onMessage;
    jpeg_create_decompress(&info);
    // Nothing with a destructor lives inside the block that the error handler jumps out of.
    std::vector<JSAMPLE> row;
    volatile bool clean = false;
    if (setjmp(errors.failed) == 0) {
        jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
        jpeg_read_header(&info, TRUE);
        jpeg_start_decompress(&info);
        row.resize(static_cast<std::size_t>(info.output_width) * info.output_components);
        JSAMPROW rows[] = {row.data()};
        while (info.output_scanline < info.output_height) {
            jpeg_read_scanlines(&info, rows, 1);
        }
        jpeg_finish_decompress(&info);
        clean = errors.mgr.num_warnings == 0;
    }
    jpeg_destroy_decompress(&info);
    return clean;
}

std::uint32_t le32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

}  // namespace

std::vector<int> damagedFrames(const std::string& path, int* frames) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
    if (frames != nullptr) {
        *frames = 0;
    }
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
        std::memcmp(&b[8], "AVI ", 4) != 0) {
        return {-1};
    }
    // Chunks are walked from the top; a LIST is entered, so the frames ("00dc") inside
    // LIST movi are met in order.
    std::vector<int> damaged;
    int index = 0;
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::uint32_t size = le32(b, at + 4);
        if (std::memcmp(&b[at], "LIST", 4) == 0) {
            at += 12;
            continue;
        }
        if (size > b.size() - at - 8) {
            return {-1};
        }
        if (std::memcmp(&b[at + 2], "dc", 2) == 0) {
            if (!decodesCleanly(&b[at + 8], size)) {
                damaged.push_back(index);
            }
            ++index;
        }
        at += 8 + size + (size & 1);
    }
    if (frames != nullptr) {
        *frames = index;
    }
    return damaged;
}

}  // namespace camsteer::images
