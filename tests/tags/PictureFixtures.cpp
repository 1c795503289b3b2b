#include "tests/tags/PictureFixtures.h"

#include "libs/AVDeleters.h"
#include "libs/AVEntryPoints.h"

#include <stdexcept>

using namespace avlib;

namespace tagtest {

std::vector<unsigned char> EncodePicture(const std::string &encoder, int width, int height)
{
    const AVCodec *codec = avcodec.avcodec_find_encoder_by_name(encoder.c_str());
    if (!codec)
        throw std::runtime_error("no encoder " + encoder);
    AVCodecContextPtr context(avcodec.avcodec_alloc_context3(codec));
    context->width = width;
    context->height = height;
    context->time_base = AVRational{1, 25};
    context->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_RGB24;
    if (avcodec.avcodec_open2(context.get(), codec, nullptr) < 0)
        throw std::runtime_error("opening encoder " + encoder);
    AVFramePtr frame(avutil.av_frame_alloc());
    frame->format = context->pix_fmt;
    frame->width = width;
    frame->height = height;
    if (avutil.av_frame_get_buffer(frame.get(), 0) < 0)
        throw std::runtime_error("allocating a picture for " + encoder);
    // A pattern over every plane, whatever the pixel format.
    for (int plane = 0; plane < AV_NUM_DATA_POINTERS && frame->buf[plane]; ++plane)
        for (size_t i = 0; i < frame->buf[plane]->size; ++i)
            frame->buf[plane]->data[i] = static_cast<uint8_t>(i * 7 + plane * 50);
    frame->pts = 0;
    AVPacketPtr packet(avcodec.av_packet_alloc());
    std::vector<unsigned char> bytes;
    if (avcodec.avcodec_send_frame(context.get(), frame.get()) < 0 ||
        avcodec.avcodec_send_frame(context.get(), nullptr) < 0)
        throw std::runtime_error("encoding with " + encoder);
    while (avcodec.avcodec_receive_packet(context.get(), packet.get()) >= 0) {
        bytes.insert(bytes.end(), packet->data, packet->data + packet->size);
        avcodec.av_packet_unref(packet.get());
    }
    if (bytes.empty())
        throw std::runtime_error(encoder + " gave no picture");
    return bytes;
}

std::vector<unsigned char> PaddedPng(size_t size)
{
    std::vector<unsigned char> bytes = EncodePicture("png");
    bytes.resize(size, 0);
    return bytes;
}

} // namespace tagtest
