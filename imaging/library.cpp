// Library start-up and shutdown, and the module locks.

#include "imaging/convert/palette_map.h"
#include "imaging/image.h"
#include "imaging/module_lock.h"
#include "imaging/readers/reader_table.h"

namespace imaging {

namespace {

// Set once by platform_detect. There are no device section bitmaps on this
// platform, so images always keep their rows in plain memory.
bool g_use_section_bitmaps = false;

// Serialises the creation and deletion of module locks (a constant-initialised
// mutex, so it exists before any module can ask for its lock).
std::mutex g_creation_mutex;

}  // namespace

std::unique_lock<std::mutex> ModuleLock::acquire() {
    std::mutex* mutex;
    {
        std::lock_guard<std::mutex> guard(g_creation_mutex);
        if (mutex_ == nullptr) {
            mutex_ = new std::mutex;
        }
        mutex = mutex_;
    }
    return std::unique_lock<std::mutex>(*mutex);
}

void ModuleLock::destroy() {
    std::lock_guard<std::mutex> guard(g_creation_mutex);
    delete mutex_;
    mutex_ = nullptr;
}

bool ModuleLock::created() const {
    std::lock_guard<std::mutex> guard(g_creation_mutex);
    return mutex_ != nullptr;
}

void platform_detect() {
    g_use_section_bitmaps = false;
}

bool use_section_bitmaps() {
    return g_use_section_bitmaps;
}

// Every module that keeps a lock has a cleanup hook: the readers in the reader
// table, then the palette mapping. library_shutdown runs them from last to
// first.
void library_shutdown() {
    mapping_cleanup();
    const auto readers = raster_readers();
    for (auto reader = readers.rbegin(); reader != readers.rend(); ++reader) {
        if (reader->cleanup != nullptr) {
            reader->cleanup();
        }
    }
}

}  // namespace imaging
