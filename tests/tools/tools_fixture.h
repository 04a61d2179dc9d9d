// Runs a data builder into a scratch directory and reads back what it wrote.
#ifndef TOOLS_FIXTURE_H
#define TOOLS_FIXTURE_H

#include <gtest/gtest.h>
#include "test_common.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// A whole file; empty when it cannot be read.
inline Bytes Read(const std::string& path) {
    Bytes bytes;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        for (int c; (c = fgetc(f)) != EOF;) bytes.push_back((uint8_t)c);
        fclose(f);
    }
    return bytes;
}

class BuilderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.Make("tools"));
        directory = scratch.path;
    }
    void TearDown() override { scratch.Remove(); }
    std::string Path(const std::string& name) const { return directory + "/" + name; }

    // Runs `tool` with its arguments and `output` (in the scratch directory) last; the output's path.
    std::string Run(const std::string& tool, const std::string& arguments, const std::string& output) const {
        std::string path = Path(output);
        std::string command = "'" + tool + "' " + arguments + " '" + path + "'";
        EXPECT_EQ(0, system(command.c_str())) << command;
        return path;
    }

    ScratchFolder scratch;
    std::string directory;
};

#endif
