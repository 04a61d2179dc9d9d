// Progress log, error log, error messages and Direct3D result names.
#include "kestra.h"
#include "scratch_dir.h"

#include <d3d8.h>

#include <regex>

namespace {

class LogTest : public ScratchDir {
protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        saved_verbose_ = verbose;
        memset(ksErrorLogPath, 0, sizeof(ksErrorLogPath));
    }
    void TearDown() override
    {
        verbose = saved_verbose_;
        memset(ksErrorLogPath, 0, sizeof(ksErrorLogPath));
        ScratchDir::TearDown();
    }
    void SetErrorLog(const std::string& name)
    {
        snprintf(ksErrorLogPath, sizeof(ksErrorLogPath), "%s/%s", dir_.c_str(), name.c_str());
    }
    int32_t saved_verbose_ = 0;
};

TEST_F(LogTest, LinesAreStampedAndAppendedAcrossRuns)
{
    // An earlier run's contents must survive: the engine never truncates the log.
    {
        std::ofstream earlier("ks.log");
        earlier << "earlier run\n";
    }
    KS_Log("first %d %s", 7, "x");
    KS_Log("second");
    std::string text = ReadFile("ks.log");
    std::regex form("earlier run\n"
                    "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] first 7 x\n"
                    "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] second\n");
    EXPECT_TRUE(std::regex_match(text, form)) << text;
}

TEST_F(LogTest, ErrorLogFormsAndSilence)
{
    // Empty path: nothing anywhere.
    KS_LogError("Start Path", "/x");
    KS_ReportError(KSERR_TEXTURE_ARRAY_FULL, "a.tga");

    SetErrorLog("errors.txt");
    KS_LogError("Start Path", nullptr);
    KS_LogError("User Path", "/home/u");
    KS_ReportError(KSERR_TEXTURE_ARRAY_FULL, "a.tga");
    KS_ReportError(KSERR_OK, nullptr);
    KS_ReportError(-8, "never");
    KS_ReportError(KSERR_MATERIAL_NOT_FOUND, "never");
    KS_ReportError(5, "never");
    KS_ReportError(KSERR_SHADETABLE_LOAD, "s");
    EXPECT_EQ(ReadFile("errors.txt"),
              "Start Path\n"
              "User Path (/home/u)\n"
              "Texture array is full (a.tga)\n"
              "Generic Success message\n"
              "Error loading the shadetable (s)\n");
    EXPECT_FALSE(Exists("ks.log"));
}

TEST(D3DErrorName, NamesMatchTheDeviceResultCodes)
{
    // Each failure is named by its macro in the Direct3D header (taken from the header here, not
    // written out again); success keeps its old name.
#define KS_RESULT(code) {code, #code}
    const struct {
        HRESULT code;
        const char* name;
    } rows[] = {
        KS_RESULT(D3DERR_WRONGTEXTUREFORMAT), KS_RESULT(D3DERR_UNSUPPORTEDCOLOROPERATION),
        KS_RESULT(D3DERR_UNSUPPORTEDCOLORARG), KS_RESULT(D3DERR_UNSUPPORTEDALPHAOPERATION),
        KS_RESULT(D3DERR_UNSUPPORTEDALPHAARG), KS_RESULT(D3DERR_TOOMANYOPERATIONS),
        KS_RESULT(D3DERR_CONFLICTINGTEXTUREFILTER), KS_RESULT(D3DERR_UNSUPPORTEDFACTORVALUE),
        KS_RESULT(D3DERR_CONFLICTINGRENDERSTATE), KS_RESULT(D3DERR_UNSUPPORTEDTEXTUREFILTER),
        KS_RESULT(D3DERR_CONFLICTINGTEXTUREPALETTE), KS_RESULT(D3DERR_DRIVERINTERNALERROR),
        KS_RESULT(D3DERR_NOTFOUND), KS_RESULT(D3DERR_MOREDATA), KS_RESULT(D3DERR_DEVICELOST),
        KS_RESULT(D3DERR_DEVICENOTRESET), KS_RESULT(D3DERR_NOTAVAILABLE), KS_RESULT(D3DERR_OUTOFVIDEOMEMORY),
        KS_RESULT(D3DERR_INVALIDDEVICE), KS_RESULT(D3DERR_INVALIDCALL), KS_RESULT(D3DERR_DRIVERINVALIDCALL),
    };
#undef KS_RESULT
    for (const auto& row : rows)
        EXPECT_STREQ(KS_D3DErrorName(row.code), row.name) << std::hex << (uint32_t)row.code;
    EXPECT_STREQ(KS_D3DErrorName(D3D_OK), "DD_OK");

    // A code between two rows, an unrelated failure and a positive value are not tabled.
    EXPECT_STREQ(KS_D3DErrorName((HRESULT)0x88760820u), "Unknown Error Code");
    EXPECT_STREQ(KS_D3DErrorName((HRESULT)0x8007000Eu), "Unknown Error Code");
    EXPECT_STREQ(KS_D3DErrorName(1), "Unknown Error Code");
}

}  // namespace
