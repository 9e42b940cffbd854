#include "storage/StringTable.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TextCase {
    unsigned id;
    const char* text;
};

class StringTable : public ::testing::TestWithParam<TextCase> {};

} // namespace

// The texts that reach files byte for byte, and those whose form the shell takes apart
// (tab before the key name, line break before the tooltip).
TEST_P(StringTable, ExactText)
{
    EXPECT_EQ(LoadString(GetParam().id), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, StringTable,
    ::testing::Values(
        TextCase{141, "Orvane started"}, TextCase{142, "Orvane finished"},
        TextCase{143, "Started process"}, TextCase{144, "Finished process"},
        TextCase{129, "Exit\tAlt+X"}, TextCase{148, "Disabled processes\tCtrl+D"},
        TextCase{57344, "Orvane v 1.1 XP"},
        TextCase{57664,
                 "Display information about program, version number and copyright\nAbout program"},
        TextCase{59393, "Show/Hide StatusBar\nShow/Hide StatusBar"},
        TextCase{32781, "Disabled processes's list"}, TextCase{57665, "Exit Orvane"},
        TextCase{150, "Warning! All events will be lost! Continue?"},
        TextCase{IDS_DLG_EMAIL_US, "Have any questions? Please EMAIL US!"},
        TextCase{IDS_COL_FINISH_TIME, "Finish time"}, TextCase{0, ""}, TextCase{32786, ""}),
    [](const auto& c) { return "Id" + std::to_string(c.param.id); });
