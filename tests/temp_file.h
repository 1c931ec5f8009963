#pragma once
// Scratch file names for tests. CTest runs each test case as its own process, several at once, so a
// fixed name under the temp folder would let two cases overwrite each other's file mid-read; the
// process id keeps every case's files apart.

#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

inline std::string temp_file(const std::string& name) {
    return testing::TempDir() + "/orvalis-" + std::to_string(::getpid()) + "-" + name;
}
