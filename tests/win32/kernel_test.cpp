// kernel32 and user32 services other than windows: wsprintfA, message boxes, the clock, modules,
// version, debug output.
#include <gtest/gtest.h>

#include <marlix_platform.h>

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

class Services : public ::testing::Test {
protected:
    void SetUp() override {
        MarlixSetHeadless(1);
        MarlixResetWindows();
    }
    void TearDown() override { MarlixResetWindows(); }
};

std::string Format(const char* format, ...) {
    char buf[1100];
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(buf, format, args);
    va_end(args);
    EXPECT_EQ(n, (int)strlen(buf));
    return buf;
}

TEST_F(Services, WsprintfFormatsIntegersCharactersAndStrings) {
    EXPECT_EQ(Format("%d|%i|%u", -5, 7, -1), "-5|7|4294967295");
    EXPECT_EQ(Format("[%5d][%-5d][%05d][%05d]", 42, 42, 42, -42), "[   42][42   ][00042][-0042]");
    EXPECT_EQ(Format("%x %X %#x %08X", 255, 255, 255, 0xBEEF), "ff FF 0xff 0000BEEF");
    EXPECT_EQ(Format("%ld %lu %lx", (LONG)-3, (DWORD)3000000000u, (DWORD)0xABCDEF01u), "-3 3000000000 abcdef01");
    EXPECT_EQ(Format("%.3d", 5), "005");
    EXPECT_EQ(Format("%s|%.3s|%6s|%-6s|", "text", "abcdef", "ab", "ab"), "text|abc|    ab|ab    |");
    EXPECT_EQ(Format("%c%c %% %s", 'o', 'k', (const char*)NULL), "ok % (null)");
    // No floating point: the conversion takes no argument and leaves its letter.
    EXPECT_EQ(Format("%4.2f|%d", 7), "f|7");
    EXPECT_EQ(Format("%I64d %I64X", (long long)-1234567890123LL, (unsigned long long)0x12345 << 32 | 0x67890a),
              "-1234567890123 123450067890A");
}

TEST_F(Services, WsprintfStopsAt1024Characters) {
    std::string big(2000, 'x');
    char buf[1100];
    memset(buf, 'z', sizeof(buf));
    int n = wsprintfA(buf, "%s%s", big.c_str(), "tail");
    EXPECT_EQ(n, 1023);
    EXPECT_EQ(strlen(buf), 1023u);
    EXPECT_EQ(buf[1024], 'z');
}

TEST_F(Services, MessageBoxesAreLoggedAndAnswered) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "Owner";
    ASSERT_TRUE(RegisterClassA(&wc));
    HWND owner = CreateWindowExA(0, "Owner", "o", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(owner);

    EXPECT_EQ(MessageBoxA(owner, "Error creating window", "hmmm", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(owner, "Fatal", NULL, MB_ICONERROR | MB_SYSTEMMODAL | MB_SETFOREGROUND), IDOK);
    EXPECT_EQ(MessageBoxA(NULL, "Again?", "Q", MB_YESNO | MB_DEFBUTTON2), IDNO);
    ASSERT_EQ(MarlixMessageBoxCount(), 3);
    EXPECT_STREQ(MarlixMessageBoxText(0), "Error creating window");
    EXPECT_STREQ(MarlixMessageBoxCaption(0), "hmmm");
    EXPECT_EQ(MarlixMessageBoxOwner(0), owner);
    EXPECT_EQ(MarlixMessageBoxStyle(1), 0x11010u);
    EXPECT_STREQ(MarlixMessageBoxCaption(1), "Error");
    EXPECT_EQ(MarlixMessageBoxCaptionGiven(1), 0);
    EXPECT_EQ(MarlixMessageBoxCaptionGiven(0), 1);

    MarlixMessageBoxSetAnswer(IDCANCEL);
    EXPECT_EQ(MessageBoxA(NULL, "x", "y", MB_OKCANCEL), IDCANCEL);
    // An owner that is no longer a window: Windows shows nothing and returns 0.
    DestroyWindow(owner);
    EXPECT_EQ(MessageBoxA(owner, "late", "z", MB_OK), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(MarlixMessageBoxCount(), 5);
    MarlixMessageBoxClear();
    EXPECT_EQ(MarlixMessageBoxCount(), 0);
}

TEST_F(Services, VirtualClockMovesOnEveryReadAndOnSleep) {
    LARGE_INTEGER f, a, b;
    ASSERT_TRUE(QueryPerformanceFrequency(&f));
    EXPECT_EQ(f.QuadPart, MARLIX_CLOCK_FREQUENCY);
    MarlixClockEnable(1);
    int64_t start = MarlixClockRead();
    EXPECT_EQ(start, MARLIX_CLOCK_FREQUENCY);
    QueryPerformanceCounter(&a);
    QueryPerformanceCounter(&b);
    EXPECT_EQ(a.QuadPart, start + 10);
    EXPECT_EQ(b.QuadPart, a.QuadPart + 10);
    MarlixClockSetStep(0);
    QueryPerformanceCounter(&a);
    QueryPerformanceCounter(&b);
    EXPECT_EQ(a.QuadPart, b.QuadPart);
    MarlixClockAdvance(MARLIX_CLOCK_FREQUENCY / 60);
    QueryPerformanceCounter(&b);
    EXPECT_EQ(b.QuadPart - a.QuadPart, MARLIX_CLOCK_FREQUENCY / 60);
    DWORD t0 = GetTickCount();
    Sleep(1000);  // instant: it only moves the virtual clock
    EXPECT_EQ(GetTickCount() - t0, 1000u);
    EXPECT_EQ(MarlixClockRead() - b.QuadPart, MARLIX_CLOCK_FREQUENCY);

    // A tick wait of the usual shape ends, because reads move the clock.
    MarlixClockSetStep(1000);
    QueryPerformanceCounter(&a);
    int64_t target = a.QuadPart + MARLIX_CLOCK_FREQUENCY / 60;
    int reads = 0;
    do {
        QueryPerformanceCounter(&b);
        reads++;
    } while (b.QuadPart < target && reads < 1000000);
    EXPECT_EQ(reads, 167);

    MarlixClockEnable(0);
    QueryPerformanceCounter(&a);
    QueryPerformanceCounter(&b);
    EXPECT_GE(b.QuadPart, a.QuadPart);
}

TEST_F(Services, LibrariesLoadAndNameTheirFiles) {
    // The probe's D3D8.DLL is this platform library, in any spelling.
    HMODULE d3d = LoadLibraryA("D3D8.DLL");
    ASSERT_TRUE(d3d);
    HMODULE d3dLower = LoadLibraryA("d3d8.dll");
    EXPECT_EQ(d3dLower, d3d);
    Dl_info self;
    ASSERT_TRUE(dladdr((void*)&MarlixClockRead, &self));
    char real[PATH_MAX];
    ASSERT_TRUE(realpath(self.dli_fname, real));
    char name[MAX_PATH];
    DWORD n = GetModuleFileNameA(d3d, name, sizeof(name));
    EXPECT_EQ(n, strlen(real));
    EXPECT_STREQ(name, real);
    EXPECT_TRUE(GetProcAddress(d3d, "Direct3DCreate8"));  // what a DirectX probe looks for
    EXPECT_EQ(GetModuleHandleA("d3d8"), d3d);
    EXPECT_FALSE(GetProcAddress(d3d, "NoSuchFunction"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
    EXPECT_TRUE(FreeLibrary(d3dLower));
    EXPECT_TRUE(FreeLibrary(d3d));

    // Other system libraries are absent.
    SetLastError(0);
    EXPECT_FALSE(LoadLibraryA("DDRAW.DLL"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(LoadLibraryA("DINPUT.DLL"));

    // Any other library is dlopen'ed, and its real file is named.
    HMODULE png = LoadLibraryA("libpng16.so.16");
    ASSERT_TRUE(png) << "libpng16 is a dependency of the platform library";
    FARPROC version = GetProcAddress(png, "png_get_libpng_ver");
    ASSERT_TRUE(version);
    Dl_info pngInfo;
    ASSERT_TRUE(dladdr((void*)version, &pngInfo));
    ASSERT_TRUE(realpath(pngInfo.dli_fname, real));
    n = GetModuleFileNameA(png, name, sizeof(name));
    EXPECT_STREQ(name, real);
    EXPECT_EQ(GetModuleHandleA("libpng16.so.16"), png);

    // A short buffer: cut, terminated, the size returned and the error set.
    char small[8];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(png, small, sizeof(small)), 8u);
    EXPECT_EQ(std::string(small), std::string(real, 7));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(FreeLibrary(png));

    // NULL is the program; a handle that is no module is refused.
    char exe[PATH_MAX];
    ssize_t len = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    ASSERT_GT(len, 0);
    exe[len] = 0;
    EXPECT_EQ(GetModuleFileNameA(NULL, name, sizeof(name)), (DWORD)len);
    EXPECT_STREQ(name, exe);
    int notAModule = 0;
    EXPECT_EQ(GetModuleFileNameA((HMODULE)&notAModule, name, sizeof(name)), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
}

TEST_F(Services, VersionIsWindowsXpAndChecksTheRecordSize) {
    OSVERSIONINFOA v;
    memset(&v, 0, sizeof(v));
    v.dwOSVersionInfoSize = sizeof(v) - 1;
    EXPECT_FALSE(GetVersionExA(&v));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    v.dwOSVersionInfoSize = sizeof(v);
    ASSERT_TRUE(GetVersionExA(&v));
    EXPECT_EQ(v.dwPlatformId, (DWORD)VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(v.dwMajorVersion, 5u);
    EXPECT_EQ(v.dwMinorVersion, 1u);
    OSVERSIONINFOEXA ex;
    memset(&ex, 0, sizeof(ex));
    ex.dwOSVersionInfoSize = sizeof(ex);
    ASSERT_TRUE(GetVersionExA((OSVERSIONINFOA*)&ex));
    EXPECT_EQ(ex.wServicePackMajor, 3);
}

TEST_F(Services, DebugOutputIsKept) {
    OutputDebugStringA("Couldn't LoadLibrary DDraw\r\n");
    OutputDebugStringA(NULL);
    ASSERT_EQ(MarlixDebugOutputCount(), 1);
    EXPECT_STREQ(MarlixDebugOutputText(0), "Couldn't LoadLibrary DDraw\r\n");
    for (int i = 0; i < 300; i++) OutputDebugStringA("x");
    EXPECT_EQ(MarlixDebugOutputCount(), 256);
    MarlixDebugOutputClear();
    EXPECT_EQ(MarlixDebugOutputCount(), 0);
}

TEST_F(Services, CurrentDirectoryFollowsWindowsSizes) {
    char cwd[PATH_MAX];
    ASSERT_TRUE(getcwd(cwd, sizeof(cwd)));
    char buf[PATH_MAX];
    EXPECT_EQ(GetCurrentDirectoryA(sizeof(buf), buf), strlen(cwd));
    EXPECT_STREQ(buf, cwd);
    EXPECT_EQ(GetCurrentDirectoryA(2, buf), strlen(cwd) + 1);  // too small: the size needed
    EXPECT_FALSE(SetCurrentDirectoryA("/no/such/directory"));
    EXPECT_TRUE(SetCurrentDirectoryA("\\tmp"));
    ASSERT_TRUE(getcwd(buf, sizeof(buf)));
    EXPECT_STREQ(buf, "/tmp");
    ASSERT_EQ(chdir(cwd), 0);
}

}  // namespace
