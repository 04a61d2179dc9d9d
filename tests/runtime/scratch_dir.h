// Runs a test inside a fresh empty directory, so files the engine writes to the current directory
// (ks.log) never mix with other test programs' files.
#ifndef RUNTIME_SCRATCH_DIR_H
#define RUNTIME_SCRATCH_DIR_H

#include <gtest/gtest.h>
#include "test_common.h"

#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch_.Make("runtime"));
        ASSERT_TRUE(scratch_.Enter());
        dir_ = scratch_.path;
    }

    void TearDown() override { scratch_.Remove(); }

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

    ScratchFolder scratch_;
    std::string dir_;
};

#endif
