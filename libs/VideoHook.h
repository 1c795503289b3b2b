/* The interface between the engine and a video hook plug-in: a shared object exporting
 * "Configure", "Process" and "Release" with C linkage. Plug-ins include this header. */
#ifndef VELOX_VIDEO_HOOK_H
#define VELOX_VIDEO_HOOK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One decoded picture: up to four planes with their row strides in bytes. */
typedef struct THookPicture {
    uint8_t *data[4];
    int linesize[4];
} THookPicture;

/* argv[0] is the plug-in file, switches follow; argv[argc] is NULL. argv lives only during the
 * call, the words it points to for the life of the process. Returns 0 on success. */
typedef int (*THookConfigure)(void **ctx, int argc, char *argv[]);
/* Edits the picture in place. pixFmt is the media library's pixel format number. */
typedef void (*THookProcess)(void *ctx, THookPicture *picture, int pixFmt, int width, int height, int64_t pts);
typedef void (*THookRelease)(void *ctx);

#ifdef __cplusplus
}
#endif

#endif
