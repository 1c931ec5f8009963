#pragma once
// Shared by the model file tests: parse damaged bytes and expect one kind of
// load error whose message names the file and says what is wrong.

#include <string>

#include <gtest/gtest.h>

#include "qvr/model_file.h"

template <typename Error>
void expect_load_refused(const std::string& bytes, const std::string& path, const std::string& fragment) {
    try {
        qvr::parse_model(bytes, path);
        FAIL() << "accepted a damaged model, expected a message containing '" << fragment << "'";
    } catch (const Error& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(path), std::string::npos) << message;
        EXPECT_NE(message.find(fragment), std::string::npos) << message;
    }
}
