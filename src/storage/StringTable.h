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
    IDS_SC_SIZE = 61184, IDS_SC_MOVE = 61185, IDS_SC_MINIMIZE = 61186,
    IDS_SC_MAXIMIZE = 61187, IDS_SC_RESTORE = 61202, IDS_SC_TASKLIST = 61203,
    IDS_MAINFRAME = 128, // the main frame's title string, the same text as IDS_APP_TITLE

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
    // Notices of the monitor, on stderr and in the status bar; "%1" stands for a number.
    IDS_MSG_DESCRIPTORS_SHORT = 20300, // "Running short of file descriptors (limit %1); ..."
};

// The text of `id`, as an 80-character buffer would hold it (at most 79 characters);
// empty for an unknown identifier.
std::string LoadString(unsigned id);
