// Shared by the window and builder tests: media made at test time, a window to work on, and
// modal windows answered while they run.
#pragma once

#include "app/OptionFrm.h"
#include "tests/support/MediaFixtures.h"
#include "tests/support/TestSupport.h"

#include "probe/AVProbe.h"

#include <QApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace app_testing {

using namespace testing_support;

// A video clip with sound: vertical colour bands (or another pattern), a tone.
inline void WriteClip(const std::string &path, double seconds = 3.0, int width = 176, int height = 144,
                      bool withAudio = true, VideoPattern pattern = VideoPattern::Bands)
{
    MediaRecipe recipe;
    recipe.seconds = seconds;
    VideoTrack video;
    video.codec = "mpeg4";
    video.width = width;
    video.height = height;
    video.pattern = pattern;
    recipe.video = video;
    if (withAudio)
        recipe.audio = AudioTrack{};
    WriteMediaFile(path, recipe);
}

// One PNG picture of vertical colour bands, as the image2 muxer writes it.
inline void WriteStill(const std::string &path)
{
    MediaRecipe recipe;
    recipe.format = "image2";
    recipe.seconds = 0.04;
    VideoTrack video;
    video.codec = "png";
    video.pixelFormat = "rgb24";
    video.pattern = VideoPattern::Bands;
    recipe.video = video;
    WriteMediaFile(path, recipe);
}

inline void Touch(const std::string &path) { std::ofstream(path) << "x"; }

// Runs handle on the next modal window as soon as it is up; handle must close it.
class ModalAnswer : public QObject {
public:
    explicit ModalAnswer(std::function<void(QWidget *)> handle) : handle_(std::move(handle))
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                timer_.stop();
                ++answered_;
                handle_(modal);
            }
        });
        timer_.start();
    }
    int Answered() const { return answered_; }

private:
    std::function<void(QWidget *)> handle_;
    QTimer timer_;
    int answered_ = 0;
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureLibrariesLoaded();
        std::filesystem::create_directories(vhook);
        window = std::make_unique<TfrmOption>();
        window->SetVhookFolder(vhook.string());
    }

    // Loads file into the probe and hands it to the window.
    void Load(const std::string &file, const std::string &format = "")
    {
        ASSERT_TRUE(probe.LoadFile(file, format)) << probe.LastErrMsg;
        window->LoadProbeInfo(&probe);
    }

    TempDir dir;
    std::filesystem::path vhook = dir.Path() / "vhook";
    TAVProbe probe;
    std::unique_ptr<TfrmOption> window; // after the probe: gone first
};

} // namespace app_testing
