#include "storage/StringTable.h"

#include "buildinfo/BuildInfo.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace {

struct StringEntry {
    unsigned id;
    std::string_view text;
};

// Kept in ascending order of id for the binary search below.
constexpr StringEntry kStrings[] = {
    {IDS_MENU_EXIT, "Exit\tAlt+X"},
    {IDS_MENU_KILL, "Kill process\tDel"},
    {IDS_MENU_SHOW_TOOLBAR, "Show ToolBar"},
    {IDS_MENU_SHOW_STATUSBAR, "Show StatusBar"},
    {IDS_MENU_ABOUT, "About Orvane..."},
    {IDS_FILE, "File"},
    {IDS_PROCESS, "Process"},
    {IDS_VIEW, "View"},
    {IDS_HELP, "Help"},
    {IDS_MENU_DISABLE, "Disable process"},
    {IDS_MENU_EVENTLOG_SWITCH, "Write Event Log"},
    {IDS_SETTINGS, "Settings"},
    {IDS_LOG_STARTED, "Orvane started"},
    {IDS_LOG_FINISHED, "Orvane finished"},
    {IDS_STARTED_PROCESS, "Started process"},
    {IDS_FINISHED_PROCESS, "Finished process"},
    {IDS_MENU_MINIMIZE_AT_START, "Minimize at start"},
    {IDS_ASK_KILL, "Kill selected process?"},
    {IDS_ASK_DISABLE, "Disable selected process?"},
    {IDS_MENU_DISABLED_LIST, "Disabled processes\tCtrl+D"},
    {IDS_MENU_VIEW_EVENTLOG, "View Event Log\tCtrl+L"},
    {IDS_ASK_CLEAR_LOG, "Warning! All events will be lost! Continue?"},
    {IDS_TRAY_OPEN, "Open"},
    {IDS_MENU_HELP, "Help\tF1"},
    {IDS_DLG_DISABLED_LIST_TITLE, "Disabled processes's list"},
    {IDS_DLG_CLOSE, "Close"},
    {IDS_DLG_DELETE, "Delete"},
    {IDS_DLG_EVENTLOG_TITLE, "Event Log"},
    {IDS_DLG_CLEAR, "Clear"},
    {IDS_DLG_SAVE, "Save"},
    {IDS_DLG_ABOUT_TITLE, "About Orvane"},
    {IDS_DLG_VISIT_WEB, "Visit us on the Web!"},
    {IDS_DLG_EMAIL_US, "Have any questions? Please EMAIL US!"},
    {IDS_COL_NAME, "Name"},
    {IDS_COL_PID, "PID"},
    {IDS_COL_START_TIME, "Start time"},
    {IDS_COL_FINISH_TIME, "Finish time"},
    {IDS_COL_CPU, "CPU"},
    {IDS_COL_FILE, "File"},
    {IDS_ERR_LOG_WRITE, "Event log entry not written:"},
    {IDS_ERR_SETTINGS_SAVE, "Settings not saved:"},
    {IDS_ERR_LOG_ON, "The event log cannot be written:"},
    {IDS_ERR_LOG_READ, "The event log cannot be read:"},
    {IDS_ERR_LOG_SAVE, "The event log was not saved:"},
    {IDS_ERR_LOG_CLEAR, "The event log was not cleared:"},
    {IDS_ERR_LIST_ADD, "The name was not added to the disabled list:"},
    {IDS_ERR_LIST_DELETE, "The entry was not deleted from the disabled list:"},
    {IDS_ERR_LIST_READ, "The disabled list cannot be read (the list read before stays in force):"},
    {IDS_ERR_SETTINGS_READ, "Settings not read (the defaults are used):"},
    {IDS_ERR_DATA_FOLDER, "The folder for the program's files cannot be created:"},
    {IDS_ERR_SIGNALS, "Signals to end the program cannot be caught (they end it unsaved):"},
    {IDS_ERR_NAME_NOT_STORABLE, "the list cannot hold a name containing \"|\" or a zero byte"},
    {IDS_ERR_LOG_BUSY, "the disk has not taken the log's earlier entries yet; try again later"},
    {IDS_MSG_TRAY_GONE, "The notification area has gone: the window is shown again"},
    {IDS_MSG_DESCRIPTORS_SHORT, "Running short of file descriptors (limit %1); every process is still watched"},
    {IDS_MSG_PRIVILEGE_GIVEN_UP, "CAP_KILL could not be dropped after a kill; all capabilities given up"},
    {IDS_MSG_PRIVILEGE_KEPT, "CAP_KILL could not be dropped after a kill; Orvane stops to let go of it"},
    {IDS_MSG_PROCESSES_HIDDEN, "/proc hides other users' processes (hidepid); only yours are listed"},
    {IDS_MSG_EXEC_WATCH, "Not every folder is watched for disabled programs (passes still find them):"},
    {IDS_MSG_LOG_DROPPED, "%1 event log entries were dropped: the disk did not take them in time"},
    {IDS_MSG_LOG_LOST, "%1 event log entries were lost: the disk did not take them before the end"},
    {IDS_MSG_WATCH_SERVICE, "Watching through the service orvaned: every process is seen as it starts"},
    {IDS_MSG_WATCH_POLLING, "The service orvaned does not answer: watching by reading /proc every half second"},
    {IDS_MSG_SERVICE_KILL, "The service did not kill process %1:"},
    {IDS_MENU_FIND, "Find...\tCtrl+F"},
    {IDS_CMD_FIND, "Find a process by its name, PID or path"},
    {IDS_FIND_LABEL, "Find:"},
    {IDS_FIND_NEXT, "Next"},
    {IDS_FIND_PREVIOUS, "Previous"},
    {IDS_FIND_MATCH_CASE, "Match case"},
    {IDS_FIND_NOT_FOUND, "Not found"},
    {IDS_FIND_WRAPPED_TOP, "Continued from the top"},
    {IDS_FIND_WRAPPED_BOTTOM, "Continued from the bottom"},
    {IDS_FIND_CLOSE, "Close the find bar (Esc)"},
    {IDS_CMD_KILL, "Kill process"},
    {IDS_CMD_DISABLE, "Disable process"},
    {IDS_CMD_EVENTLOG_SWITCH, "On/Off Event Log"},
    {IDS_CMD_MINIMIZE_AT_START, "Minimize to tray at start"},
    {IDS_CMD_DISABLED_LIST, "Disabled processes's list"},
    {IDS_CMD_VIEW_EVENTLOG, "Show Event Log"},
    {IDS_CMD_HELP, "Show user's manual"},
    {IDS_APP_TITLE, "Orvane v " ORVANE_VERSION_SHORT " XP"},
    {IDS_IDLE_MESSAGE, "Ready"},
    {IDS_CMD_ABOUT, "Display information about program, version number and copyright\n"
                    "About program"},
    {IDS_CMD_EXIT, "Exit Orvane"},
    {IDS_INDICATOR_CAPS, "CAP"},
    {IDS_INDICATOR_NUM, "NUM"},
    {IDS_INDICATOR_SCRL, "SCRL"},
    {IDS_CMD_VIEW_TOOLBAR, "Show/Hide ToolBar\nShow/Hide ToolBar"},
    {IDS_CMD_VIEW_STATUSBAR, "Show/Hide StatusBar\nShow/Hide StatusBar"},
};

constexpr bool IsAscending()
{
    for (std::size_t i = 1; i < std::size(kStrings); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id)
            return false;
    }
    return true;
}
static_assert(IsAscending(), "kStrings must stay sorted by id, without duplicates");

// The longest text the program shows.
constexpr std::size_t kMaxTextLength = 79;

} // namespace

std::string LoadString(unsigned id)
{
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                               [](const StringEntry& entry, unsigned key) { return entry.id < key; });
    if (it == std::end(kStrings) || it->id != id)
        return {};
    return std::string(it->text.substr(0, kMaxTextLength));
}
