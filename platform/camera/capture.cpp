#include "platform/camera/capture.hpp"

#include <opencv2/imgproc.hpp>

namespace camsteer {

using Clock = std::chrono::steady_clock;

Capture::~Capture() {
    stop();
}

void Capture::setSource(std::unique_ptr<FrameSource> source) {
    source_ = std::move(source);
}
void Capture::setRenderingSize(int width, int height) {
    renderingSize_ = cv::Size(width, height);
}
void Capture::setCallback(FrameCallback callback) {
    callback_ = std::move(callback);
}
void Capture::setRender(RenderCallback render) {
    render_ = std::move(render);
}
void Capture::setLossTimeout(double seconds) {
    lossTimeout_ = seconds;
}

bool Capture::init(std::string& why) {
    if (!source_) {
        why = "no frame source configured";
        return false;
    }
    initialised_ = source_->open(why);
    return initialised_;
}

bool Capture::start() {
    if (!initialised_ || thread_.joinable()) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        stopping_ = false;
    }
    lost_ = false;
    lastFrameAt_ = Clock::now().time_since_epoch().count();
    running_ = true;
    thread_ = std::thread(&Capture::run, this);
    return true;
}

void Capture::stop() {
    {
        std::lock_guard<std::mutex> guard(wakeLock_);
        stopping_ = true;
    }
    running_ = false;
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool Capture::lost() const {
    if (!lost_ && running_) {
        // Noticed here too, not only by the capture thread: a read that blocks (a camera that
        // stalls without going away) would keep that thread from ever noticing. A quarter of a
        // second later than the thread would, so reads that fail are still its to judge.
        const double silent = std::chrono::duration<double>(Clock::now() - lastFrameAt()).count();
        if (silent > lossTimeout_ + sourceInterval() + 0.25) {
            lost_ = true;
        }
    }
    return lost_;
}

bool Capture::sleepUntil(Clock::time_point until) {
    std::unique_lock<std::mutex> guard(wakeLock_);
    wake_.wait_until(guard, until, [this] { return stopping_; });
    return !stopping_;
}

void Capture::prepare(const cv::Mat& raw, cv::Size renderingSize, cv::Mat& scaled,
                      cv::Mat& bottomUp) {
    const cv::Mat* source = &raw;
    if (raw.channels() != 3) {
        cv::cvtColor(raw, scaled, raw.channels() == 4 ? cv::COLOR_BGRA2BGR : cv::COLOR_GRAY2BGR);
        source = &scaled;
    }
    if (source->size() != renderingSize) {
        // INTER_AREA averages when shrinking, which keeps small coloured objects' hue intact.
        cv::resize(*source, scaled, renderingSize, 0, 0, cv::INTER_AREA);
        source = &scaled;
    }
    cv::flip(*source, bottomUp, 0);
}

void Capture::run() {
    cv::Mat raw;
    cv::Mat scaled;
    cv::Mat frame;
    cv::Mat upright;
    const double interval = source_->frameInterval();
    const auto step = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(interval > 0.0 ? interval : 0.0));
    Clock::time_point due = Clock::now();

    for (;;) {
        {
            std::lock_guard<std::mutex> guard(wakeLock_);
            if (stopping_) {
                return;
            }
        }
        const bool got = source_->read(raw) && !raw.empty();
        if (lost_) {
            running_ = false;
            return;  // called lost while the read blocked: too late for this frame
        }
        if (!got) {
            const double failingFor =
                std::chrono::duration<double>(Clock::now() - lastFrameAt()).count();
            if (failingFor > lossTimeout_) {
                lost_ = true;
                running_ = false;
                return;
            }
            if (!sleepUntil(Clock::now() + std::chrono::milliseconds(10))) {
                return;
            }
            continue;
        }
        lastFrameAt_ = Clock::now().time_since_epoch().count();

        prepare(raw, renderingSize_, scaled, frame);
        if (callback_) {
            callback_(frame);
        }
        ++frames_;
        if (render_) {
            cv::flip(frame, upright, 0);
            render_(upright);
        }

        if (interval > 0.0) {
            due += step;
            const auto now = Clock::now();
            if (due < now - step) {
                due = now;  // fell behind (a stall): don't rush to catch up
            }
            if (!sleepUntil(due)) {
                return;
            }
        }
    }
}

}  // namespace camsteer
