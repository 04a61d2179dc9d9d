// Shared set-up of the plug-in shell tests: a folder of its own per test holding a copy of the built
// plug-in, whose instance handle the module record gets, so marlix.ini lands in that folder; the
// settings as they are at library load; and a recording stand-in for the host's main window.
#ifndef MARLIX_TEST_PLUGIN_FIXTURE_H
#define MARLIX_TEST_PLUGIN_FIXTURE_H

#include <gtest/gtest.h>

#include "vis.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct RecordedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// What the host window received and what it answers.
struct FakeHost {
    std::vector<RecordedMessage> messages;
    int playlistLength = 0;
    int position = 0;
    std::vector<std::string> titles;
};

class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string IniPath() const { return dir + "/marlix.ini"; }
    std::string ReadIni() const;
    void WriteIni(const std::string& text) const;
    // key=value lines of the file, in file order, without the section header.
    std::vector<std::pair<std::string, std::string>> IniEntries() const;
    // Delivers every queued message; true when WM_QUIT was among them.
    bool Pump();
    // The messages of one kind the host window got, in order.
    std::vector<RecordedMessage> HostGot(UINT message) const;

    std::string dir;
    std::string startDir;
    HMODULE library = NULL;
    HWND hostWindow = NULL;
    FakeHost host;
};

#endif
