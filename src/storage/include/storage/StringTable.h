#pragma once
// Every user-visible text of the program, by its numeric identifier.

#include <string>

// Identifiers of the texts (the numbers are the program's own resource numbers).
enum StringId : unsigned {
    IDS_FILE = 134, IDS_PROCESS = 135, IDS_VIEW = 136, IDS_HELP = 137, IDS_SETTINGS = 140,
    IDS_MENU_EXIT = 129, IDS_MENU_KILL = 130, IDS_MENU_SHOW_TOOLBAR = 131,
    IDS_MENU_SHOW_STATUSBAR = 132, IDS_MENU_ABOUT = 133, IDS_MENU_DISABLE = 138,
    IDS_MENU_EVENTLOG_SWITCH = 139, IDS_MENU_MINIMIZE_AT_START = 145,
    IDS_MENU_DISABLED_LIST = 148, IDS_MENU_VIEW_EVENTLOG = 149, IDS_MENU_HELP = 168,
    IDS_TRAY_OPEN = 151,
    IDS_LOG_STARTED = 141, IDS_LOG_FINISHED = 142,
    IDS_STARTED_PROCESS = 143, IDS_FINISHED_PROCESS = 144,
    IDS_ASK_KILL = 146, IDS_ASK_DISABLE = 147, IDS_ASK_CLEAR_LOG = 150,
    // Status-bar prompt, then after "\n" the tooltip, keyed by command id.
    IDS_CMD_KILL = 32772, IDS_CMD_DISABLE = 32777, IDS_CMD_EVENTLOG_SWITCH = 32778,
    IDS_CMD_MINIMIZE_AT_START = 32779, IDS_CMD_DISABLED_LIST = 32781,
    IDS_CMD_VIEW_EVENTLOG = 32792, IDS_CMD_HELP = 32797,
    IDS_APP_TITLE = 57344, IDS_IDLE_MESSAGE = 57345,
    IDS_CMD_ABOUT = 57664, IDS_CMD_EXIT = 57665,
    IDS_CMD_VIEW_TOOLBAR = 59392, IDS_CMD_VIEW_STATUSBAR = 59393,
    IDS_INDICATOR_CAPS = 59137, IDS_INDICATOR_NUM = 59138, IDS_INDICATOR_SCRL = 59139,

    // Texts that the dialogs and the process list carry in their own layouts; numbered here
    // from 20000 so that every visible text is read through LoadString.
    IDS_DLG_DISABLED_LIST_TITLE = 20000, // "Disabled processes's list"
    IDS_DLG_CLOSE = 20001,               // "Close"
    IDS_DLG_DELETE = 20002,              // "Delete"
    IDS_DLG_EVENTLOG_TITLE = 20003,      // "Event Log"
    IDS_DLG_CLEAR = 20004,               // "Clear"
    IDS_DLG_SAVE = 20005,                // "Save"
    IDS_DLG_ABOUT_TITLE = 20006,         // "About Orvane"
    IDS_DLG_VISIT_WEB = 20007,           // "Visit us on the Web!"
    IDS_DLG_EMAIL_US = 20008,            // "Have any questions? Please EMAIL US!"
    // Column titles of the process list, in column order.
    IDS_COL_NAME = 20100,        // "Name"
    IDS_COL_PID = 20101,         // "PID"
    IDS_COL_START_TIME = 20102,  // "Start time"
    IDS_COL_FINISH_TIME = 20103, // "Finish time"
    IDS_COL_CPU = 20104,         // "CPU"
    IDS_COL_FILE = 20105,        // "File"
    // Failures on the program's files, each followed by the file's path and the reason.
    IDS_ERR_LOG_WRITE = 20200,     // "Event log entry not written:"
    IDS_ERR_SETTINGS_SAVE = 20201, // "Settings not saved:"
    IDS_ERR_LOG_ON = 20202,        // "The event log cannot be written:"
    IDS_ERR_LOG_READ = 20203,      // "The event log cannot be read:"
    IDS_ERR_LOG_SAVE = 20204,      // "The event log was not saved:"
    IDS_ERR_LOG_CLEAR = 20205,     // "The event log was not cleared:"
    IDS_ERR_LIST_ADD = 20206,      // "The name was not added to the disabled list:"
    IDS_ERR_LIST_DELETE = 20207,   // "The entry was not deleted from the disabled list:"
    IDS_ERR_LIST_READ = 20210,      // "The disabled list cannot be read (...):"
    IDS_ERR_SETTINGS_READ = 20211,  // "Settings not read (the defaults are used):"
    IDS_ERR_DATA_FOLDER = 20212,    // "The folder for the program's files cannot be created:"
    IDS_ERR_SIGNALS = 20213,        // "Signals to end the program cannot be caught (...):"
    // Reasons of the program's own, shown after a file's path where a system error would be.
    IDS_ERR_NAME_NOT_STORABLE = 20220, // "the list cannot hold a name containing "|" or a zero byte"
    IDS_ERR_LOG_BUSY = 20221,          // "the disk has not taken the log's earlier entries yet; ..."
    // Notices of the main window, on stderr and in the status bar.
    IDS_MSG_TRAY_GONE = 20230, // "The notification area has gone: the window is shown again"
    // Notices of the monitor, on stderr and in the status bar; "%1" stands for a number.
    IDS_MSG_DESCRIPTORS_SHORT = 20300, // "Running short of file descriptors (limit %1); ..."
    IDS_MSG_PRIVILEGE_GIVEN_UP = 20310, // "CAP_KILL could not be dropped after a kill; ..."
    IDS_MSG_PRIVILEGE_KEPT = 20311,     // "CAP_KILL could not be dropped after a kill; ..."
    IDS_MSG_PROCESSES_HIDDEN = 20312,   // "/proc hides other users' processes (hidepid); ..."
    IDS_MSG_EXEC_WATCH = 20313,         // "Not every folder is watched for disabled programs ..."
    IDS_MSG_LOG_DROPPED = 20320,       // "%1 event log entries were dropped: ..."
    IDS_MSG_LOG_LOST = 20321,          // "%1 event log entries were lost: ..."
    IDS_MSG_WATCH_SERVICE = 20330,     // "Watching through the service orvaned: ..."
    IDS_MSG_WATCH_POLLING = 20331,     // "The service orvaned does not answer: ..."
    IDS_MSG_SERVICE_KILL = 20332,      // "The service did not kill process %1:"
    // Find, in the main window's menu and in the find bar of the list and of the event log.
    IDS_MENU_FIND = 20400,           // "Find...\tCtrl+F"
    IDS_CMD_FIND = 20401,            // the Find command's status-bar prompt
    IDS_FIND_LABEL = 20402,          // "Find:"
    IDS_FIND_NEXT = 20403,           // "Next"
    IDS_FIND_PREVIOUS = 20404,       // "Previous"
    IDS_FIND_MATCH_CASE = 20405,     // "Match case"
    IDS_FIND_NOT_FOUND = 20406,      // "Not found"
    IDS_FIND_WRAPPED_TOP = 20407,    // "Continued from the top"
    IDS_FIND_WRAPPED_BOTTOM = 20408, // "Continued from the bottom"
    IDS_FIND_CLOSE = 20409,          // tooltip of the bar's close button
};

// The text of `id`, at most 79 characters (a longer text is cut there, so that no text can
// outgrow the places laid out for it); empty for an unknown identifier.
std::string LoadString(unsigned id);
