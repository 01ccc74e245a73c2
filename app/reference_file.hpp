#pragma once

#include <string>

namespace camsteer {

// What reading the files beside a reference picture asks of the operating system
// (reference_file_linux.cpp, reference_file_windows.cpp). Writing one: platform/files.

// Says why `path` cannot be a reference picture before anything reads it: only a regular,
// non-empty file you may read is opened at all, so a FIFO or a device cannot make the program
// wait for data that never comes. Empty when it may be tried.
std::string refusalBeforeReading(const std::string& path);

// Reads the start of the regular file at `path`, at most `limit` bytes, into `text`, without
// waiting on what is no file (a FIFO put in its place). False when it cannot, with the problem
// ("cannot be read: ...", "is not a file"), or with none when there is no such file.
bool readFileStart(const std::string& path, size_t limit, std::string& text, std::string& problem);

// Holds back what the decoders write to standard error while a picture is decoded: libpng's and
// libjpeg's own lines, which name no program. A failure then says it within our one line, and
// a picture that loads prints no warning nobody can act on.
class HeldBackStderr {
  public:
    HeldBackStderr();
    ~HeldBackStderr() { release(); }
    HeldBackStderr(const HeldBackStderr&) = delete;
    HeldBackStderr& operator=(const HeldBackStderr&) = delete;

    // Puts standard error back; what was written meanwhile, its lines joined by "; ".
    std::string release();

  private:
    void closeAll();

    int held_ = -1;
    int saved_ = -1;
};

}  // namespace camsteer
