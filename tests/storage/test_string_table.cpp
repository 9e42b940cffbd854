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

// The texts that reach files byte for byte, those whose form the shell takes apart (tab
// before the key name, line break before the tooltip), and the commands' entries and prompts.
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
        TextCase{IDS_COL_FINISH_TIME, "Finish time"}, TextCase{0, ""}, TextCase{32786, ""},
        TextCase{130, "Kill process\tDel"}, TextCase{138, "Disable process"},
        TextCase{149, "View Event Log\tCtrl+L"}, TextCase{20400, "Find...\tCtrl+F"},
        TextCase{131, "Show ToolBar"}, TextCase{132, "Show StatusBar"},
        TextCase{139, "Write Event Log"}, TextCase{145, "Minimize at start"},
        TextCase{168, "Help\tF1"}, TextCase{133, "About Orvane..."}, TextCase{151, "Open"},
        TextCase{32772, "Kill process"}, TextCase{32777, "Disable process"},
        TextCase{32778, "On/Off Event Log"}, TextCase{32779, "Minimize to tray at start"},
        TextCase{32792, "Show Event Log"}, TextCase{32797, "Show user's manual"},
        TextCase{20401, "Find a process by its name, PID or path"},
        TextCase{59392, "Show/Hide ToolBar\nShow/Hide ToolBar"}),
    [](const auto& c) { return "Id" + std::to_string(c.param.id); });
