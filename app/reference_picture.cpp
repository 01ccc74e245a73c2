#include "app/reference_picture.hpp"

#include <functional>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "app/reference_file.hpp"
#include "platform/files/file_write.hpp"
#include "platform/process/quoted_name.hpp"

namespace camsteer {

namespace {

// Hands out image memory as the standard allocator does, but refuses any single image larger
// than `limit` bytes. The decoders make their output image right after reading the picture's
// header and before decoding a pixel, so installed around a decode it stops a tiny file that
// claims a huge picture from taking gigabytes.
class BoundedAllocator : public cv::MatAllocator {
  public:
    explicit BoundedAllocator(size_t limit) : limit_(limit) {}

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step,
                           cv::AccessFlag flags, cv::UMatUsageFlags usage) const override {
        size_t bytes = CV_ELEM_SIZE(type);
        for (int i = 0; i < dims; ++i) {
            // The decoders have already checked each side against their own (much larger)
            // limits, so this product cannot overflow.
            bytes *= static_cast<size_t>(sizes[i]);
        }
        if (data == nullptr && bytes > limit_) {
            refused_ = dims >= 2 ? cv::Size(sizes[1], sizes[0]) : cv::Size(1, sizes[0]);
            CV_Error(cv::Error::StsNoMem, "picture too large");
        }
        return std_->allocate(dims, sizes, type, data, step, flags, usage);
    }
    bool allocate(cv::UMatData* data, cv::AccessFlag flags,
                  cv::UMatUsageFlags usage) const override {
        return std_->allocate(data, flags, usage);
    }
    void deallocate(cv::UMatData* data) const override { std_->deallocate(data); }

    // The size of the image refused, empty when none was.
    cv::Size refused() const { return refused_; }

  private:
    cv::MatAllocator* std_ = cv::Mat::getStdAllocator();
    size_t limit_;
    mutable cv::Size refused_;
};

// Makes `allocator` the one new images get, for as long as it lives.
class DefaultAllocatorScope {
  public:
    explicit DefaultAllocatorScope(cv::MatAllocator* allocator)
        : previous_(cv::Mat::getDefaultAllocator()) {
        cv::Mat::setDefaultAllocator(allocator);
    }
    ~DefaultAllocatorScope() { cv::Mat::setDefaultAllocator(previous_); }
    DefaultAllocatorScope(const DefaultAllocatorScope&) = delete;
    DefaultAllocatorScope& operator=(const DefaultAllocatorScope&) = delete;

  private:
    cv::MatAllocator* previous_;
};

cv::Mat decodeWithin(const std::function<cv::Mat()>& decode, std::string& why) {
    BoundedAllocator bounded(static_cast<size_t>(kMaxReferencePixels) * 3);
    try {
        DefaultAllocatorScope scope(&bounded);
        return decode();
    } catch (const cv::Exception& e) {
        if (!bounded.refused().empty()) {
            why = "the picture is " + std::to_string(bounded.refused().width) + " x " +
                  std::to_string(bounded.refused().height) +
                  " pixels; a reference picture may have at most " +
                  std::to_string(kMaxReferencePixels);
        } else if (e.func == "validateInputImageSize") {
            why = "the picture is too large; a reference picture may have at most " +
                  std::to_string(kMaxReferencePixels) + " pixels";
        } else {
            why = "the picture cannot be decoded: " + e.err;
        }
    }
    return cv::Mat();
}

const char* const kUndecodable =
    "not a picture this program can read (PNG, JPEG, BMP, TIFF, WebP and the like)";

// Runs one decode with image memory bounded. Start-up only: the bound applies to every image
// made meanwhile, on any thread, so no other thread may be making images (or writing to
// standard error, held back meanwhile) then. Empty on failure, with the reason in `why`.
cv::Mat decodeBounded(const std::function<cv::Mat()>& decode, std::string& why) {
    HeldBackStderr libraryOutput;
    cv::Mat picture = decodeWithin(decode, why);
    const std::string said = libraryOutput.release();
    if (picture.empty()) {
        if (why.empty()) {
            why = kUndecodable;
        }
        if (!said.empty()) {
            why += " (" + said + ")";
        }
    }
    return picture;
}

// Not every decoder honours the colour flag (a grey PFM comes back with one channel): widen what
// such a decoder gives to the 8-bit BGR every other picture arrives as.
cv::Mat asBgr(const cv::Mat& picture) {
    if (picture.empty() || picture.type() == CV_8UC3) {
        return picture;
    }
    cv::Mat bgr;
    if (picture.depth() == CV_8U && (picture.channels() == 1 || picture.channels() == 4)) {
        cv::cvtColor(picture, bgr,
                     picture.channels() == 1 ? cv::COLOR_GRAY2BGR : cv::COLOR_BGRA2BGR);
    } else {
        CV_Error(cv::Error::StsUnsupportedFormat, "unexpected pixel format from the decoder");
    }
    return bgr;
}

}  // namespace

cv::Mat loadReferencePicture(const std::string& path, std::string& why) {
    why = refusalBeforeReading(path);
    if (!why.empty()) {
        return cv::Mat();
    }
    return decodeBounded([&path] { return asBgr(cv::imread(path, cv::IMREAD_COLOR)); }, why);
}

cv::Mat decodeReferencePicture(const std::vector<uchar>& bytes, std::string& why) {
    return decodeBounded([&bytes] { return asBgr(cv::imdecode(bytes, cv::IMREAD_COLOR)); }, why);
}

bool writePictureAtomically(const std::string& path, const cv::Mat& picture, std::string& why) {
    // The type from the name's extension, in its last part (either separator, for Windows).
    const size_t dot = path.find_last_of('.');
    const size_t separator = path.find_last_of("/\\");
    const bool hasType =
        dot != std::string::npos && (separator == std::string::npos || dot > separator);
    std::vector<uchar> bytes;
    try {
        if (!hasType || !cv::imencode(path.substr(dot), picture, bytes)) {
            why = "cannot write " + quotedName(path) +
                  ": not a picture type this program writes; use .png";
            return false;
        }
    } catch (const cv::Exception&) {
        why = "cannot write " + quotedName(path) +
              ": not a picture type this program writes; use .png";
        return false;
    }
    return writeFileAtomically(path, bytes, why);
}

}  // namespace camsteer
