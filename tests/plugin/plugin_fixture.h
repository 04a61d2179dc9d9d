// Shared set-up of the plug-in shell tests: each test gets a folder of its own holding a copy of the
// built plug-in, whose instance handle goes into the module record, so marlix.ini lands there; the
// settings as at library load; and a stand-in host window that records what it receives.
#ifndef MARLIX_TEST_PLUGIN_FIXTURE_H
#define MARLIX_TEST_PLUGIN_FIXTURE_H

#include <gtest/gtest.h>

#include "test_common.h"
#include "vis.h"

#include <string>
#include <utility>
#include <vector>

struct RecordedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct FakeHost {
    std::vector<RecordedMessage> messages;  // WM_USER, WM_COMMAND and key messages, in order
    int position = 0;
    std::vector<std::string> titles;
    int claimedLength = -1;  // answer to the length request; -1: the number of titles
};

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string IniPath() const { return dir + "/marlix.ini"; }
    void WriteIni(const std::string& text) const;
    // key=value lines of the file in file order, section header left out.
    std::vector<std::pair<std::string, std::string>> IniEntries() const;
    // Delivers every queued message; true when WM_QUIT was among them.
    bool Pump();

    ScratchFolder scratch;
    std::string dir;
    std::string startDir;
    HMODULE library = NULL;
    HWND hostWindow = NULL;
    FakeHost host;
};

#endif
