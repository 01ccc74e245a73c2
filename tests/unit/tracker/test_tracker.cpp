#include <cmath>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "platform/keys/held_keys.hpp"
#include "tests/unit/test_support.hpp"
#include "tracker/passes/frame_passes.hpp"
#include "tracker/passes/hsv_lookup.hpp"
#include "tracker/passes/hue_to_bgr.hpp"
#include "tracker/passes/outline.hpp"
#include "tracker/passes/region_filter.hpp"
#include "tracker/tracker.hpp"

namespace camsteer {
namespace {

using testing::frameWith;
using testing::kBlue;
using testing::RecordingKeyboard;
using testing::swatch;

TEST(HueToBgr, SixteenBarColours) {
    const int expected[16][3] = {{0, 0, 255},   {0, 96, 255},  {0, 191, 255}, {0, 255, 223},
                                 {0, 255, 127}, {0, 255, 32},  {64, 255, 0},  {159, 255, 0},
                                 {255, 255, 0}, {255, 159, 0}, {255, 64, 0},  {255, 0, 32},
                                 {255, 0, 128}, {255, 0, 223}, {191, 0, 255}, {96, 0, 255}};
    for (int i = 0; i < 16; ++i) {
        const cv::Scalar c = hueToBgr(static_cast<float>(i) * 180.0f / 16);
        EXPECT_EQ(cv::Scalar(expected[i][0], expected[i][1], expected[i][2], 0), c) << "bin " << i;
    }
}

// One HSV pixel against the colour band.
bool passes(int h, int s, int v, int smin, int vmin, int vmax) {
    cv::Mat hsv(1, 1, CV_8UC3, cv::Scalar(h, s, v));
    cv::Mat mask;
    Tracker::colourBand(hsv, smin, vmin, vmax, mask);
    return mask.at<uchar>(0, 0) != 0;
}

TEST(ColourBand, EdgesAreInclusiveBelowAndExclusiveAbove) {
    struct Case {
        int h, s, v, smin, vmin, vmax;
        bool pass;
    };
    const Case cases[] = {
        {120, 255, 200, 80, 126, 256, true},   // S 255 passes: its bound is 256
        {120, 80, 200, 80, 126, 256, true},    // S equal to Smin passes
        {120, 79, 200, 80, 126, 256, false},   // S below Smin fails
        {120, 200, 255, 80, 126, 256, true},   // Vmax 256 lets V 255 pass
        {120, 200, 126, 80, 126, 256, true},   // V at the lower bound passes
        {120, 200, 125, 80, 126, 256, false},  // V below it fails
        {120, 200, 200, 80, 100, 200, false},  // V equal to max(vmin, vmax) fails
        {120, 200, 199, 80, 100, 200, true},
        {120, 200, 199, 80, 200, 100, true},  // order of vmin and vmax does not matter
        {120, 200, 200, 80, 200, 100, false},
        {120, 200, 150, 80, 150, 150, false},  // vmin == vmax passes nothing
        {120, 255, 255, 256, 0, 256, false},   // Smin 256 passes nothing
        {0, 0, 0, 0, 0, 256, true},            // Smin 0, full V band: everything
        {179, 0, 255, 0, 0, 256, true},
        {120, 200, 0, 80, 0, 0, false},  // Vmax 0 (== Vmin) passes nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.pass, passes(c.h, c.s, c.v, c.smin, c.vmin, c.vmax))
            << "H " << c.h << " S " << c.s << " V " << c.v << " smin " << c.smin << " vmin "
            << c.vmin << " vmax " << c.vmax;
    }
}

// The one-pass conversion, band and back-projection against the five library calls it
// replaces: random frames (one of a width not of 16s), the settings' edges and random
// settings, three models; settings change from call to call, so stale tables show.
TEST(BandProjection, GivesWhatTheLibraryCallsGiveBitForBit) {
    cv::RNG rng(20261207);
    cv::Mat frames[2] = {cv::Mat(240, 320, CV_8UC3), cv::Mat(239, 317, CV_8UC3)};
    rng.fill(frames[0], cv::RNG::UNIFORM, 0, 256);
    rng.fill(frames[1], cv::RNG::NORMAL, 128, 50);  // greys and muted colours
    cv::Mat randomModel(Tracker::kHistogramBins, 1, CV_32F);
    rng.fill(randomModel, cv::RNG::UNIFORM, 0.0, 300.0);  // also above 255: saturates
    const cv::Mat models[] = {Tracker(swatch(kBlue), 320, 240).hueModel(),
                              cv::Mat::zeros(Tracker::kHistogramBins, 1, CV_32F), randomModel};
    std::vector<std::array<int, 3>> settings;  // smin, vmin, vmax
    for (int smin : {0, 1, 80, 255, 256}) {
        for (int vmin : {0, 1, 126, 255, 256}) {
            for (int vmax : {0, 126, 127, 256}) {
                settings.push_back({smin, vmin, vmax});
            }
        }
    }
    for (int i = 0; i < 40; ++i) {
        settings.push_back({rng.uniform(0, 257), rng.uniform(0, 257), rng.uniform(0, 257)});
    }
    BandProjection fused;
    cv::Mat hsv[2], hue, mask, expected, got;
    cv::cvtColor(frames[0], hsv[0], cv::COLOR_BGR2HSV);
    cv::cvtColor(frames[1], hsv[1], cv::COLOR_BGR2HSV);
    for (const cv::Mat& model : models) {
        for (const auto& [smin, vmin, vmax] : settings) {
            for (int f = 0; f < 2; ++f) {
                BandProjection::libraryPath(hsv[f], model, smin, vmin, vmax, hue, mask, expected);
                const cv::Rect nonZero = fused.apply(frames[f], model, smin, vmin, vmax, got);
                ASSERT_EQ(0, cv::norm(expected, got, cv::NORM_INF))
                    << "smin " << smin << " vmin " << vmin << " vmax " << vmax;
                ASSERT_EQ(cv::boundingRect(expected), nonZero);
            }
        }
    }
}

// The looked-up conversion against the library's for every one of the 2^24 BGR values.
TEST(HsvLookup, ConvertsEveryColourAsTheLibraryDoes) {
    cv::Mat bgr(4096, 4096, CV_8UC3), hsv;
    for (int i = 0; i < 1 << 24; ++i) {
        bgr.ptr<cv::Vec3b>(0)[i] = cv::Vec3b(i & 255, (i >> 8) & 255, i >> 16);
    }
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
    const HsvLookup& lookup = HsvLookup::tables();
    int wrong = 0;
    for (int i = 0; i < 1 << 24; ++i) {
        const cv::Vec3b in = bgr.ptr<cv::Vec3b>(0)[i];
        const cv::Vec3b want = hsv.ptr<cv::Vec3b>(0)[i];
        const cv::Vec3b got = lookup.convert(in[0], in[1], in[2]);
        if (got != want && ++wrong <= 5) {
            ADD_FAILURE() << "BGR " << in << ": " << got << " instead of " << want;
        }
    }
    EXPECT_EQ(0, wrong);
}

// The region search on the neighbourhood of the non-zero pixels against the same calls on the
// whole image: nothing, single pixels in the corners and at the edges, blobs near and across
// the edges, scattered noise, everything non-zero.
TEST(SearchRegions, GivesWhatTheCallsOnTheWholeImageGive) {
    cv::RNG rng(7);
    std::vector<cv::Mat> images;
    auto blank = [] { return cv::Mat(240, 320, CV_8UC1, cv::Scalar(0)); };
    images.push_back(blank());
    for (const cv::Point p : {cv::Point(0, 0), cv::Point(319, 0), cv::Point(0, 239),
                              cv::Point(319, 239), cv::Point(4, 120), cv::Point(315, 5)}) {
        images.push_back(blank());
        images.back().at<uchar>(p) = 255;
    }
    for (int i = 0; i < 30; ++i) {
        images.push_back(blank());
        for (int blobs = rng.uniform(1, 4); blobs > 0; --blobs) {
            cv::circle(images.back(), cv::Point(rng.uniform(-20, 340), rng.uniform(-20, 260)),
                       rng.uniform(1, 50), cv::Scalar(rng.uniform(1, 256)), cv::FILLED);
        }
    }
    cv::Mat noise(240, 320, CV_8UC1);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    images.push_back(blank());
    noise.copyTo(images.back(), noise > 250);
    images.push_back(cv::Mat(240, 320, CV_8UC1, cv::Scalar(9)));
    RegionFilter filter;  // one for all, so buffers kept from a larger image show
    for (const cv::Mat& image : images) {
        cv::Mat expected = image.clone();
        std::vector<std::vector<cv::Point>> want, got{{cv::Point(1, 1)}};
        cv::dilate(expected, expected, cv::Mat(), cv::Point(-1, -1), 3, cv::BORDER_REPLICATE);
        cv::GaussianBlur(expected, expected, cv::Size(3, 3), 0, 0, cv::BORDER_REPLICATE);
        cv::findContours(expected, want, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        cv::Mat part = image.clone();
        Tracker::searchRegions(part, cv::boundingRect(image), filter, got);
        ASSERT_EQ(0, cv::norm(expected, part, cv::NORM_INF)) << cv::boundingRect(image);
        ASSERT_EQ(want, got) << cv::boundingRect(image);
    }
    // The filter alone against its library calls: any values, sizes around its 16-pixel steps
    // and the reaches of 3 and 1, a part of a larger image.
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(1, 9), cv::Size(9, 1), cv::Size(2, 2),
                                cv::Size(15, 7), cv::Size(16, 16), cv::Size(17, 3),
                                cv::Size(33, 40), cv::Size(218, 218), cv::Size(320, 240)}) {
        for (const int top : {1, 255}) {
            cv::Mat image(size.height + 2, size.width + 5, CV_8UC1);
            rng.fill(image, cv::RNG::UNIFORM, 0, top + 1);
            image.setTo(0, image < top / 2);  // zeros among the values, as in a projection
            cv::Mat part = image(cv::Rect(cv::Point(3, 1), size));
            cv::Mat expected = part.clone();
            RegionFilter::libraryPath(expected);
            filter.apply(part);
            ASSERT_EQ(0, cv::norm(expected, part, cv::NORM_INF)) << size << " up to " << top;
        }
    }
}

// The mirror, the recorded grid and the box against the library calls they stand for, on random
// pictures of widths around the mirror's 16-pixel blocks and of the capture size.
TEST(FramePasses, MirrorGridAndBoxGiveWhatTheLibraryCallsGive) {
    cv::RNG rng(11);
    for (const int width : {1, 2, 15, 16, 17, 31, 32, 33, 47, 48, 49, 63, 64, 100, 320}) {
        cv::Mat picture(3, width, CV_8UC3);
        rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
        cv::Mat expected;
        cv::flip(picture, expected, 1);
        mirrorInPlace(picture);
        ASSERT_EQ(0, cv::norm(expected, picture, cv::NORM_INF)) << "width " << width;
    }
    for (const cv::Size size : {cv::Size(320, 240), cv::Size(7, 5), cv::Size(641, 479)}) {
        PaintedRuns grid;
        grid.record(size, [&](cv::Mat& p) { Tracker::drawGrid(p, size.width, size.height); });
        cv::Mat picture(size, CV_8UC3);
        rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
        cv::Mat expected = picture.clone();
        Tracker::drawGrid(expected, size.width, size.height);
        grid.paint(picture);
        ASSERT_EQ(0, cv::norm(expected, picture, cv::NORM_INF)) << size;
    }
    // The target's box: points and sides of 0 to 3 pixels, corners given either way round, at
    // and beyond every edge, the whole frame, random boxes; a colour to saturate.
    std::vector<std::pair<cv::Point, cv::Point>> boxes = {
        {{100, 100}, {100, 100}}, {{100, 100}, {101, 100}}, {{100, 100}, {102, 103}},
        {{103, 102}, {100, 100}}, {{0, 0}, {319, 239}},     {{0, 0}, {320, 240}},
        {{-1, -1}, {321, 241}},   {{-5, 50}, {1, 60}},      {{318, 0}, {330, 1}},
        {{50, 238}, {60, 245}},   {{-3, -3}, {-1, -1}},     {{321, 10}, {325, 20}},
    };
    for (int i = 0; i < 20; ++i) {
        boxes.push_back({{rng.uniform(-5, 325), rng.uniform(-5, 245)},
                         {rng.uniform(-5, 325), rng.uniform(-5, 245)}});
    }
    for (const auto& [a, b] : boxes) {
        for (const cv::Scalar& colour : {cv::Scalar(255, 0, 0), cv::Scalar(300, 7, -4)}) {
            cv::Mat picture(240, 320, CV_8UC3);
            rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
            cv::Mat expected = picture.clone();
            cv::rectangle(expected, a, b, colour, 2, cv::LINE_8);
            paintBox(picture, a, b, colour);
            ASSERT_EQ(0, cv::norm(expected, picture, cv::NORM_INF)) << a << " " << b;
        }
    }
}

// The recorded outline against cv::drawContours with thickness 2 and LINE_AA, twice on the
// same painter (recorded, then replayed): outlines of blobs anywhere, near and across the edges
// and corners, hand-made contours of one and two points, long and repeated segments, at the
// very edges, random polygons; the two overlay colours and one the painter leaves to the
// library.
TEST(OutlinePainter, GivesWhatTheLibraryContourDrawingGives) {
    cv::RNG rng(13);
    std::vector<std::vector<cv::Point>> contours = {
        {cv::Point(160, 120)},
        {cv::Point(100, 100), cv::Point(101, 101)},
        {cv::Point(50, 60), cv::Point(250, 60), cv::Point(250, 61), cv::Point(50, 200)},
        {cv::Point(0, 0), cv::Point(319, 0), cv::Point(319, 239), cv::Point(0, 239)},
        {cv::Point(5, 5), cv::Point(6, 5), cv::Point(6, 5), cv::Point(5, 6)},
        {cv::Point(4, 120), cv::Point(20, 100), cv::Point(30, 130)},
    };
    for (int i = 0; i < 40; ++i) {
        cv::Mat mask(240, 320, CV_8UC1, cv::Scalar(0));
        cv::ellipse(mask, cv::Point(rng.uniform(-30, 350), rng.uniform(-30, 270)),
                    cv::Size(rng.uniform(1, 120), rng.uniform(1, 120)), rng.uniform(0, 180), 0, 360,
                    cv::Scalar(255), cv::FILLED);
        std::vector<std::vector<cv::Point>> found;
        cv::findContours(mask, found, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        contours.insert(contours.end(), found.begin(), found.end());
    }
    for (int i = 0; i < 10; ++i) {
        contours.emplace_back();
        for (int points = rng.uniform(3, 30); points > 0; --points) {
            contours.back().emplace_back(rng.uniform(0, 320), rng.uniform(0, 240));
        }
    }
    const cv::Scalar colours[] = {{0, 255, 0}, {0, 0, 255}, {10, 200, 30}};
    OutlinePainter painter;
    for (int round = 0; round < 2; ++round) {
        for (const std::vector<cv::Point>& contour : contours) {
            for (const cv::Scalar& colour : colours) {
                cv::Mat picture(240, 320, CV_8UC3);
                rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
                cv::Mat expected = picture.clone();
                cv::drawContours(expected, std::vector<std::vector<cv::Point>>{contour}, 0, colour,
                                 2, cv::LINE_AA);
                painter.draw(picture, contour, colour);
                ASSERT_EQ(0, cv::norm(expected, picture, cv::NORM_INF))
                    << "round " << round << ", " << contour.size() << " points from " << contour[0]
                    << ", colour " << colour;
            }
        }
    }
}

// Height of the bar drawn in `bin`, read off the picture in the middle of the bar.
int barHeight(const cv::Mat& picture, int bin) {
    const int x = bin * 15 + 7;
    int height = 0;
    for (int y = picture.rows - 1; y >= 0 && picture.at<cv::Vec3b>(y, x) != cv::Vec3b(0, 0, 0);
         --y) {
        ++height;
    }
    return height;
}

TEST(HueModel, BarsRoundTiesToEvenAndTakeTheirBinColour) {
    // 480 red pixels (bin 0) make the tallest bar; 1, 3 and 5 pixels of other hues give bar
    // heights of exactly 0.5, 1.5 and 2.5 pixels, which round to 0, 2 and 2.
    cv::Mat reference(1, 489, CV_8UC3, cv::Scalar(0, 0, 255));
    reference.at<cv::Vec3b>(0, 480) = cv::Vec3b(0, 255, 255);  // yellow, hue 30: bin 2
    for (int i = 481; i < 484; ++i)
        reference.at<cv::Vec3b>(0, i) = cv::Vec3b(0, 255, 0);  // bin 5
    for (int i = 484; i < 489; ++i)
        reference.at<cv::Vec3b>(0, i) = cv::Vec3b(255, 0, 0);  // 10
    Tracker tracker(reference, 320, 240);

    const cv::Mat model = tracker.hueModel();
    EXPECT_FLOAT_EQ(255.0f, model.at<float>(0));
    const cv::Mat picture = tracker.histogramPicture();
    ASSERT_EQ(cv::Size(240, 240), picture.size());
    const struct { int bin, height; } bars[] = {{0, 240}, {1, 0}, {2, 0}, {5, 2}, {10, 2}, {15, 0}};
    for (const auto& bar : bars) {
        EXPECT_EQ(bar.height, barHeight(picture, bar.bin)) << "bin " << bar.bin;
    }
    const cv::Scalar red = hueToBgr(0);
    EXPECT_EQ(cv::Vec3b(red[0], red[1], red[2]), picture.at<cv::Vec3b>(0, 7));
    const cv::Scalar blue = hueToBgr(10 * 180.0f / 16);
    EXPECT_EQ(cv::Vec3b(blue[0], blue[1], blue[2]), picture.at<cv::Vec3b>(239, 10 * 15 + 7));
}

TEST(HueModel, RebuildReplacesThePictureAndEmptyBandGivesZeroModel) {
    Tracker tracker(swatch(kBlue), 320, 240);
    const cv::Mat before = tracker.histogramPicture();
    const cv::Mat beforeCopy = before.clone();
    tracker.smin = 256;
    tracker.buildHueModel(swatch(kBlue));
    EXPECT_EQ(0, cv::countNonZero(tracker.hueModel()));
    const cv::Mat after = tracker.histogramPicture();
    EXPECT_NE(before.data, after.data);
    EXPECT_EQ(0, cv::countNonZero(after.reshape(1)));
    // The earlier picture is intact for whoever still holds it.
    EXPECT_EQ(0, cv::norm(before, beforeCopy, cv::NORM_INF));
}

// Learning from the camera starts with no picture at all: nothing is found until a reference
// arrives, and from then on the new model tracks.
TEST(HueModel, NoReferenceFindsNothingUntilOneIsGiven) {
    Tracker tracker(cv::Mat(), 320, 240);
    EXPECT_EQ(0, cv::countNonZero(tracker.histogramPicture().reshape(1)));
    cv::Mat frame = frameWith({{0, 0, 120, 100}});
    ASSERT_TRUE(tracker.processFrame(frame));
    EXPECT_EQ(0.0, tracker.coverage());
    tracker.buildHueModel(swatch(kBlue));
    EXPECT_GT(cv::countNonZero(tracker.histogramPicture().reshape(1)), 0);
    frame = frameWith({{0, 0, 120, 100}});
    ASSERT_TRUE(tracker.processFrame(frame));
    EXPECT_GT(tracker.coverage(), 0.1);
}

class TrackerFrames : public ::testing::Test {
  protected:
    Tracker tracker{swatch(kBlue), 320, 240};
};

TEST_F(TrackerFrames, StartsUntrackedAtTheFrameCentre) {
    EXPECT_EQ(0.0, tracker.coverage());
    EXPECT_EQ(cv::Point(160, 120), tracker.centre());
    EXPECT_FALSE(tracker.directions().any());
}

TEST_F(TrackerFrames, NothingInBandGivesNoTarget) {
    cv::Mat frame = frameWith({});
    ASSERT_TRUE(tracker.processFrame(frame));
    EXPECT_EQ(0.0, tracker.coverage());
    EXPECT_EQ(cv::Point(160, 120), tracker.centre());
}

TEST_F(TrackerFrames, TargetAtTheRawLeftEndsUpRightAfterMirroring) {
    // Columns 10..79 of the raw frame are columns 240..309 once mirrored.
    cv::Mat frame = frameWith({cv::Rect(10, 100, 70, 70)});
    ASSERT_TRUE(tracker.processFrame(frame));
    const cv::Point c = tracker.centre();
    EXPECT_NEAR(274.5, c.x, 1.0);
    EXPECT_NEAR(134.5, c.y, 1.0);
    EXPECT_TRUE(tracker.directions().right);
    // The frame itself was mirrored in place: blue now at the right, grey at the left.
    EXPECT_EQ(cv::Vec3b(230, 20, 0), frame.at<cv::Vec3b>(130, 300));
    EXPECT_EQ(cv::Vec3b(128, 128, 128), frame.at<cv::Vec3b>(130, 30));
}

TEST_F(TrackerFrames, CoverageEqualToTrackMinIsNotTracked) {
    cv::Mat frame = frameWith({cv::Rect(20, 20, 60, 60)});
    ASSERT_TRUE(tracker.processFrame(frame));
    const double c = tracker.coverage();
    ASSERT_GT(c, 0.0);
    EXPECT_NE(cv::Point(160, 120), tracker.centre());

    tracker.trackMinFraction = c;
    frame = frameWith({cv::Rect(20, 20, 60, 60)});
    ASSERT_TRUE(tracker.processFrame(frame));
    EXPECT_EQ(c, tracker.coverage());  // the area still counts
    EXPECT_EQ(cv::Point(160, 120), tracker.centre());

    tracker.trackMinFraction = std::nextafter(c, 0.0);
    frame = frameWith({cv::Rect(20, 20, 60, 60)});
    ASSERT_TRUE(tracker.processFrame(frame));
    EXPECT_NE(cv::Point(160, 120), tracker.centre());
}

TEST_F(TrackerFrames, FirstOfEqualRegionsWins) {
    // Two equal squares; the contour search lists one of them first. Whichever it is, the
    // tracker must take that one (a >= comparison would take the other).
    const std::vector<cv::Rect> squares = {cv::Rect(20, 20, 70, 70), cv::Rect(220, 150, 70, 70)};
    cv::Mat frame = frameWith(squares);
    cv::Mat copy = frame.clone();
    ASSERT_TRUE(tracker.processFrame(frame));

    cv::flip(copy, copy, 1);
    cv::Mat hsv, mask;
    cv::cvtColor(copy, hsv, cv::COLOR_BGR2HSV);
    Tracker::colourBand(hsv, 80, 126, 256, mask);
    cv::dilate(mask, mask, cv::Mat(), cv::Point(-1, -1), 3, cv::BORDER_REPLICATE);
    cv::GaussianBlur(mask, mask, cv::Size(3, 3), 0, 0, cv::BORDER_REPLICATE);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    ASSERT_EQ(2u, contours.size());
    ASSERT_EQ(cv::contourArea(contours[0]), cv::contourArea(contours[1]));
    const cv::Rect first = cv::boundingRect(contours[0]);
    EXPECT_EQ(cv::Point(first.x + first.width / 2, first.y + first.height / 2), tracker.centre());
}

TEST_F(TrackerFrames, WrongFrameIsLeftUntouchedAndResultsKept) {
    cv::Mat good = frameWith({cv::Rect(10, 10, 50, 50)});
    ASSERT_TRUE(tracker.processFrame(good));
    const cv::Point centre = tracker.centre();
    const double coverage = tracker.coverage();
    const DirectionFlags flags = tracker.directions();

    auto recorder = std::make_unique<RecordingKeyboard>();
    RecordingKeyboard& keyboard = *recorder;
    HeldKeys keys(std::move(recorder));
    tracker.setKeySink(&keys);
    tracker.sendKeysEnabled = true;
    cv::Mat big(480, 640, CV_8UC3);
    cv::randu(big, 0, 256);
    const cv::Mat bigCopy = big.clone();
    cv::Mat grey(240, 320, CV_8UC1, cv::Scalar(7));
    for (cv::Mat* wrong : {&big, &grey}) {
        EXPECT_FALSE(tracker.processFrame(*wrong));
    }
    EXPECT_EQ(0, cv::norm(big, bigCopy, cv::NORM_INF));
    EXPECT_EQ(centre, tracker.centre());
    EXPECT_EQ(coverage, tracker.coverage());
    EXPECT_EQ(flags, tracker.directions());
    EXPECT_TRUE(keyboard.events.empty());
    EXPECT_EQ(0, keyboard.flushes);
}

TEST_F(TrackerFrames, HandsTheWantedKeysOverOnlyWhenEnabled) {
    auto recorder = std::make_unique<RecordingKeyboard>();
    RecordingKeyboard& keyboard = *recorder;
    HeldKeys keys(std::move(recorder));
    tracker.setKeySink(&keys);
    // Raw top-right is the user's top-left once mirrored; rows count from the bottom, so a
    // high row index is high on screen.
    cv::Mat frame = frameWith({cv::Rect(240, 165, 70, 70)});
    ASSERT_TRUE(tracker.processFrame(frame));
    EXPECT_TRUE(keyboard.events.empty());

    tracker.sendKeysEnabled = true;
    for (int i = 0; i < 3; ++i) {  // held: pressed by the first frame only
        frame = frameWith({cv::Rect(240, 165, 70, 70)});
        ASSERT_TRUE(tracker.processFrame(frame));
    }
    const std::vector<std::pair<int, bool>> expected = {{kSteerUp, true}, {kSteerLeft, true}};
    EXPECT_EQ(expected, keyboard.events);
    EXPECT_EQ(1, keyboard.flushes);
}

TEST(Decision, ThirdsCoverageAndCancellation) {
    struct Case {
        int x, y;
        double coverage, nearF, farF;
        DirectionFlags want;  // up, down, left, right, forward, back
        int steady = 0;
        DirectionFlags previous{};
    };
    const DirectionFlags none{};
    const DirectionFlags left{false, false, true, false, false, false};
    const DirectionFlags right{false, false, false, true, false, false};
    const DirectionFlags down{false, true, false, false, false, false};
    const DirectionFlags up{true, false, false, false, false, false};
    const DirectionFlags forward{false, false, false, false, true, false};
    const DirectionFlags back{false, false, false, false, false, true};
    const Case cases[] = {
        {105, 120, 0.1, 0.2, 0.12, {false, false, true, false, false, false}},
        {106, 120, 0.1, 0.2, 0.12, {false, false, false, false, false, true}},
        {213, 120, 0.15, 0.2, 0.12, {false, false, false, true, false, false}},
        {212, 120, 0.15, 0.2, 0.12, none},
        {160, 79, 0.15, 0.2, 0.12, {false, true, false, false, false, false}},
        {160, 161, 0.15, 0.2, 0.12, {true, false, false, false, false, false}},
        {160, 80, 0.15, 0.2, 0.12, none},
        {160, 160, 0.15, 0.2, 0.12, none},
        {20, 200, 0.15, 0.2, 0.12, {true, false, true, false, false, false}},
        {0, 0, 0.15, 0.2, 0.12, {false, true, true, false, false, false}},
        {319, 239, 0.15, 0.2, 0.12, {true, false, false, true, false, false}},
        {160, 120, 0.12, 0.2, 0.12, none},  // exactly Far: not back
        {160, 120, 0.2, 0.2, 0.12, none},   // exactly Near: not forward
        {160, 120, 0.21, 0.2, 0.12, {false, false, false, false, true, false}},
        {20, 120, 0.3, 0.2, 0.12, {false, false, true, false, false, false}},
        {160, 120, 0.12, 0.10, 0.15, {false, false, false, false, true, true}},
        {160, 120, 0.05, 0.2, 0.12, none},  // at TrackMin: not back
        {160, 120, 0.0, 0.2, 0.12, none},   // no target
        // Steady 6: each limit sets 6 px past its line and clears 6 px back. Grid lines at x 106
        // and 212, y 80 and 160; Near 0.2 and Far 0.12 have the radii 69.9 and 54.2 px, so Near
        // sets above 0.2358 and clears at 0.1671, Far sets below 0.0949 and clears at 0.1480.
        {100, 120, 0.15, 0.2, 0.12, none, 6},
        {99, 120, 0.15, 0.2, 0.12, left, 6},
        {111, 120, 0.15, 0.2, 0.12, left, 6, left},
        {112, 120, 0.15, 0.2, 0.12, none, 6, left},
        {218, 120, 0.15, 0.2, 0.12, none, 6},
        {219, 120, 0.15, 0.2, 0.12, right, 6},
        {207, 120, 0.15, 0.2, 0.12, right, 6, right},
        {206, 120, 0.15, 0.2, 0.12, none, 6, right},
        {160, 74, 0.15, 0.2, 0.12, none, 6},
        {160, 73, 0.15, 0.2, 0.12, down, 6},
        {160, 85, 0.15, 0.2, 0.12, down, 6, down},
        {160, 86, 0.15, 0.2, 0.12, none, 6, down},
        {160, 166, 0.15, 0.2, 0.12, none, 6},
        {160, 167, 0.15, 0.2, 0.12, up, 6},
        {160, 155, 0.15, 0.2, 0.12, up, 6, up},
        {160, 154, 0.15, 0.2, 0.12, none, 6, up},
        {160, 120, 0.235, 0.2, 0.12, none, 6},
        {160, 120, 0.236, 0.2, 0.12, forward, 6},
        {160, 120, 0.168, 0.2, 0.12, forward, 6, forward},
        {160, 120, 0.167, 0.2, 0.12, none, 6, forward},
        {160, 120, 0.095, 0.2, 0.12, none, 6},
        {160, 120, 0.094, 0.2, 0.12, back, 6},
        {160, 120, 0.147, 0.2, 0.12, back, 6, back},
        {160, 120, 0.149, 0.2, 0.12, none, 6, back},
        {160, 120, 0.05, 0.2, 0.12, none, 6, back},  // TrackMin stays exact
        {111, 120, 0.3, 0.2, 0.12, left, 6, left},   // a held direction still cancels forward
        {160, 120, 0.23, 0.2, 0.12, none, 6, left},  // and the cell then entered waits for 6 px
        {105, 120, 0.1, 0.2, 0.12, left, 0, back},   // steady 0 ignores what was set before
        {106, 120, 0.1, 0.2, 0.12, back, 0, left},
    };
    for (const Case& c : cases) {
        const DirectionFlags got = Tracker::decide(cv::Point(c.x, c.y), c.coverage, 320, 240,
                                                   c.nearF, c.farF, 0.05, c.steady, c.previous);
        EXPECT_EQ(c.want, got) << "centre (" << c.x << ", " << c.y << ") coverage " << c.coverage
                               << " steady " << c.steady;
    }
}

// Overlay, checked on the frame as the tracker leaves it (bottom-up, mirrored).
class Overlay : public TrackerFrames {
  protected:
    cv::Mat run(const std::vector<cv::Rect>& targets) {
        cv::Mat frame = frameWith(targets);
        EXPECT_TRUE(tracker.processFrame(frame));
        return frame;
    }
    static cv::Vec3b at(const cv::Mat& m, int x, int y) { return m.at<cv::Vec3b>(y, x); }
    static bool anyPixel(const cv::Mat& m, const cv::Vec3b& colour) {
        for (int y = 0; y < m.rows; ++y)
            for (int x = 0; x < m.cols; ++x)
                if (m.at<cv::Vec3b>(y, x) == colour)
                    return true;
        return false;
    }
};

const cv::Vec3b kWhite(255, 255, 255), kGreenPx(0, 255, 0), kRedPx(0, 0, 255), kBluePx(255, 0, 0),
    kBlack(0, 0, 0), kGreyPx(128, 128, 128);

TEST_F(Overlay, GridIsWhiteTwoPixelsAtTheThirds) {
    const cv::Mat f = run({});
    for (const cv::Point p :
         {cv::Point(106, 30), cv::Point(212, 30), cv::Point(30, 80), cv::Point(30, 160)}) {
        EXPECT_EQ(kWhite, at(f, p.x, p.y)) << p;
    }
    EXPECT_EQ(kGreyPx, at(f, 30, 30));
    EXPECT_EQ(kGreyPx, at(f, 104, 30));
    EXPECT_FALSE(anyPixel(f, kBluePx));  // no target: no box
}

TEST_F(Overlay, OutlineGreenWhenSteeringRedWhenNeutral) {
    cv::Mat f = run({cv::Rect(240, 90, 70, 70)});  // user's left third
    EXPECT_TRUE(tracker.directions().left);
    EXPECT_TRUE(anyPixel(f, kGreenPx));
    EXPECT_FALSE(anyPixel(f, kRedPx));
    EXPECT_TRUE(anyPixel(f, kBluePx));

    // Middle cell, coverage between Far and Near: 12 % to 20 % of the frame.
    f = run({cv::Rect(115, 75, 90, 90)});
    ASSERT_GT(tracker.coverage(), 0.12);
    ASSERT_LT(tracker.coverage(), 0.2);
    EXPECT_FALSE(tracker.directions().any());
    EXPECT_TRUE(anyPixel(f, kRedPx));
    const cv::Point c = tracker.centre();
    EXPECT_EQ(kGreenPx, at(f, c.x, c.y));  // the tracked point
}

TEST_F(Overlay, AtOrBelowTrackMinOnlyTheGrid) {
    tracker.trackMinFraction = 0.5;
    const cv::Mat f = run({cv::Rect(115, 75, 90, 90)});
    EXPECT_FALSE(anyPixel(f, kBluePx));
    EXPECT_FALSE(anyPixel(f, kRedPx));
    EXPECT_FALSE(anyPixel(f, kGreenPx));
    EXPECT_EQ(kWhite, at(f, 106, 30));
}

TEST_F(Overlay, MaskViewBlanksAndFillsTheRegionWhatever) {
    tracker.maskView = true;
    cv::Mat f = run({});
    EXPECT_EQ(kBlack, at(f, 30, 30));
    EXPECT_EQ(kWhite, at(f, 106, 30));

    tracker.trackMinFraction = 0.5;  // region shown solid, but no box or dot
    f = run({cv::Rect(10, 10, 60, 60)});
    EXPECT_EQ(kWhite, at(f, 279, 39));  // inside the mirrored square
    EXPECT_FALSE(anyPixel(f, kBluePx));
    EXPECT_FALSE(anyPixel(f, kGreenPx));

    tracker.maskView = false;
    f = run({cv::Rect(10, 10, 60, 60)});
    EXPECT_EQ(cv::Vec3b(230, 20, 0), at(f, 279, 39));  // back to the camera picture
}

// Rebuilds on one thread while frames run on another: every frame sees either the whole old
// model or the whole new one. Run under ThreadSanitizer by the sanitizer build.
TEST(TrackerThreads, RebuildsDuringFramesNeverTearTheModel) {
    const cv::Mat reference = swatch(kBlue);
    Tracker tracker(reference, 320, 240);
    cv::Mat sample = frameWith({cv::Rect(100, 60, 100, 100)});
    ASSERT_TRUE(tracker.processFrame(sample));
    const double full = tracker.coverage();
    ASSERT_GT(full, 0.0);

    std::atomic<bool> done{false};
    std::thread frames([&] {
        for (int i = 0; i < 300; ++i) {
            cv::Mat frame = frameWith({cv::Rect(100, 60, 100, 100)});
            ASSERT_TRUE(tracker.processFrame(frame));
            const double c = tracker.coverage();
            ASSERT_TRUE(c == 0.0 || c == full) << c;
        }
        done = true;
    });
    for (int i = 0; !done; ++i) {
        tracker.smin = (i % 2) ? 256 : 80;
        tracker.buildHueModel(reference);
        (void)tracker.histogramPicture();
    }
    frames.join();
}

}  // namespace
}  // namespace camsteer
