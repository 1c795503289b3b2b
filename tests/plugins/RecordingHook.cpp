// A test plug-in with all three entry points. It keeps a journal of its calls, readable through
// HookJournal, and edits plane 0 of each picture: "-set N" stores N, "-mul N" multiplies by N.
// "-fail" makes Configure refuse.
#include "libs/VideoHook.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

struct Context {
    int id;
    int set = -1;
    int mul = 1;
};

std::mutex journalLock;
std::string journal;
int nextId = 1;

void Note(const std::string &line)
{
    std::lock_guard<std::mutex> lock(journalLock);
    journal += line + "\n";
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) const char *HookJournal(void)
{
    static std::string copy;
    std::lock_guard<std::mutex> lock(journalLock);
    copy = journal;
    return copy.c_str();
}

__attribute__((visibility("default"))) int Configure(void **ctx, int argc, char *argv[])
{
    std::string line = "configure argc=" + std::to_string(argc);
    for (int i = 0; i < argc; ++i)
        line += std::string(" [") + argv[i] + "]";
    if (argv[argc] != nullptr)
        line += " argv-not-terminated";
    auto *context = new Context{nextId++};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-fail") == 0) {
            Note(line + " refused");
            delete context;
            return 1;
        }
        if (std::strcmp(argv[i], "-set") == 0 && i + 1 < argc)
            context->set = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "-mul") == 0 && i + 1 < argc)
            context->mul = std::atoi(argv[++i]);
    }
    Note(line + " id=" + std::to_string(context->id));
    *ctx = context;
    return 0;
}

__attribute__((visibility("default"))) void Process(void *ctx, THookPicture *picture, int pixFmt, int width, int height,
                                                    int64_t pts)
{
    auto *context = static_cast<Context *>(ctx);
    Note("process id=" + std::to_string(context->id) + " fmt=" + std::to_string(pixFmt) + " " + std::to_string(width) +
         "x" + std::to_string(height) + " pts=" + std::to_string(pts));
    for (int y = 0; y < height; ++y) {
        uint8_t *row = picture->data[0] + y * picture->linesize[0];
        for (int x = 0; x < width; ++x) {
            if (context->set >= 0)
                row[x] = static_cast<uint8_t>(context->set);
            row[x] = static_cast<uint8_t>(row[x] * context->mul);
        }
    }
}

__attribute__((visibility("default"))) void Release(void *ctx)
{
    auto *context = static_cast<Context *>(ctx);
    Note("release id=" + std::to_string(context->id));
    delete context;
}

} // extern "C"
