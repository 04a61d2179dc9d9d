// Runs a test inside a fresh empty directory, so files the engine writes to the current directory
// (ks.log) never mix with other test programs' files.
#ifndef RUNTIME_SCRATCH_DIR_H
#define RUNTIME_SCRATCH_DIR_H

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
        previous_ = cwd;
        char pattern[] = "/tmp/marlix_runtime_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }

    void TearDown() override
    {
        if (!previous_.empty())
            (void)chdir(previous_.c_str());
        if (!dir_.empty()) {
            std::string command = "rm -rf '" + dir_ + "'";
            (void)system(command.c_str());
        }
    }

    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static bool Exists(const std::string& path)
    {
        return access(path.c_str(), F_OK) == 0;
    }

    std::string dir_;
    std::string previous_;
};

#endif
