#pragma once

// One answer to every question of an import, for tests that do not script them.

#include "engine/Import.h"

#include <gtest/gtest.h>

#include <string>

namespace dwtest {

// No and Yes answer every yes/no question so, silently; with Unexpected any question or message
// fails the test. A name question is always cancelled.
enum class Answer { No, Yes, Unexpected };

struct Answers : dw::ImportQuestions {
    explicit Answers(Answer answer = Answer::No) : answer_(answer) {}
    bool askName(std::string&) override { return false; }
    bool askYesNo(const std::string& question) override {
        if (answer_ == Answer::Unexpected)
            ADD_FAILURE() << "asked " << question;
        return answer_ == Answer::Yes;
    }
    void tell(const std::string& message) override {
        if (answer_ == Answer::Unexpected)
            ADD_FAILURE() << "told " << message;
    }

private:
    Answer answer_;
};

} // namespace dwtest
