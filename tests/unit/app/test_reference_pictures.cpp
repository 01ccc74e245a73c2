// Odd reference pictures, loaded the way the program loads them and fed to the tracker: each
// gives a clear outcome (a usable picture, or a refusal with a reason) and never a crash.
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "app/reference_picture.hpp"
#include "app/startup.hpp"
#include "platform/process/quoted_name.hpp"
#include "tests/unit/test_support.hpp"
#include "tracker/tracker.hpp"

namespace camsteer {
namespace {

namespace fs = std::filesystem;
using testing::kBlue;

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string encoded(const cv::Mat& picture, const char* extension = ".png") {
    std::vector<uchar> bytes;
    EXPECT_TRUE(cv::imencode(extension, picture, bytes));
    return std::string(bytes.begin(), bytes.end());
}

void appendChunk(std::string& png, const char* type, const std::string& data) {
    const auto be32 = [&png](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            png.push_back(static_cast<char>((v >> shift) & 0xff));
        }
    };
    be32(static_cast<uint32_t>(data.size()));
    const std::string body = type + data;
    png += body;
    be32(static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

// A complete, valid 8-bit grey PNG of one shade, written row by row so that no picture of its
// size is ever held in memory: 20000 x 20000 compresses to well under a megabyte.
std::string flatGreyPng(uint32_t width, uint32_t height) {
    std::string header;
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            header.push_back(static_cast<char>((v >> shift) & 0xff));
        }
    }
    header += std::string("\x08\x00\x00\x00\x00", 5);  // 8 bits, grey, deflate, no interlace

    z_stream z{};
    EXPECT_EQ(Z_OK, deflateInit2(&z, 1, Z_DEFLATED, 15, 8, Z_RLE));
    std::string row(width + 1, '\x60');
    row[0] = '\0';  // filter: none
    std::string data;
    std::vector<unsigned char> out(1 << 16);
    for (uint32_t y = 0; y < height; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(row.data());
        z.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == height ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            data.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", data);
    appendChunk(png, "IEND", "");
    return png;
}

class ReferencePictures : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/camsteer-reference-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

struct Oddity {
    const char* name;
    // Writes the oddity under `dir` and returns its path.
    std::function<fs::path(const fs::path& dir)> make;
    bool loads;
    // With `loads`: whether the hue model finds the target's colour in it.
    bool modelHasColour;
    // Without `loads`: a piece of the reason given.
    const char* reason;
};

const cv::Mat kSwatch = testing::swatch(kBlue, 64);

const Oddity kOddities[] = {
    {"ordinary PNG",
     [](const fs::path& d) {
         writeBytes(d / "ok.png", encoded(kSwatch));
         return d / "ok.png";
     },
     true, true, ""},
    {"1 x 1 picture",
     [](const fs::path& d) {
         writeBytes(d / "one.png", encoded(testing::swatch(kBlue, 1)));
         return d / "one.png";
     },
     true, true, ""},
    {"16-bit PNG",
     [](const fs::path& d) {
         cv::Mat deep;
         kSwatch.convertTo(deep, CV_16UC3, 257.0);
         writeBytes(d / "deep.png", encoded(deep));
         return d / "deep.png";
     },
     true, true, ""},
    {"greyscale PNG",  // no saturation: nothing passes the colour band
     [](const fs::path& d) {
         writeBytes(d / "grey.png", encoded(cv::Mat(64, 64, CV_8UC1, cv::Scalar(200))));
         return d / "grey.png";
     },
     true, false, ""},
    {"PNG with alpha",
     [](const fs::path& d) {
         cv::Mat rgba(64, 64, CV_8UC4, cv::Scalar(kBlue[0], kBlue[1], kBlue[2], 40));
         writeBytes(d / "alpha.png", encoded(rgba));
         return d / "alpha.png";
     },
     true, true, ""},
    {"grey PFM",  // its decoder gives one channel whatever the flag says
     [](const fs::path& d) {
         cv::Mat grey(8, 8, CV_32FC1, cv::Scalar(0.5));
         writeBytes(d / "grey.pfm", encoded(grey, ".pfm"));
         return d / "grey.pfm";
     },
     true, false, ""},
    {"colour PFM",  // floats become 8 bits unscaled, so the swatch is stored 0..255
     [](const fs::path& d) {
         cv::Mat colour;
         kSwatch.convertTo(colour, CV_32FC3);
         writeBytes(d / "colour.pfm", encoded(colour, ".pfm"));
         return d / "colour.pfm";
     },
     true, true, ""},
    {"truncated PNG",
     [](const fs::path& d) {
         cv::Mat noisy(64, 64, CV_8UC3);
         cv::randu(noisy, 0, 256);
         const std::string whole = encoded(noisy);
         writeBytes(d / "cut.png", whole.substr(0, whole.size() / 2));
         return d / "cut.png";
     },
     false, false, "(libpng error: "},
    {"JPEG cut after its header",
     [](const fs::path& d) {
         writeBytes(d / "cut.jpg", encoded(kSwatch, ".jpg").substr(0, 700));
         return d / "cut.jpg";
     },
     true, true, ""},
    {"empty file",
     [](const fs::path& d) {
         writeBytes(d / "empty.png", "");
         return d / "empty.png";
     },
     false, false, "empty"},
    {"text, not a picture",
     [](const fs::path& d) {
         writeBytes(d / "notes.png", "just some words\n");
         return d / "notes.png";
     },
     false, false, "can read"},
    {"directory",
     [](const fs::path& d) {
         fs::create_directory(d / "folder.png");
         return d / "folder.png";
     },
     false, false, "a directory"},
    {"missing file", [](const fs::path& d) { return d / "absent.png"; }, false, false,
     "no such file"},
    {"FIFO",  // opening one to read would wait for a writer for ever
     [](const fs::path& d) {
         mkfifo((d / "pipe.png").c_str(), 0600);
         return d / "pipe.png";
     },
     false, false, "a FIFO"},
    {"device", [](const fs::path&) { return fs::path("/dev/zero"); }, false, false,
     "character device"},
    {"socket",
     [](const fs::path& d) {
         const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, (d / "s.png").c_str(), sizeof(address.sun_path) - 1);
         bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
         close(fd);
         return d / "s.png";
     },
     false, false, "a socket"},
    {"20000 x 20000 PNG",
     [](const fs::path& d) {
         writeBytes(d / "huge.png", flatGreyPng(20000, 20000));
         return d / "huge.png";
     },
     false, false, "20000 x 20000 pixels"},
    {"one row over the limit",
     [](const fs::path& d) {
         writeBytes(d / "over.png", flatGreyPng(8192, 4097));
         return d / "over.png";
     },
     false, false, "8192 x 4097 pixels"},
    {"wider than the image library allows",  // its header alone, refused on that
     [](const fs::path& d) {
         writeBytes(d / "wide.pgm", "P5\n2097152 1\n255\n");
         return d / "wide.pgm";
     },
     false, false, "too large"},
};

TEST_F(ReferencePictures, EachOddityLoadsOrIsRefusedAndTheTrackerCopes) {
    for (const Oddity& odd : kOddities) {
        SCOPED_TRACE(odd.name);
        std::string why;
        const fs::path path = odd.make(dir_);
        ::testing::internal::CaptureStderr();
        const cv::Mat picture = loadReferencePicture(path.string(), why);
        // The decoders' own lines (libpng, libjpeg) name no program: a refusal carries them
        // in its reason, a picture that loads drops them.
        EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
        if (!odd.loads) {
            EXPECT_TRUE(picture.empty());
            EXPECT_NE(std::string::npos, why.find(odd.reason)) << why;
            EXPECT_NE("", std::string(odd.reason)) << "every refusal has its reason";
            EXPECT_EQ(std::string::npos, why.find('\n')) << why;
        } else {
            ASSERT_FALSE(picture.empty());
            EXPECT_EQ(CV_8UC3, picture.type());
            EXPECT_TRUE(why.empty()) << why;
        }
        // The tracker takes whatever the loader gave, even nothing, and learns no colour from
        // a picture without any.
        Tracker tracker(picture, 320, 240);
        EXPECT_EQ(odd.modelHasColour, cv::countNonZero(tracker.hueModel()) > 0);
        tracker.smin = 0;
        tracker.vmin = 0;
        tracker.buildHueModel(picture);
        cv::Mat frame = testing::frameWith({cv::Rect(100, 80, 60, 60)});
        EXPECT_TRUE(tracker.processFrame(frame));
    }
}

TEST_F(ReferencePictures, APictureAtTheLimitStillLoads) {
    std::string why;
    writeBytes(dir_ / "limit.png", flatGreyPng(8192, 4096));
    const cv::Mat picture = loadReferencePicture((dir_ / "limit.png").string(), why);
    EXPECT_EQ(cv::Size(8192, 4096), picture.size()) << why;
    EXPECT_EQ(kMaxReferencePixels, static_cast<long long>(picture.total()));
}

// Peak resident memory in KiB from /proc/self/status; -1 if unknown.
long peakResidentKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

TEST_F(ReferencePictures, AHugePictureIsRefusedBeforeItIsDecoded) {
    writeBytes(dir_ / "huge.png", flatGreyPng(20000, 20000));
    std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak, where the kernel allows
    const long before = peakResidentKib();
    std::string why;
    const cv::Mat picture = loadReferencePicture((dir_ / "huge.png").string(), why);
    const long peak = peakResidentKib();
    EXPECT_TRUE(picture.empty());
    if (before < 0 || peak < 0) {
        GTEST_SKIP() << "no peak resident memory in /proc/self/status";
    }
    // Decoded it would be 1.2 GB.
    EXPECT_LT(peak - before, 64 * 1024) << "KiB";
}

// The program's own answer to a reference it cannot use: its fixed message on standard output,
// at most one line on standard error, status 1.
TEST_F(ReferencePictures, TheProgramSaysItCouldNotLoadTheReference) {
    writeBytes(dir_ / "huge.png", flatGreyPng(20000, 20000));
    writeBytes(dir_ / "empty.png", "");
    fs::create_directory(dir_ / "folder");
    mkfifo((dir_ / "pipe").c_str(), 0600);  // would hang the program if it opened it to read
    // A name with a newline (or other control characters) is shown quoted, as ls shows it, so
    // that each message stays one line.
    for (const fs::path& reference : {dir_ / "huge.png", dir_ / "empty.png", dir_ / "folder",
                                      dir_ / "pipe", dir_ / "none", dir_ / "no\nsuch\x1b[2J.png"}) {
        SCOPED_TRACE(reference.string());
        // The program installs its own signal handlers; keep this binary's.
        struct sigaction saved[4];
        const int signals[4] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
        for (int i = 0; i < 4; ++i) {
            sigaction(signals[i], nullptr, &saved[i]);
        }
        std::string path = reference.string();
        char program[] = "camsteer";
        char* argv[] = {program, path.data(), nullptr};
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        ShellOptions options;
        options.sendKeys = false;
        const int status = runShell(options, 2, argv);
        const std::string out = ::testing::internal::GetCapturedStdout();
        const std::string err = ::testing::internal::GetCapturedStderr();
        for (int i = 0; i < 4; ++i) {
            sigaction(signals[i], &saved[i], nullptr);
        }
        EXPECT_EQ(1, status);
        EXPECT_EQ("Couldn't load histogram: " + quotedName(path) + "\n", out);
        EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
        EXPECT_EQ(0u, err.rfind("camsteer: " + quotedName(path) + ": ", 0)) << err;
    }
}

TEST(QuotedName, ShowsAnyNameOnOneLineAsAShellWouldReadIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"/home/u/ball.png", "/home/u/ball.png"},
        {"/tmp/my ball.png", "'/tmp/my ball.png'"},
        {"a\nb", R"('a'$'\n''b')"},
        {"\x1b[2J", R"($'\033''[2J')"},
        {"it's", R"('it'\''s')"},
        {"", "''"},
    };
    for (const auto& [name, shown] : cases) {
        EXPECT_EQ(shown, quotedName(name));
    }
}

// Tests run as root, who may read anything: the refusal is checked in a child that gave up
// root first.
TEST_F(ReferencePictures, AFileYouMayNotReadIsRefusedWithThatReason) {
    const fs::path locked = dir_ / "locked.png";
    writeBytes(locked, encoded(kSwatch));
    fs::permissions(locked, fs::perms::none);
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_exec);
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) {
            _exit(1);
        }
        std::string why;
        loadReferencePicture(locked.string(), why);
        const ssize_t written = write(fds[1], why.data(), why.size());
        _exit(written == static_cast<ssize_t>(why.size()) ? 0 : 1);
    }
    close(fds[1]);
    char buffer[256] = {};
    const ssize_t n = read(fds[0], buffer, sizeof(buffer) - 1);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child could not run";
    EXPECT_NE(std::string::npos, std::string(buffer, n > 0 ? n : 0).find("permission denied"))
        << buffer;
}

// The taught picture is written so that a crash never leaves half of one.
class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/camsteer-picture-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string dir_;
};

TEST_F(TempFolder, PictureIsWrittenWholeIntoNewFoldersAndFailuresLeaveTheOldOne) {
    const cv::Mat first(8, 8, CV_8UC3, cv::Scalar(255, 0, 0));
    const cv::Mat second(4, 6, CV_8UC3, cv::Scalar(0, 0, 255));
    const std::string path = dir_ + "/a/b/reference.png";
    std::string why;
    ASSERT_TRUE(writePictureAtomically(path, first, why)) << why;
    ASSERT_TRUE(writePictureAtomically(path, second, why)) << why;
    EXPECT_EQ(0, cv::norm(cv::imread(path), second, cv::NORM_INF));
    EXPECT_EQ(0, std::system(("test $(ls -A '" + dir_ + "/a/b' | wc -l) = 1").c_str()))
        << "no temporary file is left behind";

    for (const std::string& bad : {dir_ + "/a/b/reference.nosuchtype", dir_ + "/a/b/noext",
                                   dir_ + "/a/b/reference.png/inside.png"}) {
        why.clear();
        EXPECT_FALSE(writePictureAtomically(bad, first, why)) << bad;
        EXPECT_NE(why.find(bad.substr(0, bad.find_last_of('/'))), std::string::npos) << why;
    }
    ASSERT_EQ(0, chmod((dir_ + "/a/b").c_str(), 0500));
    if (access((dir_ + "/a/b").c_str(), W_OK) != 0) {  // root may write anyway
        EXPECT_FALSE(writePictureAtomically(path, first, why));
        EXPECT_EQ(0, cv::norm(cv::imread(path), second, cv::NORM_INF));
    }
    chmod((dir_ + "/a/b").c_str(), 0700);
}

}  // namespace
}  // namespace camsteer
