#include "AVProbe.h"
#include "MediaFixtures.h"
#include "OptionsFixture.h"

#include <fstream>

using namespace avlib;
using namespace testing_support;

namespace {

class TranscodeTest : public OptionsTest {
protected:
    // Sets up one input and one output with the given option lines, then runs the job here.
    bool Convert(const std::string &input, const std::string &output, const std::string &inputOptions = "",
                 const std::string &outputOptions = "")
    {
        engine.ParseOptionLines(inputOptions);
        if (!engine.AddInputFile(input)) {
            ADD_FAILURE() << engine.LastErrorText;
            return false;
        }
        engine.ParseOptionLines(outputOptions);
        if (!engine.AddOutputFile(output)) {
            ADD_FAILURE() << engine.LastErrorText;
            return false;
        }
        engine.Start(false, tpNormal);
        return engine.Finished != 0;
    }

    // Packets per stream of a file, and their total duration in seconds.
    struct Contents {
        std::vector<int> packets;
        std::vector<double> seconds;
        std::vector<AVCodecID> codecs;
    };
    static Contents Read(const std::string &path)
    {
        Contents contents;
        AVFormatContext *raw = nullptr;
        if (avformat.avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
            ADD_FAILURE() << "cannot open " << path;
            return contents;
        }
        InputFormatContextPtr file(raw);
        avformat.avformat_find_stream_info(raw, nullptr);
        contents.packets.assign(raw->nb_streams, 0);
        contents.seconds.assign(raw->nb_streams, 0.0);
        for (unsigned i = 0; i < raw->nb_streams; ++i)
            contents.codecs.push_back(raw->streams[i]->codecpar->codec_id);
        AVPacketPtr packet(avcodec.av_packet_alloc());
        while (avformat.av_read_frame(raw, packet.get()) >= 0) {
            ++contents.packets[packet->stream_index];
            contents.seconds[packet->stream_index] +=
                packet->duration * av_q2d(raw->streams[packet->stream_index]->time_base);
            avcodec.av_packet_unref(packet.get());
        }
        return contents;
    }

    TempDir dir;
};

} // namespace

TEST_F(TranscodeTest, AnMp3CopiedIntoANewMp3KeepsItsFrames)
{
    const std::string input = dir.File("in.mp3");
    WriteSineMp3(input, 3.0);
    ASSERT_TRUE(Convert(input, dir.File("out.mp3"), "", "acodec=copy")) << engine.ErrorMessage;
    const Contents in = Read(input), out = Read(dir.File("out.mp3"));
    ASSERT_EQ(out.packets.size(), 1u);
    EXPECT_EQ(out.codecs[0], AV_CODEC_ID_MP3);
    EXPECT_EQ(out.packets[0], in.packets[0]);
    EXPECT_NEAR(out.seconds[0], in.seconds[0], 1e-6);
    EXPECT_EQ(engine.ErrorOccurred, 0);
}
