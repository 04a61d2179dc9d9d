// kernel32: modules over the dynamic loader, time and the virtual clock, debug output, the
// version query, last-error codes, the current directory and the lstr* string helpers.
#include "w32_internal.h"

#include <marlix_platform.h>

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>

namespace {

thread_local DWORD t_lastError = 0;

// ---------------------------------------------------------------------------------------------
// Virtual clock

struct Clock {
    std::mutex mutex;
    bool enabled = false;
    int64_t value = 0;
    int64_t step = 10;
};

Clock& C() {
    static Clock* c = new Clock;
    return *c;
}

int64_t MonotonicCounts() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * MARLIX_CLOCK_FREQUENCY + ts.tv_nsec / (1000000000 / MARLIX_CLOCK_FREQUENCY);
}

// ---------------------------------------------------------------------------------------------
// Debug output log

struct DebugLog {
    std::mutex mutex;
    std::deque<std::string> lines;
};

DebugLog& D() {
    static DebugLog* d = new DebugLog;
    return *d;
}

constexpr size_t kDebugLogSize = 256;
thread_local std::string t_debugText;

// ---------------------------------------------------------------------------------------------
// Modules

std::string FromWindowsPath(const char* path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    return p;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LowerCase(std::string s) {
    for (char& c : s) c = (char)tolower((unsigned char)c);
    return s;
}

std::string PlatformLibraryPath() {
    Dl_info info;
    if (dladdr((void*)&LoadLibraryA, &info) && info.dli_fname) return info.dli_fname;
    return std::string();
}

// Windows system libraries whose functions this library provides itself.
bool IsProvidedSystemLibrary(const std::string& lowerBase) {
    static const char* const names[] = {"d3d8", "kernel32", "user32", "gdi32"};
    for (const char* n : names) {
        std::string s = n;
        if (lowerBase == s || lowerBase == s + ".dll") return true;
    }
    return false;
}

bool LooksLikeWindowsLibrary(const std::string& lowerBase) {
    if (lowerBase.size() > 4 && lowerBase.compare(lowerBase.size() - 4, 4, ".dll") == 0) return true;
    return lowerBase.find('.') == std::string::npos;  // Windows appends ".dll" to a bare name
}

// The loader's list of loaded objects; a dlopen handle is one of its entries.
link_map* FirstLoaded() {
    void* self = dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
    if (!self) return nullptr;
    link_map* map = nullptr;
    if (dlinfo(self, RTLD_DI_LINKMAP, &map) != 0) map = nullptr;
    dlclose(self);
    while (map && map->l_prev) map = map->l_prev;
    return map;
}

link_map* LoadedEntry(HMODULE module) {
    for (link_map* m = FirstLoaded(); m; m = m->l_next)
        if ((void*)m == (void*)module) return m;
    return nullptr;
}

std::string ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return std::string();
    buf[n] = 0;
    return buf;
}

}  // namespace

namespace w32 {

void ResetClock() {
    std::lock_guard<std::mutex> g(C().mutex);
    C().enabled = false;
    C().value = 0;
    C().step = 10;
}

}  // namespace w32

// ---------------------------------------------------------------------------------------------
// Errors

extern "C" DWORD WINAPI GetLastError(void) { return t_lastError; }
extern "C" void WINAPI SetLastError(DWORD code) { t_lastError = code; }

// ---------------------------------------------------------------------------------------------
// Time

extern "C" BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = MARLIX_CLOCK_FREQUENCY;
    return TRUE;
}

extern "C" BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* counter) {
    if (!counter) return FALSE;
    {
        std::lock_guard<std::mutex> g(C().mutex);
        if (C().enabled) {
            C().value += C().step;
            counter->QuadPart = C().value;
            return TRUE;
        }
    }
    counter->QuadPart = MonotonicCounts();
    return TRUE;
}

extern "C" DWORD WINAPI GetTickCount(void) {
    {
        std::lock_guard<std::mutex> g(C().mutex);
        if (C().enabled) return (DWORD)(uint64_t)(C().value / (MARLIX_CLOCK_FREQUENCY / 1000));
    }
    return (DWORD)(uint64_t)(MonotonicCounts() / (MARLIX_CLOCK_FREQUENCY / 1000));
}

extern "C" void WINAPI Sleep(DWORD milliseconds) {
    {
        std::lock_guard<std::mutex> g(C().mutex);
        if (C().enabled) {
            if (milliseconds != INFINITE) C().value += (int64_t)milliseconds * (MARLIX_CLOCK_FREQUENCY / 1000);
            milliseconds = 0;
        }
    }
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec ts = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
}

static void FillTime(LPSYSTEMTIME out, bool local) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t t = ts.tv_sec;
    struct tm tm;
    if (local)
        localtime_r(&t, &tm);
    else
        gmtime_r(&t, &tm);
    out->wYear = (WORD)(tm.tm_year + 1900);
    out->wMonth = (WORD)(tm.tm_mon + 1);
    out->wDayOfWeek = (WORD)tm.tm_wday;
    out->wDay = (WORD)tm.tm_mday;
    out->wHour = (WORD)tm.tm_hour;
    out->wMinute = (WORD)tm.tm_min;
    out->wSecond = (WORD)tm.tm_sec;
    out->wMilliseconds = (WORD)(ts.tv_nsec / 1000000);
}

extern "C" void WINAPI GetLocalTime(LPSYSTEMTIME out) {
    if (out) FillTime(out, true);
}

extern "C" void WINAPI GetSystemTime(LPSYSTEMTIME out) {
    if (out) FillTime(out, false);
}

extern "C" void MarlixClockEnable(int enable) {
    std::lock_guard<std::mutex> g(C().mutex);
    if (enable && !C().enabled) {
        if (C().value == 0) C().value = MARLIX_CLOCK_FREQUENCY;
        C().step = 10;
    }
    C().enabled = enable != 0;
}

extern "C" int MarlixClockEnabled(void) {
    std::lock_guard<std::mutex> g(C().mutex);
    return C().enabled ? 1 : 0;
}

extern "C" void MarlixClockSetStep(int64_t countsPerRead) {
    std::lock_guard<std::mutex> g(C().mutex);
    C().step = std::max<int64_t>(0, countsPerRead);
}

extern "C" void MarlixClockAdvance(int64_t counts) {
    std::lock_guard<std::mutex> g(C().mutex);
    if (counts > 0) C().value += counts;
}

extern "C" int64_t MarlixClockRead(void) {
    std::lock_guard<std::mutex> g(C().mutex);
    return C().value;
}

// ---------------------------------------------------------------------------------------------
// Debug output

extern "C" void WINAPI OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    const char* env = getenv("MARLIX_DEBUG_OUTPUT");
    if (env && *env) {
        fputs(text, stderr);
        fflush(stderr);
    }
    std::lock_guard<std::mutex> g(D().mutex);
    D().lines.emplace_back(text);
    while (D().lines.size() > kDebugLogSize) D().lines.pop_front();
}

extern "C" int MarlixDebugOutputCount(void) {
    std::lock_guard<std::mutex> g(D().mutex);
    return (int)D().lines.size();
}

// The text is copied for the calling thread, so a later OutputDebugStringA cannot pull it away.
extern "C" const char* MarlixDebugOutputText(int index) {
    std::lock_guard<std::mutex> g(D().mutex);
    if (index < 0 || (size_t)index >= D().lines.size()) return nullptr;
    t_debugText = D().lines[(size_t)index];
    return t_debugText.c_str();
}

extern "C" void MarlixDebugOutputClear(void) {
    std::lock_guard<std::mutex> g(D().mutex);
    D().lines.clear();
}

// ---------------------------------------------------------------------------------------------
// Version: the stand-in reports Windows XP (NT 5.1, build 2600, Service Pack 3).

extern "C" BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != sizeof(OSVERSIONINFOEXA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = 5;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 2600;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
    strcpy(info->szCSDVersion, "Service Pack 3");
    if (size == sizeof(OSVERSIONINFOEXA)) {
        OSVERSIONINFOEXA* ex = (OSVERSIONINFOEXA*)info;
        ex->wServicePackMajor = 3;
        ex->wServicePackMinor = 0;
        ex->wSuiteMask = 0x0100;  // single-user terminal services, as a workstation reports
        ex->wProductType = 1;     // workstation
        ex->wReserved = 0;
    }
    return TRUE;
}

extern "C" DWORD WINAPI GetVersion(void) { return (2600u << 16) | (1u << 8) | 5u; }

// ---------------------------------------------------------------------------------------------
// Modules

extern "C" DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    std::string path;
    if (!module) {
        path = ExecutablePath();
    } else {
        link_map* entry = LoadedEntry(module);
        if (!entry) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        if (!entry->l_name || !entry->l_name[0]) {
            path = ExecutablePath();
        } else {
            char real[PATH_MAX];
            path = realpath(entry->l_name, real) ? real : entry->l_name;
        }
    }
    if (path.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < size) {
        memcpy(buffer, path.c_str(), path.size() + 1);
        return (DWORD)path.size();
    }
    // Too small: as current Windows does, the name is cut and still terminated.
    memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
    if (!name) {
        void* self = dlopen(nullptr, RTLD_LAZY);
        if (self) dlclose(self);  // the program stays loaded; the handle remains valid
        return (HMODULE)self;
    }
    std::string want = LowerCase(BaseName(FromWindowsPath(name)));
    std::string lookFor;
    if (IsProvidedSystemLibrary(want)) {
        lookFor = PlatformLibraryPath();
        void* h = dlopen(lookFor.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (h) dlclose(h);
        if (h) return (HMODULE)h;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    for (link_map* m = FirstLoaded(); m; m = m->l_next) {
        if (!m->l_name || !m->l_name[0]) continue;
        std::string base = LowerCase(BaseName(m->l_name));
        size_t dot = base.find('.');
        if (base == want || (want.find('.') == std::string::npos && dot != std::string::npos && base.substr(0, dot) == want))
            return (HMODULE)m;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR name) {
    if (!name || !name[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string path = FromWindowsPath(name);
    std::string lowerBase = LowerCase(BaseName(path));
    void* handle = nullptr;
    if (IsProvidedSystemLibrary(lowerBase)) {
        std::string self = PlatformLibraryPath();
        if (!self.empty()) handle = dlopen(self.c_str(), RTLD_NOW);
    } else if (LooksLikeWindowsLibrary(lowerBase) && path.find('/') == std::string::npos) {
        handle = nullptr;  // a system library this platform does not provide
    } else if (path.find('/') != std::string::npos) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    } else {
        // Like Windows: the program's directory first, then the current directory, then the
        // loader's own search.
        std::string exe = ExecutablePath();
        size_t slash = exe.find_last_of('/');
        if (slash != std::string::npos) handle = dlopen((exe.substr(0, slash + 1) + path).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle && access(path.c_str(), F_OK) == 0) handle = dlopen(("./" + path).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle) {
        const char* env = getenv("MARLIX_DEBUG_OUTPUT");
        const char* why = dlerror();
        if (env && *env) fprintf(stderr, "LoadLibraryA(%s) failed: %s\n", name, why ? why : "not provided");
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return (HMODULE)handle;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (!module || !LoadedEntry(module)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!name || IS_INTRESOURCE(name)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* p = dlsym((void*)module, name);
    if (!p) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return (FARPROC)p;
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE module) {
    if (!module || !LoadedEntry(module)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return dlclose((void*)module) == 0 ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------------------------
// Process, thread, directories

extern "C" DWORD WINAPI GetCurrentThreadId(void) { return (DWORD)syscall(SYS_gettid); }
extern "C" DWORD WINAPI GetCurrentProcessId(void) { return (DWORD)getpid(); }
extern "C" void WINAPI ExitProcess(UINT code) { exit((int)code); }

extern "C" DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof(cwd))) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    size_t n = strlen(cwd);
    if (!buffer || size <= n) return (DWORD)(n + 1);  // the size needed, terminator included
    memcpy(buffer, cwd, n + 1);
    return (DWORD)n;
}

extern "C" BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
    if (!path || !path[0]) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (chdir(FromWindowsPath(path).c_str()) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// lstr*: NULL is taken as an empty string, as kernel32 does.

extern "C" int WINAPI lstrlenA(LPCSTR s) { return s ? (int)strlen(s) : 0; }

extern "C" LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) return nullptr;
    return strcpy(dst, src);
}

extern "C" LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int max) {
    if (!dst || max <= 0) return dst;
    int i = 0;
    if (src)
        for (; i < max - 1 && src[i]; i++) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

extern "C" LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) return nullptr;
    return strcat(dst, src);
}

extern "C" int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
    int r = strcmp(a ? a : "", b ? b : "");
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

extern "C" int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
    int r = strcasecmp(a ? a : "", b ? b : "");
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}
