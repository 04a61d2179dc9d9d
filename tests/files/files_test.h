// Shared helpers of the file-layer tests: a scratch directory per test and files written there.
#ifndef FILES_TEST_H
#define FILES_TEST_H

#include <gtest/gtest.h>
#include <kestra.h>
#include <marlix_platform.h>

#include <stdint.h>
#include <string>
#include <vector>

// A fresh directory under /tmp, the memory tracker started, no library open; removed afterwards.
class FilesTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Path of a file in the scratch directory.
    std::string Path(const std::string& name) const;
    // Writes bytes to a file of the scratch directory and returns its path.
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::vector<uint8_t> Read(const std::string& path) const;

    std::string directory;
};

std::vector<uint8_t> Bytes(const std::string& text);

#endif
