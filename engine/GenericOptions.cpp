// Library options by name: collected on the default contexts, replayed onto new contexts.
#include "engine/FFmpeg.h"

#include "engine/OptionValues.h"
#include "libs/AVEntryPoints.h"

using namespace avlib;

namespace {

// Sets name on context when the context knows it; the option, or nullptr when it is unknown
// there or refuses the value.
const AVOption *SetOn(void *context, const std::string &name, const std::string &value, int typeFlags = 0)
{
    if (!context)
        return nullptr;
    const AVOption *option = avutil.av_opt_find(context, name.c_str(), nullptr, typeFlags, 0);
    if (!option)
        return nullptr;
    return avutil.av_opt_set(context, name.c_str(), value.c_str(), 0) >= 0 ? option : nullptr;
}

// True when some codec's or format's own options know the name but the generic ones do not
// (a generic option whose value was refused stays refused).
bool OnlyInChildren(const AVClass **parent, const std::string &name)
{
    return avutil.av_opt_find2(parent, name.c_str(), nullptr, 0, AV_OPT_SEARCH_CHILDREN | AV_OPT_SEARCH_FAKE_OBJ,
                               nullptr) &&
           !avutil.av_opt_find2(parent, name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr);
}

// True when some context the options go to knows the name, whatever the value.
bool KnownName(const TCustomFFmpeg &e, const std::string &name)
{
    const auto knows = [](void *context, const std::string &option) {
        return context && avutil.av_opt_find(context, option.c_str(), nullptr, 0, 0);
    };
    for (const auto &context : e.CodecDefaults)
        if (knows(context.get(), name) || (name.size() > 1 && std::string("avs").find(name[0]) != std::string::npos &&
                                           knows(context.get(), name.substr(1))))
            return true;
    if (knows(e.FormatDefaults.get(), name) || knows(e.ScalerDefaults.get(), name))
        return true;
    const AVClass *codecs = avcodec.avcodec_get_class();
    const AVClass *formats = avformat.avformat_get_class();
    return OnlyInChildren(&codecs, name) || OnlyInChildren(&formats, name);
}

} // namespace

bool TCustomFFmpeg::SetCodecOption(const std::string &name, const std::string &value)
{
    AVCodecContext *video = CodecDefaults[mkVideo].get();
    if (!video || Trim(name).empty())
        return false; // no job prepared, or no option at all
    // Left out, as every option nothing takes; the caller may want to know.
    const auto reject = [&] {
        RejectedOptions.push_back({name, value, !KnownName(*this, name)});
        return false;
    };
    if (Trim(value).empty())
        return reject();

    // Each media type whose options carry the name takes the value; the last one decides.
    static constexpr int kTypeFlags[] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                         AV_OPT_FLAG_SUBTITLE_PARAM, 0};
    const AVOption *accepted = nullptr;
    for (size_t kind = 0; kind < CodecDefaults.size(); ++kind) {
        if (avutil.av_opt_find(video, name.c_str(), nullptr, kTypeFlags[kind], 0))
            accepted = SetOn(CodecDefaults[kind].get(), name, value);
    }
    if (!accepted)
        accepted = SetOn(FormatDefaults.get(), name, value);
    if (!accepted)
        accepted = SetOn(ScalerDefaults.get(), name, value);
    if (!accepted && (name[0] == 'a' || name[0] == 'v' || name[0] == 's')) {
        const TMediaKind kind = name[0] == 'a' ? mkAudio : name[0] == 'v' ? mkVideo : mkSubtitle;
        accepted = SetOn(CodecDefaults[kind].get(), name.substr(1), value);
    }
    if (!accepted) {
        // An option of some encoder of its own (such as "joint_stereo"): handed to the encoders
        // when the run opens them; an encoder without it leaves it alone.
        const AVClass *codecs = avcodec.avcodec_get_class();
        if (OnlyInChildren(&codecs, name)) {
            CodecPrivateOptions.emplace_back(name, value);
            return true;
        }
        // An option of some muxer of its own (such as "muxrate"): kept for the outputs to come.
        const AVClass *formats = avformat.avformat_get_class();
        if (!OnlyInChildren(&formats, name))
            return reject();
        MuxerOptions.emplace_back(name, value);
        return true;
    }

    GenericOptionNames.emplace_back(accepted->name);
    if (video->debug != 0 || (FormatDefaults && FormatDefaults->debug != 0))
        SetVerbose(2);
    return true;
}

bool TCustomFFmpeg::SetCodecOptionInt(const std::string &name, int32_t value)
{
    return SetCodecOption(name, std::to_string(value));
}

void TCustomFFmpeg::ApplyGenericOptions(void *target, void *defaults, int flags)
{
    if (!target || !defaults)
        return;
    for (const std::string &name : GenericOptionNames) {
        const AVOption *option = avutil.av_opt_find(defaults, name.c_str(), nullptr, 0, 0);
        if (!option || (option->flags & flags) != flags)
            continue;
        uint8_t *text = nullptr;
        if (avutil.av_opt_get(defaults, name.c_str(), 0, &text) >= 0 && text)
            avutil.av_opt_set(target, name.c_str(), reinterpret_cast<const char *>(text), 0);
        avutil.av_free(text);
    }
}

void TCustomFFmpeg::NoteOptionsOutputLeavesOut(AVFormatContext *output, int fileIndex)
{
    const auto note = [this](const std::string &name, const std::string &value, bool unknownName) {
        for (const TRejectedOption &noted : RejectedOptions)
            if (noted.Name == name && noted.Value == value)
                return;
        RejectedOptions.push_back({name, value, unknownName});
    };
    // Options of single encoders: left out when no encoder of this output takes them.
    for (const auto &[name, value] : CodecPrivateOptions) {
        bool known = false, taken = false;
        for (const TOutputStreamCodec &stream : OutputCodecs[fileIndex]) {
            if (stream.StreamCopy || !stream.Context)
                continue;
            const AVCodec *encoder = avcodec.avcodec_find_encoder(stream.Context->codec_id);
            AVCodecContextPtr trial(encoder ? avcodec.avcodec_alloc_context3(encoder) : nullptr);
            if (!trial || !trial->priv_data || !avutil.av_opt_find(trial->priv_data, name.c_str(), nullptr, 0, 0))
                continue;
            known = true;
            taken = taken || avutil.av_opt_set(trial->priv_data, name.c_str(), value.c_str(), 0) >= 0;
        }
        if (!taken)
            note(name, value, !known);
    }
    // Options of single muxers: the same for this output's muxer.
    for (const auto &[name, value] : MuxerOptions) {
        if (!output->priv_data || !avutil.av_opt_find(output->priv_data, name.c_str(), nullptr, 0, 0))
            note(name, value, true);
        else if (avutil.av_opt_set(output->priv_data, name.c_str(), value.c_str(), 0) < 0)
            note(name, value, false);
    }
}
