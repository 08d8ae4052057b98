#pragma once

namespace gridmorph {

// The command numbers of the menus, toolbar and accelerators. They name the commands
// in the enable rules and the tests, and keep the numbers the settings and help
// context numbers have always used.
enum ECommand : int {
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT = 57607,
    ID_FILE_MRU_FILE1 = 57616,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_FINDER = 57667,
    ID_CONTEXT_HELP = 57669,
    ID_HELP = 57670,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
    ID_VIEW_LOCATORS = 32771,
    ID_ACTION_SETUP_TRANSFORM = 32772,
    ID_ACTION_APPLY_TRANSFORM = 32773,
    ID_VIEW_SHOW_TRANSFORMED = 32775,
    ID_ACTION_CROP = 32777,
    ID_FILE_SAVE_TRANSFORMED_AS = 32778,
    ID_ACTION_CONVERT_TO_8 = 32779,
    ID_ACTION_CONVERT_TO_24 = 32781,
    ID_VIEW_MAP_EDGES = 32782,
    ID_ACTION_EDIT_MAP_LOCATION = 32783,
    ID_ACTION_MOVE_LOCATORS = 32784,
    ID_ACTION_SETUP_FROM_WORLD_FILE = 32785,
    ID_FILE_CREATE_WORLD_FILE = 32786,
    ID_ACTION_GREY_SCALE = 32788,
    ID_ACTION_FIND_GRID = 32789,
    ID_VIEW_SNAP_TO_GRID = 32790,
};

}  // namespace gridmorph
