#include "libs/StreamDecoding.h"

#include "libs/AVDeleters.h"

namespace avlib {

bool DecodeStream(AVFormatContext *input, int index, AVCodecContext *decoder,
                  const std::function<void(AVFrame *)> &onFrame)
{
    const AVPacketPtr packet(avcodec.av_packet_alloc());
    const AVFramePtr frame(avutil.av_frame_alloc());
    if (!packet || !frame)
        return false;
    const auto receive = [&] {
        while (avcodec.avcodec_receive_frame(decoder, frame.get()) >= 0) {
            onFrame(frame.get());
            avutil.av_frame_unref(frame.get());
        }
    };
    while (avformat.av_read_frame(input, packet.get()) >= 0) {
        if (packet->stream_index == index && avcodec.avcodec_send_packet(decoder, packet.get()) >= 0)
            receive();
        avcodec.av_packet_unref(packet.get());
    }
    avcodec.avcodec_send_packet(decoder, nullptr);
    receive();
    return true;
}

} // namespace avlib
