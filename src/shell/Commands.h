#pragma once
// The main frame's commands. Each is one row of CMainFrame::CommandTable(): the menu bar, the
// toolbar, the tray menu, the window's accelerators and the status-bar prompts are all built
// from those rows, and show the commands in the table's order.

#include "storage/StringTable.h"

#include <Qt>

class CMainFrame;

// The commands' numbers (the program's own). A command's status-bar prompt and, after a line
// break, its tooltip are the string of its own number: a command that has them is numbered by
// that string. The tray's own entries have none.
enum CommandId : unsigned {
    ID_PROCESS_KILL = IDS_CMD_KILL,
    ID_PROCESS_DISABLE = IDS_CMD_DISABLE,
    ID_SETTINGS_EVENTLOG = IDS_CMD_EVENTLOG_SWITCH,
    ID_SETTINGS_MINIMIZE = IDS_CMD_MINIMIZE_AT_START,
    ID_PROCESS_DISABLEDLIST = IDS_CMD_DISABLED_LIST,
    ID_PROCESS_EVENTLOG = IDS_CMD_VIEW_EVENTLOG,
    ID_HELP_MANUAL = IDS_CMD_HELP,
    ID_APP_ABOUT = IDS_CMD_ABOUT,
    ID_APP_EXIT = IDS_CMD_EXIT,
    ID_VIEW_TOOLBAR = IDS_CMD_VIEW_TOOLBAR,
    ID_VIEW_STATUS_BAR = IDS_CMD_VIEW_STATUSBAR,
    ID_PROCESS_FIND = IDS_CMD_FIND,
    ID_TRAY_EXIT = 32786,
    ID_TRAY_OPEN = 32787,
    ID_TRAY_DISABLEDLIST = 32788,
};

// The menus of the menu bar, in their order; None: a command the bar does not show.
enum class BarMenu : int { File, Process, View, Settings, Help, None };
inline constexpr int kBarMenuCount = static_cast<int>(BarMenu::None);
inline constexpr StringId kBarMenuTitles[kBarMenuCount] = {IDS_FILE, IDS_PROCESS, IDS_VIEW,
                                                           IDS_SETTINGS, IDS_HELP};

enum CommandFlag : unsigned {
    kCheckable = 1u << 0,     // carries a check mark
    kInTray = 1u << 1,        // an entry of the tray menu
    kTrayDefault = 1u << 2,   // the tray menu's default entry, in bold
    kGapInMenu = 1u << 3,     // a separator before it in its menu
    kGapOnToolBar = 1u << 4,  // a separator before its toolbar button
};

// No accelerator.
inline constexpr QKeyCombination kNoKey = QKeyCombination::fromCombined(0);

struct CommandFacts {
    CommandId id;
    // The entry's text. It keeps its "\t" part: menus show it in the shortcut column, which is
    // how "Del" is named without being an accelerator of the window.
    StringId text;
    // Window-wide, so that it acts while the list has the focus; kNoKey for none.
    QKeyCombination key;
    const char* menuImage;    // the 12 x 12 picture of its menu entries, or nullptr
    const char* toolBarImage; // the 16 x 15 picture of its toolbar button; nullptr: no button
    BarMenu menu;
    unsigned flags;           // CommandFlag
    void (CMainFrame::*handler)();
};
