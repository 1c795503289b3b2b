// Names of the library entry points the project calls, one list per binding unit.
// Each list is an X-macro: X(name) once per entry point, in resolution order.
// This header includes nothing, so a stand-in library can be built from the same lists.
#pragma once

#define VELOX_AVCODEC_ENTRY_POINTS(X)  \
    X(avcodec_version)                 \
    X(avcodec_alloc_context3)          \
    X(avcodec_free_context)            \
    X(avcodec_find_encoder)            \
    X(av_get_bits_per_sample)          \
    X(avcodec_find_encoder_by_name)    \
    X(avcodec_find_decoder)            \
    X(avcodec_find_decoder_by_name)    \
    X(avcodec_open2)                   \
    X(avcodec_send_frame)              \
    X(avcodec_receive_packet)          \
    X(avcodec_send_packet)             \
    X(avcodec_receive_frame)           \
    X(avcodec_parameters_from_context) \
    X(avcodec_parameters_to_context)   \
    X(avcodec_string)                  \
    X(avcodec_get_name)                \
    X(avcodec_descriptor_get)          \
    X(av_packet_alloc)                 \
    X(av_packet_free)                  \
    X(av_packet_unref)                 \
    X(av_packet_rescale_ts)            \
    X(av_bsf_get_by_name)              \
    X(av_bsf_alloc)                    \
    X(av_bsf_init)                     \
    X(av_bsf_send_packet)              \
    X(av_bsf_receive_packet)           \
    X(av_bsf_free)                     \
    X(avcodec_parameters_copy)         \
    X(av_packet_get_side_data)         \
    X(av_packet_ref)                   \
    X(av_new_packet)                   \
    X(avcodec_get_class)               \
    X(avcodec_decode_subtitle2)        \
    X(avsubtitle_free)                 \
    X(avcodec_encode_subtitle)         \
    X(avcodec_flush_buffers)           \
    X(av_packet_new_side_data)

#define VELOX_AVFILTER_ENTRY_POINTS(X) \
    X(avfilter_version)                \
    X(avfilter_get_by_name)            \
    X(avfilter_graph_alloc)            \
    X(avfilter_graph_free)             \
    X(avfilter_graph_create_filter)    \
    X(avfilter_graph_parse_ptr)        \
    X(avfilter_graph_config)           \
    X(avfilter_inout_alloc)            \
    X(avfilter_inout_free)             \
    X(avfilter_link)                   \
    X(av_buffersink_get_w)             \
    X(av_buffersink_get_h)             \
    X(av_buffersink_get_time_base)     \
    X(av_buffersink_get_frame)         \
    X(av_buffersrc_add_frame_flags)

#define VELOX_AVFORMAT_ENTRY_POINTS(X) \
    X(avformat_version)                \
    X(avformat_alloc_context)          \
    X(avformat_free_context)           \
    X(avformat_close_input)            \
    X(avio_closep)                     \
    X(avio_find_protocol_name)         \
    X(av_find_input_format)            \
    X(av_demuxer_iterate)              \
    X(av_match_ext)                    \
    X(av_guess_format)                 \
    X(avformat_open_input)             \
    X(avformat_find_stream_info)       \
    X(av_read_frame)                   \
    X(avio_size)                       \
    X(avformat_alloc_output_context2)  \
    X(avformat_new_stream)             \
    X(avio_open2)                      \
    X(avformat_write_header)           \
    X(av_interleaved_write_frame)      \
    X(av_write_trailer)                \
    X(av_guess_codec)                  \
    X(av_filename_number_test)         \
    X(av_dump_format)                  \
    X(av_seek_frame)                   \
    X(avformat_get_class)              \
    X(avio_seek)                       \
    X(av_pkt_dump_log2)                \
    X(av_sdp_create)                   \
    X(av_codec_get_id)                 \
    X(av_codec_get_tag)

#define VELOX_AVUTIL_ENTRY_POINTS(X) \
    X(avutil_version)                \
    X(av_log_get_level)              \
    X(av_log_set_level)              \
    X(av_free)                       \
    X(av_freep)                      \
    X(av_strdup)                     \
    X(av_log)                        \
    X(av_log_set_callback)           \
    X(av_log_default_callback)       \
    X(av_opt_find)                   \
    X(av_opt_find2)                  \
    X(av_opt_set)                    \
    X(av_opt_get)                    \
    X(av_opt_get_int)                \
    X(av_parse_time)                 \
    X(av_parse_video_size)           \
    X(av_parse_video_rate)           \
    X(av_get_pix_fmt)                \
    X(av_get_pix_fmt_string)         \
    X(av_pix_fmt_desc_get)           \
    X(av_get_sample_fmt)             \
    X(av_get_sample_fmt_string)      \
    X(av_get_sample_fmt_name)        \
    X(av_sample_fmt_is_planar)       \
    X(av_get_packed_sample_fmt)      \
    X(av_get_bytes_per_sample)       \
    X(av_samples_set_silence)        \
    X(av_compare_ts)                 \
    X(av_frame_unref)                \
    X(av_channel_layout_copy)        \
    X(av_frame_alloc)                \
    X(av_frame_free)                 \
    X(av_frame_get_buffer)           \
    X(av_channel_layout_default)     \
    X(av_channel_layout_describe)    \
    X(av_dict_set)                   \
    X(av_dict_get)                   \
    X(av_rescale_q)                  \
    X(av_gcd)                        \
    X(av_d2q)                        \
    X(av_reduce)                     \
    X(av_malloc)                     \
    X(av_mallocz)                    \
    X(av_opt_set_int)                \
    X(av_dict_free)                  \
    X(av_get_pix_fmt_name)           \
    X(av_gettime)                    \
    X(av_usleep)                     \
    X(av_get_picture_type_char)      \
    X(av_opt_set_bin)                \
    X(av_audio_fifo_alloc)           \
    X(av_audio_fifo_free)            \
    X(av_audio_fifo_write)           \
    X(av_audio_fifo_read)            \
    X(av_audio_fifo_size)            \
    X(av_strerror)                   \
    X(av_get_token)                  \
    X(av_image_get_buffer_size)      \
    X(av_image_fill_arrays)          \
    X(av_image_copy)                 \
    X(av_frame_make_writable)        \
    X(av_frame_ref)                  \
    X(av_frame_copy)                 \
    X(av_frame_copy_props)           \
    X(av_image_fill_max_pixsteps)    \
    X(av_frame_move_ref)             \
    X(av_rescale_q_rnd)

#define VELOX_SWSCALE_ENTRY_POINTS(X) \
    X(swscale_version)                \
    X(sws_getContext)                 \
    X(sws_getCachedContext)           \
    X(sws_scale)                      \
    X(sws_freeContext)

#define VELOX_SWRESAMPLE_ENTRY_POINTS(X) \
    X(swresample_version)                \
    X(swr_alloc_set_opts2)               \
    X(swr_init)                          \
    X(swr_free)                          \
    X(swr_convert)                       \
    X(swr_get_out_samples)               \
    X(swr_set_compensation)              \
    X(swr_set_matrix)

#define VELOX_MYUTIL_ENTRY_POINTS(X) \
    X(my_vsprintf)                   \
    X(my_fprintf)                    \
    X(my_snprintf)                   \
    X(my_fopen)                      \
    X(my_ftell)                      \
    X(my_fread)                      \
    X(my_fwrite)                     \
    X(my_fseek)                      \
    X(my_fclose)                     \
    X(my_strtok)                     \
    X(my_strtol)                     \
    X(my_strtod)
