// The process-wide engine and updater link, installed by whoever provides them.
#include "engine_interface.h"
#include "updater_link.h"

namespace {
IDownloadEngine* g_engine = nullptr;
IUpdaterLink* g_updater = nullptr;
}  // namespace

IDownloadEngine* download_engine() {
    return g_engine;
}
void set_download_engine(IDownloadEngine* engine) {
    g_engine = engine;
}
IUpdaterLink* updater_link() {
    return g_updater;
}
void set_updater_link(IUpdaterLink* link) {
    g_updater = link;
}
